#include "media/capture/CaptureSession.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "media/FFmpeg.h"

namespace media {

// ---------------------------------------------------------------------------------------------

std::shared_ptr<CaptureDeviceInput> CaptureDeviceInput::create(std::shared_ptr<CaptureDevice> device, Error* error) {
    if (!device) {
        if (error) *error = Error{ENODEV, "There is no capture device.", "", "Connect a camera or microphone."};
        return nullptr;
    }
    if (!device->isConnected()) {
        if (error) *error = Error{ENODEV, device->localizedName() + " is not connected.", "", ""};
        return nullptr;
    }
    return std::shared_ptr<CaptureDeviceInput>(new CaptureDeviceInput(std::move(device)));
}

CaptureDeviceInput::CaptureDeviceInput(std::shared_ptr<CaptureDevice> d) : device_(std::move(d)) {
    ports_.push_back(std::make_shared<CaptureInputPort>(device_->mediaType()));
}

AffineTransform displayMatrixForOrientation(VideoOrientation o, Size s) {
    const float w = float(s.width), h = float(s.height);
    switch (o) {
    case VideoOrientation::Portrait: return {0, 1, -1, 0, h, 0};
    case VideoOrientation::PortraitUpsideDown: return {0, -1, 1, 0, 0, w};
    case VideoOrientation::LandscapeLeft: return {-1, 0, 0, -1, w, h};
    case VideoOrientation::LandscapeRight: break;
    }
    return AffineTransform::identity();
}

bool CaptureConnection::hasMediaType(MediaType t) const {
    return std::any_of(ports_.begin(), ports_.end(), [&](auto& p) { return p->mediaType() == t; });
}

std::vector<std::shared_ptr<CaptureConnection>> CaptureOutput::connections() const {
    std::lock_guard lock(connectionsMutex_);
    return connections_;
}

std::shared_ptr<CaptureConnection> CaptureOutput::connectionWithMediaType(MediaType t) const {
    std::lock_guard lock(connectionsMutex_);
    for (auto& c : connections_)
        if (c->hasMediaType(t)) return c;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Bringing pictures to the session's size and format

namespace {

class Converter {
public:
    // The picture in yuv420p at `target`: the source's centre cropped to the target's shape,
    // then scaled, so nothing is stretched. Frames already right are passed on untouched.
    std::shared_ptr<const AVFrame> convert(const std::shared_ptr<const AVFrame>& in, Size target) {
        if (in->width == target.width && in->height == target.height && in->format == AV_PIX_FMT_YUV420P) return in;
        if (!sws_ || in->width != inW_ || in->height != inH_ || in->format != inFmt_ || !(target == out_)) {
            inW_ = in->width;
            inH_ = in->height;
            inFmt_ = in->format;
            out_ = target;
            // Crop box with even offsets, so chroma planes start on a sample.
            int64_t cw = in->width, ch = in->height;
            if (cw * target.height > ch * target.width)
                cw = ch * target.width / target.height;
            else
                ch = cw * target.height / target.width;
            cropW_ = int(cw) & ~1;
            cropH_ = int(ch) & ~1;
            cropX_ = ((in->width - cropW_) / 2) & ~1;
            cropY_ = ((in->height - cropH_) / 2) & ~1;
            sws_.reset(sws_getContext(cropW_, cropH_, AVPixelFormat(in->format), target.width, target.height,
                                      AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
            av_buffer_pool_uninit(&pool_);
            pool_ = av_buffer_pool_init(size_t(target.width) * target.height * 3 / 2 + 64, nullptr);
        }
        if (!sws_ || !pool_) return nullptr;
        AVFrame* out = av_frame_alloc();
        if (!out) return nullptr;
        out->buf[0] = av_buffer_pool_get(pool_);
        if (!out->buf[0]) {
            av_frame_free(&out);
            return nullptr;
        }
        out->format = AV_PIX_FMT_YUV420P;
        out->width = target.width;
        out->height = target.height;
        out->linesize[0] = target.width;
        out->linesize[1] = out->linesize[2] = (target.width + 1) / 2;
        out->data[0] = out->buf[0]->data;
        out->data[1] = out->data[0] + size_t(target.width) * target.height;
        out->data[2] = out->data[1] + size_t(out->linesize[1]) * ((target.height + 1) / 2);
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(in->format));
        const uint8_t* src[4] = {};
        for (int p = 0; p < 4 && in->data[p]; ++p) {
            bool chroma = d && (p == 1 || p == 2) && !(d->flags & AV_PIX_FMT_FLAG_RGB);
            int sx = chroma ? (cropX_ >> d->log2_chroma_w) : cropX_;
            int sy = chroma ? (cropY_ >> d->log2_chroma_h) : cropY_;
            // Packed formats carry several bytes per pixel in plane 0.
            int bpp = d ? std::max(1, av_get_padded_bits_per_pixel(d) / 8) : 1;
            if (d && !(d->flags & AV_PIX_FMT_FLAG_PLANAR))
                sx = cropX_ * bpp;
            else if (d && (d->flags & AV_PIX_FMT_FLAG_PLANAR) && p == 0)
                sx = cropX_ * std::max(1, d->comp[0].step);
            src[p] = in->data[p] + size_t(sy) * in->linesize[p] + sx;
        }
        sws_scale(sws_.get(), src, in->linesize, 0, cropH_, out->data, out->linesize);
        return shareFrame(out);
    }
    ~Converter() { av_buffer_pool_uninit(&pool_); }

private:
    av::Sws sws_;
    AVBufferPool* pool_ = nullptr;
    int inW_ = 0, inH_ = 0, inFmt_ = -1;
    Size out_;
    int cropX_ = 0, cropY_ = 0, cropW_ = 0, cropH_ = 0;
};

}  // namespace

struct CaptureSession::Pump {
    std::shared_ptr<CaptureDeviceInput> input;
    std::unique_ptr<VideoSource> video;
    std::unique_ptr<AudioSource> audio;
    Size target;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// ---------------------------------------------------------------------------------------------

CaptureSession::CaptureSession() = default;

CaptureSession::~CaptureSession() {
    stopRunning();
    std::lock_guard lock(mutex_);
    for (auto& o : outputs_) o->session_ = nullptr;
}

bool CaptureSession::canAddInput(const std::shared_ptr<CaptureDeviceInput>& in) const {
    std::lock_guard lock(mutex_);
    return canAddInputLocked(in);
}

bool CaptureSession::canAddInputLocked(const std::shared_ptr<CaptureDeviceInput>& in) const {
    if (!in || !in->device() || !in->device()->isConnected()) return false;
    for (auto& i : inputs_) {
        if (i == in || i->device() == in->device()) return false;
        if (i->device()->mediaType() == in->device()->mediaType()) return false;
    }
    return true;
}

bool CaptureSession::addInput(const std::shared_ptr<CaptureDeviceInput>& in) {
    std::lock_guard lock(mutex_);
    if (!canAddInputLocked(in)) return false;
    inputs_.push_back(in);
    for (auto& o : outputs_) connectLocked(in, o.get());
    rebuildRoutesLocked();
    dirty_ = true;
    if (configDepth_ == 0 && running_) {
        stopLocked();
        startLocked();
    }
    return true;
}

void CaptureSession::removeInput(const std::shared_ptr<CaptureDeviceInput>& in) {
    std::lock_guard lock(mutex_);
    auto it = std::find(inputs_.begin(), inputs_.end(), in);
    if (it == inputs_.end()) return;
    inputs_.erase(it);
    for (auto& o : outputs_) {
        std::lock_guard cl(o->connectionsMutex_);
        auto& cs = o->connections_;
        cs.erase(std::remove_if(cs.begin(), cs.end(),
                                [&](auto& c) {
                                    return std::any_of(c->inputPorts().begin(), c->inputPorts().end(), [&](auto& p) {
                                        return std::find(in->ports().begin(), in->ports().end(), p) !=
                                               in->ports().end();
                                    });
                                }),
                 cs.end());
    }
    rebuildRoutesLocked();
    dirty_ = true;
    if (configDepth_ == 0 && running_) {
        stopLocked();
        startLocked();
    }
}

std::vector<std::shared_ptr<CaptureDeviceInput>> CaptureSession::inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
}

bool CaptureSession::canAddOutput(const std::shared_ptr<CaptureOutput>& out) const {
    std::lock_guard lock(mutex_);
    return canAddOutputLocked(out);
}

bool CaptureSession::canAddOutputLocked(const std::shared_ptr<CaptureOutput>& out) const {
    if (!out || out->session_) return false;
    for (auto& o : outputs_)
        if (typeid(*o) == typeid(*out)) return false;
    return true;
}

bool CaptureSession::addOutput(const std::shared_ptr<CaptureOutput>& out) {
    std::lock_guard lock(mutex_);
    if (!canAddOutputLocked(out)) return false;
    outputs_.push_back(out);
    out->session_ = this;
    for (auto& in : inputs_) connectLocked(in, out.get());
    rebuildRoutesLocked();
    return true;
}

void CaptureSession::removeOutput(const std::shared_ptr<CaptureOutput>& out) {
    std::lock_guard lock(mutex_);
    auto it = std::find(outputs_.begin(), outputs_.end(), out);
    if (it == outputs_.end()) return;
    outputs_.erase(it);
    out->session_ = nullptr;
    {
        std::lock_guard cl(out->connectionsMutex_);
        out->connections_.clear();
    }
    rebuildRoutesLocked();
}

void CaptureSession::connectLocked(const std::shared_ptr<CaptureDeviceInput>& in, CaptureOutput* out) {
    for (auto& p : in->ports()) {
        if (!out->acceptsMediaType(p->mediaType())) continue;
        std::lock_guard cl(out->connectionsMutex_);
        out->connections_.push_back(std::make_shared<CaptureConnection>(std::vector{p}, out));
    }
}

CapturePreset CaptureSession::sessionPreset() const {
    std::lock_guard lock(mutex_);
    return preset_;
}

void CaptureSession::setSessionPreset(CapturePreset p) {
    std::lock_guard lock(mutex_);
    if (p == preset_) return;
    preset_ = p;
    dirty_ = true;
    if (configDepth_ == 0 && running_) {
        stopLocked();
        startLocked();
    }
}

Size CaptureSession::videoSize() const {
    std::lock_guard lock(mutex_);
    for (auto& in : inputs_)
        if (in->device()->mediaType() == MediaType::Video) return sizeForPreset(preset_, in->device()->formats());
    return {};
}

void CaptureSession::beginConfiguration() {
    std::lock_guard lock(mutex_);
    if (configDepth_++ == 0) dirty_ = false;
}

void CaptureSession::commitConfiguration() {
    std::lock_guard lock(mutex_);
    if (configDepth_ == 0 || --configDepth_ > 0) return;
    // The add/remove/preset calls inside the bracket only marked the change; apply it once.
    if (dirty_ && running_) {
        stopLocked();
        startLocked();
    }
    dirty_ = false;
}

void CaptureSession::startRunning() {
    std::lock_guard lock(mutex_);
    if (running_) return;
    startLocked();
}

void CaptureSession::stopRunning() {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    stopLocked();
    running_ = false;
    preview_.clear();
}

bool CaptureSession::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_ && (startedPumps_ == 0 || alivePumps_ > 0);
}

void CaptureSession::startLocked() {
    int opened = 0;
    {
        std::lock_guard lock(failuresMutex_);
        failures_.clear();
    }
    for (auto& in : inputs_) {
        auto pump = std::make_unique<Pump>();
        pump->input = in;
        Error err;
        auto& dev = in->device();
        if (dev->mediaType() == MediaType::Video) {
            const CaptureMode mode = modeForPreset(preset_, dev->formats());
            pump->target = mode.size;
            pump->video = dev->openVideo(mode.size, mode.frameRate, &err);
            if (!pump->video) {
                noteFailure(in, err);
                reportError(err);
                continue;
            }
            FormatDescription f;
            f.mediaType = MediaType::Video;
            f.dimensions = pump->target;
            f.cleanAperture = {0, 0, double(pump->target.width), double(pump->target.height)};
            f.frameRate = pump->video->frameRate();
            reportFormat(in->ports().front(), f);
            Pump* raw = pump.get();
            pump->thread = std::thread([this, raw] { videoLoop(raw); });
        } else {
            pump->audio = dev->openAudio(&err);
            if (!pump->audio) {
                noteFailure(in, err);
                reportError(err);
                continue;
            }
            FormatDescription f;
            f.mediaType = MediaType::Audio;
            f.sampleRate = pump->audio->sampleRate();
            f.channels = pump->audio->channels();
            reportFormat(in->ports().front(), f);
            Pump* raw = pump.get();
            pump->thread = std::thread([this, raw] { audioLoop(raw); });
        }
        ++opened;
        pumps_.push_back(std::move(pump));
    }
    startedPumps_ = opened;
    alivePumps_ = opened;
    running_ = opened > 0 || inputs_.empty();
}

void CaptureSession::stopLocked() {
    for (auto& p : pumps_) {
        p->stop = true;
        if (p->video) p->video->interrupt();
        if (p->audio) p->audio->interrupt();
    }
    for (auto& p : pumps_)
        if (p->thread.joinable()) p->thread.join();
    pumps_.clear();
    startedPumps_ = 0;
    alivePumps_ = 0;
}

void CaptureSession::rebuildRoutesLocked() {
    auto r = std::make_shared<Routes>();
    for (auto& o : outputs_)
        for (auto& c : o->connections()) r->emplace_back(o, c);
    std::lock_guard lock(routesMutex_);
    routes_ = std::move(r);
}

std::shared_ptr<const CaptureSession::Routes> CaptureSession::routes() const {
    std::lock_guard lock(routesMutex_);
    return routes_;
}

void CaptureSession::videoLoop(Pump* p) {
    Converter conv;
    int64_t lastSeq = -1;
    while (!p->stop) {
        VideoSample s;
        Error err;
        if (!p->video->read(s, &err)) {
            if (!p->stop) pumpFailed(p, err.isError() ? err : Error{EIO, "The camera stopped.", "", ""});
            return;
        }
        if (lastSeq >= 0 && s.sequence > lastSeq + 1) sourceDropped_ += uint64_t(s.sequence - lastSeq - 1);
        lastSeq = s.sequence;
        s.frame = conv.convert(s.frame, p->target);
        if (!s.frame) continue;
        preview_.put(s);
        auto table = routes();
        for (auto& [out, conn] : *table) {
            if (!conn->isEnabled() || std::find(conn->inputPorts().begin(), conn->inputPorts().end(),
                                                p->input->ports().front()) == conn->inputPorts().end())
                continue;
            out->consumeVideo(s, *conn);
        }
    }
}

void CaptureSession::audioLoop(Pump* p) {
    while (!p->stop) {
        AudioSample s;
        Error err;
        if (!p->audio->read(s, &err)) {
            if (!p->stop) pumpFailed(p, err.isError() ? err : Error{EIO, "The microphone stopped.", "", ""});
            return;
        }
        auto table = routes();
        for (auto& [out, conn] : *table) {
            if (!conn->isEnabled() || std::find(conn->inputPorts().begin(), conn->inputPorts().end(),
                                                p->input->ports().front()) == conn->inputPorts().end())
                continue;
            out->consumeAudio(s, *conn);
        }
    }
}

void CaptureSession::setFormatDescriptionChangeHandler(Dispatch d,
                                                       std::function<void(std::shared_ptr<CaptureInputPort>)> h) {
    std::lock_guard lock(handlerMutex_);
    formatDispatch_ = std::move(d);
    formatHandler_ = std::move(h);
}

void CaptureSession::setRuntimeErrorHandler(Dispatch d, std::function<void(Error)> h) {
    std::lock_guard lock(handlerMutex_);
    errorDispatch_ = std::move(d);
    errorHandler_ = std::move(h);
}

void CaptureSession::reportFormat(const std::shared_ptr<CaptureInputPort>& port, const FormatDescription& f) {
    if (!port->setFormatDescription(f)) return;
    std::lock_guard lock(handlerMutex_);
    if (!formatHandler_) return;
    auto call = [h = formatHandler_, port] { h(port); };
    if (formatDispatch_)
        formatDispatch_(call);
    else
        call();
}

void CaptureSession::noteFailure(const std::shared_ptr<CaptureDeviceInput>& in, const Error& e) {
    std::lock_guard lock(failuresMutex_);
    failures_[in.get()] = e.isError() ? e : Error{EIO, in->device()->localizedName() + " failed.", "", ""};
}

Error CaptureSession::inputFailure(const std::shared_ptr<CaptureDeviceInput>& in) const {
    std::lock_guard lock(failuresMutex_);
    auto it = failures_.find(in.get());
    return it == failures_.end() ? Error{} : it->second;
}

void CaptureSession::pumpFailed(Pump* p, const Error& e) {
    noteFailure(p->input, e);
    // The port delivers nothing any more: a recording started later must not wait for it.
    FormatDescription none;
    none.mediaType = p->input->device()->mediaType();
    reportFormat(p->input->ports().front(), none);
    --alivePumps_;
    reportError(e);
}

void CaptureSession::reportError(const Error& e) {
    captureLog("%s (%s)", e.description.c_str(), e.failureReason.c_str());
    auto table = routes();
    std::vector<CaptureOutput*> told;
    for (auto& [out, conn] : *table) {
        if (std::find(told.begin(), told.end(), out.get()) != told.end()) continue;
        told.push_back(out.get());
        out->inputFailed(e);
    }
    std::lock_guard lock(handlerMutex_);
    if (!errorHandler_) return;
    auto call = [h = errorHandler_, e] { h(e); };
    if (errorDispatch_)
        errorDispatch_(call);
    else
        call();
}

}  // namespace media
