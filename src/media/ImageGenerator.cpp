#include "media/ImageGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/Asset.h"
#include "media/FFmpeg.h"
#include "media/MediaInternal.h"
#include "media/PictureConversion.h"
#include "media/VideoDecoder.h"

namespace media {

namespace {

// The display matrix taken to the nearest quarter turn, possibly mirrored: entries -1, 0, 1.
struct QuarterTurn {
    int a = 1, b = 0, c = 0, d = 1;
    bool swapsAxes() const { return a == 0; }
};

QuarterTurn nearestQuarterTurn(const AffineTransform& t) {
    auto sign = [](float v) { return v < 0 ? -1 : 1; };
    QuarterTurn q;
    if (std::fabs(t.a) + std::fabs(t.d) >= std::fabs(t.b) + std::fabs(t.c)) {
        q = {sign(t.a), 0, 0, sign(t.d)};
    } else {
        q = {0, sign(t.b), sign(t.c), 0};
    }
    return q;
}

Error noPicture(const std::string& reason) {
    return Error{AVERROR_INVALIDDATA, "No picture could be made of the movie.", reason,
                 "The movie may be damaged. Try another movie."};
}

}  // namespace

RgbImage ImageGenerator::copyFirstImage(Error* error) const {
    auto bail = [&](const Error& e) {
        if (error) *error = e;
        return RgbImage{};
    };
    av::InputContext in;
    if (Error e = internal::openInput(path_, in)) return bail(e);
    const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return bail(noPicture("The movie has no video track."));
    AVStream* st = in->streams[index];
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (static_cast<int>(i) != index) in->streams[i]->discard = AVDISCARD_ALL;

    VideoDecoder decoder;
    const int r = decoder.open(st, {.count = 0, .slicesOnly = true});
    if (r == AVERROR_DECODER_NOT_FOUND)
        return bail(noPicture("Its pictures are stored in a format that cannot be decoded here."));
    if (r < 0) return bail(errorFromAv(r, "No picture could be made of the movie.", "The movie may be damaged."));

    av::Packet pkt = av::makePacket();
    av::Frame frame = av::makeFrame();
    int budget = 600;
    const bool got = decoder.decodeNext(in.get(), pkt.get(), frame.get(), &budget) == 0;
    if (!got) return bail(noPicture("None of its pictures could be decoded."));

    QuarterTurn q;
    if (appliesTransform_) {
        if (auto t = internal::streamDisplayMatrix(st)) q = nearestQuarterTurn(*t);
    }
    const int srcW = frame->width, srcH = frame->height;
    // Non-square pixels are shown stretched; the picture is made at the shown proportions.
    const AVRational sar = av_guess_sample_aspect_ratio(in.get(), st, frame.get());
    const Size display = displaySizeFor({srcW, srcH}, sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0);
    const int dispW = std::max(1, display.width), dispH = srcH;
    const int shownW = q.swapsAxes() ? dispH : dispW, shownH = q.swapsAxes() ? dispW : dispH;
    double scale = 1;
    if (maximumSize_.width > 0 && maximumSize_.height > 0)
        scale = std::min(
            {1.0, maximumSize_.width / static_cast<double>(shownW), maximumSize_.height / static_cast<double>(shownH)});
    else if (maximumSize_.width > 0)
        scale = std::min(1.0, maximumSize_.width / static_cast<double>(shownW));
    else if (maximumSize_.height > 0)
        scale = std::min(1.0, maximumSize_.height / static_cast<double>(shownH));
    const int outShownW = std::max(1, static_cast<int>(std::lround(shownW * scale)));
    const int outShownH = std::max(1, static_cast<int>(std::lround(shownH * scale)));
    const int scaledW = q.swapsAxes() ? outShownH : outShownW, scaledH = q.swapsAxes() ? outShownW : outShownH;

    av::Sws sws(sws_getContext(srcW, srcH, static_cast<AVPixelFormat>(frame->format), scaledW, scaledH,
                               AV_PIX_FMT_RGB24, scale < 1 ? SWS_AREA : SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!sws) return bail(noPicture("Its picture format cannot be converted."));
    internal::matchSourceColours(sws.get(), *frame, true);

    // swscale's SIMD converters write whole blocks of pixels, past the end of a row whose width
    // is not a multiple of the block (a 58-pixel-wide picture overran a tight buffer and broke
    // the heap): it draws into a frame FFmpeg pads, and the rows are copied out.
    av::Frame rgb = av::makeFrame();
    if (!rgb) return bail(noPicture("Out of memory."));
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = scaledW;
    rgb->height = scaledH;
    if (av_frame_get_buffer(rgb.get(), 64) < 0) return bail(noPicture("Out of memory."));
    sws_scale(sws.get(), frame->data, frame->linesize, 0, srcH, rgb->data, rgb->linesize);
    RgbImage scaled;
    scaled.width = scaledW;
    scaled.height = scaledH;
    scaled.stride = scaledW * 3;
    scaled.bytes.resize(static_cast<size_t>(scaled.stride) * scaledH);
    for (int y = 0; y < scaledH; ++y)
        std::memcpy(scaled.bytes.data() + static_cast<size_t>(y) * scaled.stride,
                    rgb->data[0] + static_cast<ptrdiff_t>(y) * rgb->linesize[0], static_cast<size_t>(scaled.stride));
    if (q.a == 1 && q.d == 1) return scaled;

    // Turn the pixels. A pixel centre (x, y) goes to (a x + c y, b x + d y); the picture is then
    // moved back into the positive quarter.
    RgbImage out;
    out.width = outShownW;
    out.height = outShownH;
    out.stride = outShownW * 3;
    out.bytes.assign(static_cast<size_t>(out.stride) * outShownH, 0);
    const int offX = (q.a < 0 || q.c < 0) ? out.width : 0;
    const int offY = (q.b < 0 || q.d < 0) ? out.height : 0;
    for (int y = 0; y < scaledH; ++y) {
        const uint8_t* row = scaled.bytes.data() + static_cast<size_t>(y) * scaled.stride;
        for (int x = 0; x < scaledW; ++x) {
            // Using pixel centres: the mapped centre minus a half gives the destination index.
            const int X = offX + q.a * (2 * x + 1) / 2 + q.c * (2 * y + 1) / 2 - ((q.a < 0 || q.c < 0) ? 1 : 0);
            const int Y = offY + q.b * (2 * x + 1) / 2 + q.d * (2 * y + 1) / 2 - ((q.b < 0 || q.d < 0) ? 1 : 0);
            uint8_t* p = out.bytes.data() + static_cast<size_t>(Y) * out.stride + 3 * X;
            p[0] = row[3 * x];
            p[1] = row[3 * x + 1];
            p[2] = row[3 * x + 2];
        }
    }
    return out;
}

}  // namespace media
