#include "support/TestPattern.h"

#include <algorithm>
#include <cmath>

#include "media/FFmpeg.h"

namespace media::testpattern {

namespace {

int blockSize(int width, int height) {
    // Wide enough to survive scaling to a quarter and H.264 at low quality, small enough that
    // the whole code stays inside the centre third (the part a 3x zoom keeps).
    int b = std::max(4, width / 40);
    while (b > 2 && (b * kCodeBits > width / 3 + 1 || 2 * b > height / 3 + 1)) --b;
    return b;
}

}  // namespace

Point codeBlockCentre(int width, int height, int bit) {
    const int b = blockSize(width, height);
    const double left = width / 2.0 - kCodeBits * b / 2.0;
    // Most significant bit on the left.
    return {left + (kCodeBits - 1 - bit) * b + b / 2.0, height / 2.0 - b / 2.0};
}

void paintFrame(AVFrame& frame, int index) {
    const int w = frame.width, h = frame.height;
    const int b = blockSize(w, h);
    uint8_t* y = frame.data[0];
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            // A diagonal ramp drifting with time, in the limited range so that nothing clips.
            int v = 48 + ((i + 2 * j + 3 * index) % 128);
            y[j * frame.linesize[0] + i] = static_cast<uint8_t>(v);
        }
    // A box that travels across the lower half: makes neighbouring frames differ everywhere.
    const int box = std::max(4, h / 8);
    const int bx = (index * std::max(1, w / 60)) % std::max(1, w - box);
    for (int j = 3 * h / 4 - box / 2; j < 3 * h / 4 + box / 2 && j < h; ++j)
        for (int i = bx; i < bx + box && i < w; ++i) y[j * frame.linesize[0] + i] = 220;
    // A mid-grey band behind the code keeps the ramp's edges away from the blocks.
    const Point first = codeBlockCentre(w, h, kCodeBits - 1);
    const int x0 = static_cast<int>(first.x - b / 2.0) - b, y0 = static_cast<int>(first.y - b / 2.0) - b / 2;
    for (int j = std::max(0, y0); j < std::min(h, y0 + 2 * b); ++j)
        for (int i = std::max(0, x0); i < std::min(w, x0 + (kCodeBits + 2) * b); ++i)
            y[j * frame.linesize[0] + i] = 128;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        const Point c = codeBlockCentre(w, h, bit);
        const uint8_t v = (index >> bit) & 1 ? 235 : 16;
        for (int j = static_cast<int>(c.y - b / 2.0); j < static_cast<int>(c.y + b / 2.0); ++j)
            for (int i = static_cast<int>(c.x - b / 2.0); i < static_cast<int>(c.x + b / 2.0); ++i)
                if (i >= 0 && j >= 0 && i < w && j < h) y[j * frame.linesize[0] + i] = v;
    }
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int j = 0; j < ch; ++j)
        for (int i = 0; i < cw; ++i) {
            frame.data[1][j * frame.linesize[1] + i] = static_cast<uint8_t>(96 + (i * 64) / cw);
            frame.data[2][j * frame.linesize[2] + i] = static_cast<uint8_t>(96 + ((j * 64) / ch + index) % 64);
        }
}

int readFrameCode(const AVFrame& picture, int sourceWidth, int sourceHeight, const AffineTransform& t) {
    int code = 0;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        const Point p = t.apply(codeBlockCentre(sourceWidth, sourceHeight, bit));
        const int x = static_cast<int>(std::floor(p.x)), y = static_cast<int>(std::floor(p.y));
        if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return -1;
        if (picture.data[0][y * picture.linesize[0] + x] > 128) code |= 1 << bit;
    }
    return code;
}

bool makeMovie(const std::string& path, const MovieOptions& o, Error* error) {
    const MovieWriterSettings& s = o.writer;
    auto writer = MovieWriter::create(path, s, error);
    if (!writer) return false;
    av::Frame frame = av::makeFrame();
    frame->width = s.width;
    frame->height = s.height;
    frame->format = AV_PIX_FMT_YUV420P;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        if (error) *error = Error{AVERROR(ENOMEM), "Out of memory for a picture.", {}, {}};
        return false;
    }
    auto timeOf = [&](int i) {
        return i < static_cast<int>(o.frameTimes.size()) ? o.frameTimes[i]
                                                         : Time(i * s.timeBase.value, s.timeBase.timescale);
    };
    const Time start = timeOf(0);
    int64_t samplesWritten = 0;
    std::vector<int16_t> pcm;
    for (int i = 0; i < o.frameCount; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) return false;
        paintFrame(*frame, i);
        if (!writer->writeVideoFrame(*frame, timeOf(i))) break;
        if (s.audioCodec == AudioCodec::None) continue;
        // Sound up to the end of this picture, so the two tracks stay interleaved.
        const Time end =
            i + 1 < o.frameCount ? timeOf(i + 1) : timeOf(i) + Time(s.timeBase.value, s.timeBase.timescale);
        const int64_t target = static_cast<int64_t>(std::llround((end - start).seconds() * s.sampleRate));
        if (target <= samplesWritten) continue;
        const int n = static_cast<int>(target - samplesWritten);
        pcm.resize(static_cast<size_t>(n) * s.channels);
        for (int k = 0; k < n; ++k) {
            const double ph = 2 * M_PI * o.toneHz * static_cast<double>(samplesWritten + k) / s.sampleRate;
            const int16_t v = static_cast<int16_t>(std::lround(8000 * std::sin(ph)));
            for (int c = 0; c < s.channels; ++c) pcm[static_cast<size_t>(k) * s.channels + c] = v;
        }
        if (!writer->writeAudioSamples(pcm.data(), n)) break;
        samplesWritten = target;
    }
    if (!writer->finish()) {
        if (error) *error = writer->error();
        return false;
    }
    return true;
}

}  // namespace media::testpattern
