// A movie file played as a camera: pictures come out in real time at the movie's own pace and the
// movie starts over at its end, so a recording from it can last as long as wanted.

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <filesystem>

extern "C" {
#include <libavutil/display.h>
}

#include "media/FFmpeg.h"
#include "media/VideoDecoder.h"
#include "media/MediaInternal.h"
#include "media/capture/DeviceBackends.h"

namespace media {

namespace {

// The parts of a movie a file camera needs, opened once per stream.
struct Decoder {
    av::InputContext input;
    VideoDecoder codec;
    int stream = -1;
    AVRational timeBase{1, 1};
    double frameRate = 30;
    Size size;
    int rotation = 0;  // clockwise degrees its display matrix turns the pictures

    bool open(const std::string& path, Error* error) {
        AVFormatContext* ctx = nullptr;
        if (Error e = internal::openLocalFile(path, &ctx)) {
            if (error)
                *error =
                    Error{e.code, "The file camera cannot open " + path + ".", e.failureReason, "Choose a movie file."};
            return false;
        }
        input.reset(ctx);
        int r;
        if ((r = avformat_find_stream_info(ctx, nullptr)) < 0) {
            if (error) *error = errorFromAv(r, "The file camera cannot read " + path + ".", "");
            return false;
        }
        stream = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        AVStream* st = stream >= 0 ? ctx->streams[stream] : nullptr;
        // One thread: a camera stand-in must not compete with the encoder for cores.
        r = st ? codec.open(st, {.count = 1}) : stream;
        if (r == AVERROR_DECODER_NOT_FOUND || !st) {
            if (error) *error = errorFromAv(r, path + " has no picture the file camera can play.", "");
            return false;
        }
        if (r < 0) {
            if (error) *error = errorFromAv(r, "The file camera cannot decode " + path + ".", "");
            return false;
        }
        timeBase = st->time_base;
        AVRational fr = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (fr.num > 0 && fr.den > 0) frameRate = av_q2d(fr);
        if (frameRate <= 0 || frameRate > 240) frameRate = 30;
        size = {st->codecpar->width, st->codecpar->height};
        if (const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
            const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(m));
            if (std::isfinite(counterClockwise))
                rotation = ((int(std::lround(-counterClockwise / 90)) % 4 + 4) % 4) * 90;
        }
        if (size.empty()) {
            if (error) *error = Error{AVERROR_INVALIDDATA, path + " has a picture without a size.", "", ""};
            return false;
        }
        return true;
    }
};

class FileCameraSource : public VideoSource {
public:
    explicit FileCameraSource(std::unique_ptr<Decoder> d) : d_(std::move(d)) {
        packet_ = av::makePacket();
        startNs_ = monotonicNowNs();
    }

    bool read(VideoSample& out, Error* error) override {
        for (int attempts = 0; attempts < 1000; ++attempts) {
            av::Frame f = av::makeFrame();
            int r = d_->codec.decodeNext(d_->input.get(), packet_.get(), f.get());
            if (r == 0) {
                int64_t pts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
                double sec = pts != AV_NOPTS_VALUE ? pts * av_q2d(d_->timeBase) : frames_ / d_->frameRate;
                if (firstPts_ < 0) firstPts_ = sec;
                double local = sec - firstPts_;
                if (local <= lastLocal_) local = lastLocal_ + 1.0 / d_->frameRate;  // broken or repeated stamps
                lastLocal_ = local;
                int64_t due = startNs_ + int64_t((loopOffset_ + local) * 1e9);
                if (!sleepUntil(due)) return false;
                out.frame = shareFrame(f.release());
                out.timeNs = due;
                out.sequence = frames_++;
                return true;
            }
            if (r != AVERROR_EOF) {
                if (error) *error = errorFromAv(r, "The file camera's movie cannot be decoded.", "");
                return false;
            }
            // Start over one frame after the last picture, keeping the clock running.
            if (frames_ == 0) {
                if (error) *error = Error{AVERROR_INVALIDDATA, "The movie has no picture to play.", "", ""};
                return false;
            }
            loopOffset_ += lastLocal_ + 1.0 / d_->frameRate;
            lastLocal_ = -1;
            firstPts_ = -1;
            d_->codec.restart();
            av_seek_frame(d_->input.get(), d_->stream, INT64_MIN, AVSEEK_FLAG_BACKWARD);
        }
        if (error) *error = Error{AVERROR_INVALIDDATA, "The file camera's movie yields no pictures.", "", ""};
        return false;
    }

    void interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        cond_.notify_all();
    }
    Size size() const override { return d_->size; }
    double frameRate() const override { return d_->frameRate; }

private:
    bool sleepUntil(int64_t ns) {
        std::unique_lock lock(mutex_);
        cond_.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns)),
                         [&] { return interrupted_; });
        return !interrupted_;
    }

    std::unique_ptr<Decoder> d_;
    av::Packet packet_;
    int64_t startNs_;
    int64_t frames_ = 0;
    double firstPts_ = -1;
    double lastLocal_ = -1;
    double loopOffset_ = 0;
    std::mutex mutex_;
    std::condition_variable cond_;
    bool interrupted_ = false;
};

class FileCamera : public CaptureDevice {
public:
    FileCamera(const std::string& path, Size size, double fps, int rotation)
        : CaptureDevice("file:" + path, "File Camera (" + std::filesystem::path(path).filename().string() + ")",
                        MediaType::Video, true),
          path_(path),
          size_(size),
          fps_(fps),
          rotation_(rotation) {}

    bool isConnected() const override { return std::filesystem::exists(path_) && CaptureDevice::isConnected(); }
    std::vector<VideoFormat> formats() const override { return {{"file", size_, {fps_}}}; }
    // A movie shot on a phone is stored as its sensor delivered it and turned by its display
    // matrix: the file camera is mounted as that movie says.
    int mountingRotation() const override { return rotation_; }

    std::unique_ptr<VideoSource> openVideo(Size, double, Error* error) override {
        auto d = std::make_unique<Decoder>();
        if (!d->open(path_, error)) return nullptr;
        return std::make_unique<FileCameraSource>(std::move(d));
    }

private:
    std::string path_;
    Size size_;
    double fps_;
    int rotation_;
};

}  // namespace

namespace backends {
std::shared_ptr<CaptureDevice> makeFileCamera(const std::string& path, Error* error) {
    Decoder probe;
    if (!probe.open(path, error)) return nullptr;
    return std::make_shared<FileCamera>(path, probe.size, probe.frameRate, probe.rotation);
}
}  // namespace backends

}  // namespace media
