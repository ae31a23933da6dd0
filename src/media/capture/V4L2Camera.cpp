// Real cameras: V4L2 video capture nodes. Formats are read with the V4L2 ioctls; pictures come
// through libavdevice's v4l2 input and are decoded (raw or MJPEG) here; controls map to the
// V4L2 controls a camera has (UVC cameras: auto focus, auto exposure; sensors with a flash LED:
// torch).

#include <fcntl.h>
#include <grp.h>
#include <linux/videodev2.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "media/FFmpeg.h"
#include "media/capture/AvDevice.h"
#include "media/capture/DeviceBackends.h"

namespace media {

namespace {

int xioctl(int fd, unsigned long req, void* arg) {
    int r;
    do r = ::ioctl(fd, req, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

struct Fd {
    int fd = -1;
    explicit Fd(const std::string& path, int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC) {
        fd = ::open(path.c_str(), flags);
    }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    explicit operator bool() const { return fd >= 0; }
};

std::string fourccToPixelFormat(uint32_t fourcc) {
    switch (fourcc) {
    case V4L2_PIX_FMT_YUYV: return "yuyv422";
    case V4L2_PIX_FMT_UYVY: return "uyvy422";
    case V4L2_PIX_FMT_MJPEG: return "mjpeg";
    case V4L2_PIX_FMT_JPEG: return "mjpeg";
    case V4L2_PIX_FMT_YUV420: return "yuv420p";
    case V4L2_PIX_FMT_NV12: return "nv12";
    case V4L2_PIX_FMT_RGB24: return "rgb24";
    case V4L2_PIX_FMT_BGR24: return "bgr24";
    case V4L2_PIX_FMT_GREY: return "gray";
    default: {
        char s[5] = {char(fourcc & 0xff), char((fourcc >> 8) & 0xff), char((fourcc >> 16) & 0xff),
                     char((fourcc >> 24) & 0xff), 0};
        return s;
    }
    }
}

std::vector<double> frameRates(int fd, uint32_t fourcc, Size s) {
    std::vector<double> rates;
    v4l2_frmivalenum iv{};
    iv.pixel_format = fourcc;
    iv.width = uint32_t(s.width);
    iv.height = uint32_t(s.height);
    for (iv.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &iv) == 0; ++iv.index) {
        if (iv.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (iv.discrete.numerator) rates.push_back(double(iv.discrete.denominator) / iv.discrete.numerator);
        } else {
            // Stepwise or continuous: the fastest and slowest ends are what matter to a preset.
            if (iv.stepwise.min.numerator)
                rates.push_back(double(iv.stepwise.min.denominator) / iv.stepwise.min.numerator);
            if (iv.stepwise.max.numerator)
                rates.push_back(double(iv.stepwise.max.denominator) / iv.stepwise.max.numerator);
            break;
        }
    }
    std::sort(rates.rbegin(), rates.rend());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    return rates;
}

std::vector<VideoFormat> enumerateFormats(int fd) {
    std::vector<VideoFormat> out;
    v4l2_fmtdesc fd_{};
    fd_.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (fd_.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &fd_) == 0; ++fd_.index) {
        std::string pix = fourccToPixelFormat(fd_.pixelformat);
        v4l2_frmsizeenum fs{};
        fs.pixel_format = fd_.pixelformat;
        for (fs.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &fs) == 0; ++fs.index) {
            if (fs.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                Size s{int(fs.discrete.width), int(fs.discrete.height)};
                out.push_back({pix, s, frameRates(fd, fd_.pixelformat, s)});
            } else {
                // A range: offer the usual sizes that fall inside it, and its largest.
                const auto& sw = fs.stepwise;
                for (Size s : {Size{1920, 1080}, Size{1280, 720}, Size{640, 480}, Size{480, 360}, Size{320, 240},
                               Size{192, 144}, Size{int(sw.max_width), int(sw.max_height)}}) {
                    if (uint32_t(s.width) < sw.min_width || uint32_t(s.width) > sw.max_width ||
                        uint32_t(s.height) < sw.min_height || uint32_t(s.height) > sw.max_height)
                        continue;
                    out.push_back({pix, s, frameRates(fd, fd_.pixelformat, s)});
                }
                break;
            }
        }
    }
    return out;
}

bool hasControl(int fd, uint32_t id) {
    v4l2_queryctrl q{};
    q.id = id;
    return xioctl(fd, VIDIOC_QUERYCTRL, &q) == 0 && !(q.flags & V4L2_CTRL_FLAG_DISABLED);
}

bool menuHas(int fd, uint32_t id, int64_t value) {
    v4l2_querymenu m{};
    m.id = id;
    m.index = uint32_t(value);
    return xioctl(fd, VIDIOC_QUERYMENU, &m) == 0;
}

bool setControl(int fd, uint32_t id, int32_t value) {
    v4l2_control c{};
    c.id = id;
    c.value = value;
    return xioctl(fd, VIDIOC_S_CTRL, &c) == 0;
}

// Why a camera's device file cannot be opened, with what the user can do about it.
Error nodeError(int e, const std::string& node, const std::string& name) {
    Error err{e, "Cannot open " + name + ".", std::strerror(e), ""};
    if (e == EACCES || e == EPERM) {
        struct stat st {};
        const group* g = ::stat(node.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
        const std::string groupName = g && g->gr_name ? g->gr_name : "video";
        err.recoverySuggestion =
            "Join the group " + groupName + " (sudo usermod -aG " + groupName + " $USER), then log out and in again.";
    }
    return err;
}

// Pictures through libavdevice, decoded to frames.
class V4L2Source : public VideoSource {
public:
    bool open(const std::string& node, const std::string& name, const VideoFormat& fmt, double fps, Error* error) {
        if (!backends::avDevice()) {
            if (error) *error = Error{ENOSYS, "Cannot open " + name + ".", backends::avDeviceProblem(), ""};
            return false;
        }
        // The node itself first: that tells a missing device and a missing permission apart from
        // what libavdevice reports later (busy, no such format).
        if (int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
            ::close(fd);
        } else {
            if (error) *error = nodeError(errno, node, name);
            return false;
        }
        const AVInputFormat* in = av_find_input_format("video4linux2");
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "video_size",
                    (std::to_string(fmt.size.width) + "x" + std::to_string(fmt.size.height)).c_str(), 0);
        if (fps > 0) av_dict_set(&opts, "framerate", std::to_string(fps).c_str(), 0);
        av_dict_set(&opts, "input_format", fmt.pixelFormat.c_str(), 0);
        AVFormatContext* ctx = nullptr;
        int r = avformat_open_input(&ctx, node.c_str(), in, &opts);
        av_dict_free(&opts);
        if (r < 0) {
            if (error) {
                *error = errorFromAv(r, "Cannot open " + name + ".", "");
                if (r == AVERROR(EBUSY)) error->recoverySuggestion = "Close the other program that uses the camera.";
            }
            return false;
        }
        input_.reset(ctx);
        ctx->interrupt_callback.callback = [](void* self) {
            return static_cast<V4L2Source*>(self)->stop_.load() ? 1 : 0;
        };
        ctx->interrupt_callback.opaque = this;
        if (ctx->nb_streams < 1) {
            if (error) *error = Error{AVERROR_INVALIDDATA, "The camera " + node + " offers no stream.", "", ""};
            return false;
        }
        AVStream* st = ctx->streams[0];
        const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!dec) {
            if (error)
                *error = errorFromAv(AVERROR_DECODER_NOT_FOUND, "The camera's picture format cannot be decoded.", "");
            return false;
        }
        codec_.reset(avcodec_alloc_context3(dec));
        avcodec_parameters_to_context(codec_.get(), st->codecpar);
        if ((r = avcodec_open2(codec_.get(), dec, nullptr)) < 0) {
            if (error) *error = errorFromAv(r, "The camera's pictures cannot be decoded.", "");
            return false;
        }
        size_ = {st->codecpar->width, st->codecpar->height};
        AVRational fr = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
        fps_ = fr.num && fr.den ? av_q2d(fr) : (fps > 0 ? fps : 30);
        packet_ = av::makePacket();
        return true;
    }

    bool read(VideoSample& out, Error* error) override {
        while (!stop_) {
            av::Frame f = av::makeFrame();
            int r = avcodec_receive_frame(codec_.get(), f.get());
            if (r == 0) {
                out.frame = shareFrame(f.release());
                // The driver's buffer time is not reliably on the monotonic clock across kernels,
                // so the picture is stamped when it arrives: at most a frame's transfer late.
                out.timeNs = arrivedNs_;
                out.sequence = sequence_++;
                return true;
            }
            if (r != AVERROR(EAGAIN)) {
                if (error) *error = errorFromAv(r, "The camera's picture cannot be decoded.", "");
                return false;
            }
            r = av_read_frame(input_.get(), packet_.get());
            if (r == AVERROR(EAGAIN)) continue;
            if (r < 0) {
                if (stop_) return false;
                if (error) *error = errorFromAv(r, "The camera stopped delivering pictures.", "Reconnect the camera.");
                return false;
            }
            arrivedNs_ = monotonicNowNs();
            avcodec_send_packet(codec_.get(), packet_.get());
            av_packet_unref(packet_.get());
        }
        return false;
    }
    void interrupt() override { stop_ = true; }
    Size size() const override { return size_; }
    double frameRate() const override { return fps_; }

private:
    av::InputContext input_;
    av::CodecContext codec_;
    av::Packet packet_;
    Size size_;
    double fps_ = 30;
    int64_t arrivedNs_ = 0;
    int64_t sequence_ = 0;
    std::atomic<bool> stop_{false};
};

class V4L2Camera : public CaptureDevice {
public:
    V4L2Camera(const backends::Found& f)
        : CaptureDevice(f.id, f.name, MediaType::Video, false), node_(f.node.empty() ? f.id : f.node) {
        Fd fd(node_);
        if (!fd) return;
        formats_ = enumerateFormats(fd.fd);
        focusAuto_ = hasControl(fd.fd, V4L2_CID_FOCUS_AUTO);
        focusAbsolute_ = hasControl(fd.fd, V4L2_CID_FOCUS_ABSOLUTE);
        focusStart_ = hasControl(fd.fd, V4L2_CID_AUTO_FOCUS_START);
        exposureAuto_ = hasControl(fd.fd, V4L2_CID_EXPOSURE_AUTO);
        flashLed_ = hasControl(fd.fd, V4L2_CID_FLASH_LED_MODE) &&
                    menuHas(fd.fd, V4L2_CID_FLASH_LED_MODE, V4L2_FLASH_LED_MODE_TORCH);
        v4l2_control c{};
        // Phone cameras say how their sensor is mounted (firmware tables); webcams do not.
        c.id = V4L2_CID_CAMERA_SENSOR_ROTATION;
        if (hasControl(fd.fd, V4L2_CID_CAMERA_SENSOR_ROTATION) && xioctl(fd.fd, VIDIOC_G_CTRL, &c) == 0 &&
            (c.value == 90 || c.value == 180 || c.value == 270))
            rotation_ = c.value;
        c.id = V4L2_CID_FOCUS_AUTO;
        if (focusAuto_ && xioctl(fd.fd, VIDIOC_G_CTRL, &c) == 0)
            focus_ = c.value ? FocusMode::ContinuousAutoFocus : FocusMode::Locked;
        c.id = V4L2_CID_EXPOSURE_AUTO;
        if (exposureAuto_ && xioctl(fd.fd, VIDIOC_G_CTRL, &c) == 0)
            exposure_ = c.value == V4L2_EXPOSURE_MANUAL ? ExposureMode::Locked : ExposureMode::ContinuousAutoExposure;
    }

    std::vector<VideoFormat> formats() const override { return formats_; }
    int mountingRotation() const override { return rotation_; }
    // Its own lock: the configuration lock asks for the path while it holds the device's.
    std::string devicePath() const override {
        std::lock_guard lock(nodeMutex_);
        return node_;
    }
    bool hasTorch() const override { return flashLed_; }
    bool isTorchModeSupported(TorchMode m) const override {
        return m == TorchMode::Off || (flashLed_ && m == TorchMode::On);
    }
    bool isFocusModeSupported(FocusMode m) const override {
        switch (m) {
        case FocusMode::Locked: return focusAuto_ || focusAbsolute_;
        case FocusMode::AutoFocus: return focusStart_;
        case FocusMode::ContinuousAutoFocus: return focusAuto_;
        }
        return false;
    }
    bool isExposureModeSupported(ExposureMode m) const override {
        return exposureAuto_ && m != ExposureMode::AutoExpose;
    }

    std::unique_ptr<VideoSource> openVideo(Size want, double fps, Error* error) override {
        if (formats_.empty()) {
            if (error) *error = Error{EINVAL, localizedName() + " offers no picture format.", "", ""};
            return nullptr;
        }
        auto src = std::make_unique<V4L2Source>();
        const VideoFormat format = backends::pickFormat(formats_, want, fps);
        if (!src->open(devicePath(), localizedName(), format, fps, error)) return nullptr;
        return src;
    }

protected:
    void setDevicePath(const std::string& node) override {
        std::lock_guard lock(nodeMutex_);
        node_ = node;
    }
    bool applyTorchMode(TorchMode m) override {
        return control(V4L2_CID_FLASH_LED_MODE,
                       m == TorchMode::On ? V4L2_FLASH_LED_MODE_TORCH : V4L2_FLASH_LED_MODE_NONE);
    }
    bool applyFocusMode(FocusMode m) override {
        if (m == FocusMode::AutoFocus) {
            // A single focus run: continuous focus has to be off, or the run is ignored.
            if (focusAuto_) control(V4L2_CID_FOCUS_AUTO, 0);
            return control(V4L2_CID_AUTO_FOCUS_START, 1);
        }
        return control(V4L2_CID_FOCUS_AUTO, m == FocusMode::ContinuousAutoFocus ? 1 : 0);
    }
    bool applyExposureMode(ExposureMode m) override {
        if (m == ExposureMode::Locked) return control(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
        // Aperture priority is what UVC cameras call their automatic mode; full auto where offered.
        return control(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_AUTO) ||
               control(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_APERTURE_PRIORITY);
    }

private:
    bool control(uint32_t id, int32_t v) {
        Fd fd(devicePath());
        return fd && setControl(fd.fd, id, v);
    }

    mutable std::mutex nodeMutex_;
    std::string node_;  // under nodeMutex_
    std::vector<VideoFormat> formats_;
    bool focusAuto_ = false, focusAbsolute_ = false, focusStart_ = false, exposureAuto_ = false, flashLed_ = false;
    int rotation_ = 0;
};

// A name for the camera that survives a reboot and a replug, where the node number may not: its
// /dev/v4l/by-id link (USB cameras: maker, model and serial number), else its bus position.
std::string stableID(const std::string& node, const std::string& busInfo) {
    std::error_code ec;
    const auto target = std::filesystem::canonical(node, ec);
    if (!ec) {
        std::vector<std::string> links;
        for (const auto& e : std::filesystem::directory_iterator("/dev/v4l/by-id", ec)) {
            std::error_code ec2;
            if (std::filesystem::canonical(e.path(), ec2) == target && !ec2) links.push_back(e.path().string());
        }
        std::sort(links.begin(), links.end());
        if (!links.empty()) return links.front();
    }
    return busInfo.empty() ? node : "v4l2:" + busInfo;
}

}  // namespace

namespace backends {

std::vector<Found> findV4L2Cameras() {
    std::vector<Found> out;
    std::error_code ec;
    std::set<std::string> nodes;
    for (const auto& e : std::filesystem::directory_iterator("/dev", ec)) {
        std::string name = e.path().filename().string();
        if (name.rfind("video", 0) == 0 && name.size() > 5 && std::isdigit(static_cast<unsigned char>(name[5])))
            nodes.insert(e.path().string());
    }
    for (const auto& node : nodes) {
        Fd fd(node);
        if (!fd) continue;
        v4l2_capability cap{};
        if (xioctl(fd.fd, VIDIOC_QUERYCAP, &cap) != 0) continue;
        uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        // UVC cameras expose a second node for metadata; only picture nodes are cameras.
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) continue;
        out.push_back({stableID(node, reinterpret_cast<const char*>(cap.bus_info)),
                       reinterpret_cast<const char*>(cap.card), node});
    }
    return out;
}

std::shared_ptr<CaptureDevice> makeV4L2Camera(const Found& f) {
    return std::make_shared<V4L2Camera>(f);
}

}  // namespace backends

}  // namespace media
