// The built-in camera and microphone. They run on the same clock and pacing as real devices, so
// everything downstream (preview, zoom, recording, crash safety) can be exercised without hardware:
// the picture moves, shows a running clock and frame counter (dropped or repeated frames show as
// jumps), a centre mark (zoom must stay centred) and a fine grid (jitter and scaling show as
// shimmer); the sound is a steady tone with a click on every whole second (A/V offset is audible
// and measurable against the clock).

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <thread>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

#include "media/FFmpeg.h"
#include "media/capture/DeviceBackends.h"
#include "media/capture/VirtualDevices.h"

namespace media {

namespace {

// Sleeps until an absolute monotonic time unless interrupted first.
class Pacer {
public:
    bool sleepUntil(int64_t ns) {
        std::unique_lock lock(mutex_);
        auto deadline = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
        cond_.wait_until(lock, deadline, [&] { return interrupted_; });
        return !interrupted_;
    }
    void interrupt() {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        cond_.notify_all();
    }
    bool interrupted() {
        std::lock_guard lock(mutex_);
        return interrupted_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool interrupted_ = false;
};

// 5x7 glyphs for the clock and counter.
const char* glyph(char c) {
    switch (c) {
    case '0': return " ### #   ##  ### # ###  ##   # ### ";
    case '1': return "  #   ##    #    #    #    #   ### ";
    case '2': return " ### #   #    #   #   #   #   #####";
    case '3': return "#####   #   #     #     ##   # ### ";
    case '4': return "   #   ##  # # #  # #####   #    # ";
    case '5': return "######    ####     #    ##   # ### ";
    case '6': return "  ##  #   #    #### #   ##   # ### ";
    case '7': return "#####    #   #   #   #    #    #   ";
    case '8': return " ### #   ##   # ### #   ##   # ### ";
    case '9': return " ### #   ##   # ####    #   #  ##  ";
    case ':': return "      ##   ##        ##   ##       ";
    case '.': return "                          ##   ##  ";
    default: return nullptr;
    }
}

struct Yuv {
    uint8_t y, u, v;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Test picture

struct TestPattern::Planes {
    std::vector<uint8_t> y, u, v;
};

TestPattern::TestPattern(Size size) : size_{size.width & ~1, size.height & ~1} {
    normal_ = std::make_unique<Planes>();
    bright_ = std::make_unique<Planes>();
    drawBackground(*normal_, false);
    drawBackground(*bright_, true);
    pool_ = av_buffer_pool_init(size_t(size_.width) * size_.height * 3 / 2 + 64, nullptr);
}

TestPattern::~TestPattern() {
    av_buffer_pool_uninit(&pool_);
}

void TestPattern::drawBackground(Planes& p, bool torch) {
    const int w = size_.width, h = size_.height;
    p.y.assign(size_t(w) * h, 0);
    p.u.assign(size_t(w / 2) * (h / 2), 0);
    p.v.assign(size_t(w / 2) * (h / 2), 0);
    // A fine grid fine enough that a sub-pixel shake of the zoomed picture is visible.
    const int fine = std::max(8, w / 80);
    const int coarse = fine * 5;
    const int cx = w / 2, cy = h / 2;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int dx = x - cx, dy = y - cy;
            uint8_t v = 48 + uint8_t((y * 40) / h);  // a gentle vertical gradient
            if (dx % fine == 0 || dy % fine == 0) v = 90;
            if (dx % coarse == 0 || dy % coarse == 0) v = 140;
            p.y[size_t(y) * w + x] = v;
        }
    }
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            p.u[size_t(y) * (w / 2) + x] = uint8_t(128 + (x * 30) / (w / 2) - 15);
            p.v[size_t(y) * (w / 2) + x] = 128;
        }
    // Centre mark: a cross and a ring, in white on a black halo so it reads on any content.
    const int arm = std::max(10, h / 12), ring = std::max(6, h / 24);
    auto put = [&](int x, int y, uint8_t v) {
        if (x >= 0 && y >= 0 && x < w && y < h) p.y[size_t(y) * w + x] = v;
    };
    for (int t = -arm; t <= arm; ++t)
        for (int k = -2; k <= 2; ++k) {
            uint8_t v = (k == 0 || (std::abs(k) == 1 && h >= 480)) ? 235 : 16;
            put(cx + t, cy + k, v);
            put(cx + k, cy + t, v);
        }
    for (int a = 0; a < 720; ++a) {
        double r = a * M_PI / 360;
        put(cx + int(std::lround(ring * std::cos(r))), cy + int(std::lround(ring * std::sin(r))), 235);
    }
    if (torch)
        for (auto& v : p.y) v = uint8_t(std::min(235, v * 3 / 2 + 50));
}

void TestPattern::fillRect(AVFrame* f, int x0, int y0, int rw, int rh, uint8_t Y, uint8_t U, uint8_t V) {
    const int w = size_.width, h = size_.height;
    int x1 = std::min(w, x0 + rw), y1 = std::min(h, y0 + rh);
    x0 = std::max(0, x0) & ~1;
    y0 = std::max(0, y0) & ~1;
    if (x1 <= x0 || y1 <= y0) return;
    for (int y = y0; y < y1; ++y) std::memset(f->data[0] + size_t(y) * f->linesize[0] + x0, Y, x1 - x0);
    for (int y = y0 / 2; y < (y1 + 1) / 2; ++y) {
        std::memset(f->data[1] + size_t(y) * f->linesize[1] + x0 / 2, U, (x1 - x0 + 1) / 2);
        std::memset(f->data[2] + size_t(y) * f->linesize[2] + x0 / 2, V, (x1 - x0 + 1) / 2);
    }
}

void TestPattern::drawText(AVFrame* f, int x, int y, int scale, const std::string& text) {
    // A dark plate keeps the digits legible over the moving shapes.
    fillRect(f, x - scale * 2, y - scale * 2, int(text.size()) * 6 * scale + scale * 3, 11 * scale, 16, 128, 128);
    for (char c : text) {
        const char* g = glyph(c);
        if (g) {
            for (int r = 0; r < 7; ++r)
                for (int col = 0; col < 5; ++col)
                    if (g[r * 5 + col] == '#') fillRect(f, x + col * scale, y + r * scale, scale, scale, 235, 128, 128);
        }
        x += 6 * scale;
    }
}

AVFrame* TestPattern::render(int64_t frameIndex, double fps, bool torch) {
    const int w = size_.width, h = size_.height;
    AVFrame* f = av_frame_alloc();
    if (!f) return nullptr;
    f->buf[0] = av_buffer_pool_get(pool_);
    if (!f->buf[0]) {
        av_frame_free(&f);
        return nullptr;
    }
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    f->data[0] = f->buf[0]->data;
    f->data[1] = f->data[0] + size_t(w) * h;
    f->data[2] = f->data[1] + size_t(w / 2) * (h / 2);
    f->linesize[0] = w;
    f->linesize[1] = f->linesize[2] = w / 2;
    const Planes& bg = torch ? *bright_ : *normal_;
    std::memcpy(f->data[0], bg.y.data(), bg.y.size());
    std::memcpy(f->data[1], bg.u.data(), bg.u.size());
    std::memcpy(f->data[2], bg.v.data(), bg.v.size());

    const double t = frameIndex / fps;
    // A bar sweeping across every two seconds and a square orbiting the centre every four: motion
    // in both axes at known speeds.
    const int barW = std::max(4, w / 64);
    int barX = int(std::fmod(t / 2.0, 1.0) * (w - barW));
    fillRect(f, barX, 0, barW, h, torch ? 235 : 200, 90, 200);
    const int sq = std::max(8, h / 8);
    double ang = t * 2 * M_PI / 4.0;
    int sx = int(w / 2 + std::cos(ang) * h * 0.3) - sq / 2;
    int sy = int(h / 2 + std::sin(ang) * h * 0.3) - sq / 2;
    fillRect(f, sx, sy, sq, sq, torch ? 220 : 170, 60, 80);

    const int scale = std::max(1, h / 120);
    int64_t whole = int64_t(t);
    int sub = int(frameIndex - int64_t(std::llround(whole * fps)));
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%02d", int(whole / 3600), int(whole / 60 % 60), int(whole % 60),
                  std::max(0, sub));
    drawText(f, scale * 4, scale * 4, scale, clock);
    char counter[32];
    std::snprintf(counter, sizeof counter, "%lld", static_cast<long long>(frameIndex));
    drawText(f, scale * 4, h - scale * 11, scale, counter);
    return f;
}

// ---------------------------------------------------------------------------------------------
// Virtual camera

namespace {

// The modes of a typical USB webcam: raw pictures up to 640x480 (the bus carries no more at 30
// fps), MJPEG up to 1920x1080.
constexpr Size kLargestRaw{640, 480};

const std::vector<VideoFormat>& virtualFormats() {
    static const std::vector<VideoFormat> f = [] {
        std::vector<VideoFormat> v;
        for (Size s : {Size{640, 480}, Size{640, 360}, Size{480, 360}, Size{352, 288}, Size{320, 240}, Size{192, 144}})
            v.push_back({"yuv420p", s, {30.0}});
        for (Size s : {Size{1920, 1080}, Size{1280, 720}, Size{960, 540}, Size{640, 480}, Size{640, 360}})
            v.push_back({"mjpeg", s, {30.0}});
        return v;
    }();
    return f;
}

// The way a webcam's MJPEG mode delivers pictures: its own hardware makes a JPEG of each (4:2:2,
// full range, as UVC cameras send it) and queues a few for the driver; the computer decodes them.
// Here a thread of its own plays the camera's hardware, so the reader does only what it does
// with a real camera: take the next JPEG and decode it. The hardware thread's processor time is
// counted apart (virtualCameraEncodeCpuNs), so a measurement can leave out what a real camera
// would not cost the computer.
std::atomic<int64_t>& jpegCpuNs() {
    static std::atomic<int64_t> ns{0};
    return ns;
}

int64_t threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

class VirtualMjpegSource : public VideoSource {
public:
    static constexpr int kQueuedBuffers = 4;

    VirtualMjpegSource(std::shared_ptr<CaptureDevice> device, Size size, double fps)
        : device_(std::move(device)), pattern_(size), fps_(fps) {
        periodNs_ = int64_t(std::llround(1e9 / fps_));
    }
    ~VirtualMjpegSource() override {
        interrupt();
        if (hardware_.joinable()) hardware_.join();
    }

    bool open(Error* error) {
        const Size size = pattern_.size();
        const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!enc || !dec) {
            if (error) *error = Error{AVERROR_ENCODER_NOT_FOUND, "This FFmpeg has no MJPEG codec.", "", ""};
            return false;
        }
        encoder_.reset(avcodec_alloc_context3(enc));
        encoder_->width = size.width;
        encoder_->height = size.height;
        encoder_->pix_fmt = AV_PIX_FMT_YUVJ422P;
        encoder_->time_base = AVRational{1, int(std::lround(fps_))};
        encoder_->flags |= AV_CODEC_FLAG_QSCALE;
        encoder_->global_quality = FF_QP2LAMBDA * 4;
        encoder_->thread_count = 1;
        decoder_.reset(avcodec_alloc_context3(dec));
        decoder_->thread_count = 1;
        int r;
        if ((r = avcodec_open2(encoder_.get(), enc, nullptr)) < 0 ||
            (r = avcodec_open2(decoder_.get(), dec, nullptr)) < 0) {
            if (error) *error = errorFromAv(r, "The test picture's MJPEG mode cannot start.", "");
            return false;
        }
        sws_.reset(sws_getContext(size.width, size.height, AV_PIX_FMT_YUV420P, size.width, size.height,
                                  AV_PIX_FMT_YUVJ422P, SWS_BILINEAR, nullptr, nullptr, nullptr));
        jpegInput_ = av::makeFrame();
        jpegInput_->format = AV_PIX_FMT_YUVJ422P;
        jpegInput_->width = size.width;
        jpegInput_->height = size.height;
        if (!sws_ || av_frame_get_buffer(jpegInput_.get(), 0) < 0) {
            if (error) *error = Error{ENOMEM, "Out of memory for the test picture.", "", ""};
            return false;
        }
        startNs_ = monotonicNowNs();
        hardware_ = std::thread([this] { makePictures(); });
        return true;
    }

    bool read(VideoSample& out, Error* error) override {
        Queued next;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_) return false;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        AVFrame* f = av_frame_alloc();
        if (!f || avcodec_send_packet(decoder_.get(), next.packet.get()) < 0 ||
            avcodec_receive_frame(decoder_.get(), f) < 0) {
            av_frame_free(&f);
            if (error) *error = Error{AVERROR_INVALIDDATA, "The test picture's JPEG cannot be decoded.", "", ""};
            return false;
        }
        out.frame = shareFrame(f);
        out.timeNs = next.timeNs;
        out.sequence = next.index;
        return true;
    }
    void interrupt() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        ready_.notify_all();
        pacer_.interrupt();
    }
    Size size() const override { return pattern_.size(); }
    double frameRate() const override { return fps_; }

private:
    struct Queued {
        av::Packet packet;
        int64_t timeNs = 0, index = 0;
    };

    // The camera's hardware: a picture at every period, encoded and queued; a full queue loses its
    // oldest picture, as a driver's does when nobody reads.
    void makePictures() {
        int64_t index = 0;
        while (pacer_.sleepUntil(startNs_ + index * periodNs_)) {
            const int64_t cpu0 = threadCpuNs();
            // Fallen far behind (a starved machine): the picture of now, as the raw mode does.
            const int64_t now = monotonicNowNs();
            if (now - (startNs_ + index * periodNs_) > kQueuedBuffers * periodNs_) index = (now - startNs_) / periodNs_;
            const bool torch = device_->torchMode() == TorchMode::On;
            AVFrame* raw = pattern_.render(index, fps_, torch);
            if (!raw) {
                // Out of memory: the reader is told the camera stopped rather than left waiting.
                interrupt();
                break;
            }
            sws_scale(sws_.get(), raw->data, raw->linesize, 0, raw->height, jpegInput_->data, jpegInput_->linesize);
            av_frame_free(&raw);
            jpegInput_->pts = index;
            av::Packet packet = av::makePacket();
            const bool encoded = avcodec_send_frame(encoder_.get(), jpegInput_.get()) >= 0 &&
                                 avcodec_receive_packet(encoder_.get(), packet.get()) >= 0;
            jpegCpuNs().fetch_add(threadCpuNs() - cpu0);
            if (encoded) {
                std::lock_guard lock(mutex_);
                queue_.push_back({std::move(packet), startNs_ + index * periodNs_, index});
                if (int(queue_.size()) > kQueuedBuffers) queue_.pop_front();
            }
            ready_.notify_one();
            ++index;
        }
    }

    std::shared_ptr<CaptureDevice> device_;
    TestPattern pattern_;  // the hardware thread's
    double fps_;
    int64_t periodNs_;
    int64_t startNs_ = 0;
    av::CodecContext encoder_;  // the hardware thread's
    av::CodecContext decoder_;  // the reader's
    av::Sws sws_;
    av::Frame jpegInput_;
    Pacer pacer_;
    // Between the hardware thread and the reader.
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Queued> queue_;
    bool stop_ = false;
    std::thread hardware_;
};

class VirtualCameraSource : public VideoSource {
public:
    static constexpr int kQueuedBuffers = 4;

    VirtualCameraSource(std::shared_ptr<CaptureDevice> device, Size size, double fps)
        : device_(std::move(device)), pattern_(size), fps_(fps) {
        periodNs_ = int64_t(std::llround(1e9 / fps_));
        startNs_ = monotonicNowNs();
    }

    bool read(VideoSample& out, Error* error) override {
        int64_t due = startNs_ + index_ * periodNs_;
        if (!pacer_.sleepUntil(due)) return false;
        // Like a camera driver with a few buffers queued, a reader held up briefly still gets
        // every picture (stamped when it was taken); one that fell further behind gets the
        // picture of now, and the ones it missed are dropped, visible as a jump in the counter
        // and the sequence.
        int64_t now = monotonicNowNs();
        if (now - due > kQueuedBuffers * periodNs_) {
            index_ = (now - startNs_) / periodNs_;
            due = startNs_ + index_ * periodNs_;
        }
        bool torch = device_->torchMode() == TorchMode::On;
        AVFrame* f = pattern_.render(index_, fps_, torch);
        if (!f) {
            if (error) *error = Error{ENOMEM, "Out of memory making a picture.", "", ""};
            return false;
        }
        out.frame = shareFrame(f);
        out.timeNs = due;
        out.sequence = index_;
        ++index_;
        return true;
    }
    void interrupt() override { pacer_.interrupt(); }
    Size size() const override { return pattern_.size(); }
    double frameRate() const override { return fps_; }

private:
    std::shared_ptr<CaptureDevice> device_;
    TestPattern pattern_;
    double fps_;
    int64_t periodNs_;
    int64_t startNs_;
    int64_t index_ = 0;
    Pacer pacer_;
};

class VirtualCamera : public CaptureDevice {
public:
    VirtualCamera() : CaptureDevice(kVirtualCameraID, "Test Picture", MediaType::Video, true) {}
    std::vector<VideoFormat> formats() const override { return virtualFormats(); }
    bool hasTorch() const override { return true; }
    // "Auto" would need a light meter; the picture is always lit well enough not to need it.
    bool isTorchModeSupported(TorchMode m) const override { return m == TorchMode::Off || m == TorchMode::On; }
    bool isFocusModeSupported(FocusMode) const override { return true; }
    bool isFocusPointOfInterestSupported() const override { return true; }
    bool isExposureModeSupported(ExposureMode m) const override { return m != ExposureMode::AutoExpose; }
    bool isExposurePointOfInterestSupported() const override { return true; }

    std::unique_ptr<VideoSource> openVideo(Size want, double frameRate, Error* error) override {
        if (want.empty()) want = {1280, 720};
        if (want.width > 4096 || want.height > 4096 || want.width < 16 || want.height < 16) {
            if (error) *error = Error{EINVAL, "The virtual camera cannot make that size.", "", ""};
            return nullptr;
        }
        const double fps = frameRate > 0 ? frameRate : 30.0;
        if (want.width > kLargestRaw.width || want.height > kLargestRaw.height) {
            auto source = std::make_unique<VirtualMjpegSource>(shared_from_this(), want, fps);
            if (!source->open(error)) return nullptr;
            return source;
        }
        return std::make_unique<VirtualCameraSource>(shared_from_this(), want, fps);
    }
};

// ---------------------------------------------------------------------------------------------
// Virtual microphone

class VirtualMicrophoneSource : public AudioSource {
public:
    static constexpr int kRate = 48000;
    static constexpr int kChunk = 960;  // 20 ms, as a sound server typically delivers

    VirtualMicrophoneSource() { startNs_ = monotonicNowNs(); }

    bool read(AudioSample& out, Error*) override {
        int64_t firstNs = startNs_ + position_ * 1000000000LL / kRate;
        int64_t readyNs = startNs_ + (position_ + kChunk) * 1000000000LL / kRate;
        if (!pacer_.sleepUntil(readyNs)) return false;
        out.sampleRate = kRate;
        out.channels = 1;
        out.timeNs = firstNs;
        out.samples.resize(kChunk);
        VirtualMicrophoneTone::fill(out.samples.data(), kChunk, position_, kRate);
        position_ += kChunk;
        return true;
    }
    void interrupt() override { pacer_.interrupt(); }
    int sampleRate() const override { return kRate; }
    int channels() const override { return 1; }

private:
    int64_t startNs_;
    int64_t position_ = 0;
    Pacer pacer_;
};

class VirtualMicrophone : public CaptureDevice {
public:
    VirtualMicrophone() : CaptureDevice(kVirtualMicrophoneID, "Test Tone", MediaType::Audio, true) {}
    std::unique_ptr<AudioSource> openAudio(Error*) override { return std::make_unique<VirtualMicrophoneSource>(); }
};

}  // namespace

void VirtualMicrophoneTone::fill(int16_t* out, int frames, int64_t firstSample, int rate) {
    const int clickLen = rate / 200;  // 5 ms
    for (int i = 0; i < frames; ++i) {
        int64_t n = firstSample + i;
        double s = 0.25 * std::sin(2 * M_PI * kToneHz * double(n % rate) / rate);
        int64_t inSecond = n % rate;
        if (inSecond < clickLen) {
            // A decaying full-scale square burst: unmistakable on a waveform, and its onset marks
            // the whole second exactly.
            double env = 1.0 - double(inSecond) / clickLen;
            s = ((inSecond / 4) % 2 ? 0.9 : -0.9) * env;
        }
        out[i] = int16_t(std::lround(s * 32767));
    }
}

int64_t virtualCameraEncodeCpuNs() {
    return jpegCpuNs().load();
}

namespace backends {
std::shared_ptr<CaptureDevice> makeVirtualCamera() {
    return std::make_shared<VirtualCamera>();
}
std::shared_ptr<CaptureDevice> makeVirtualMicrophone() {
    return std::make_shared<VirtualMicrophone>();
}
}  // namespace backends

}  // namespace media
