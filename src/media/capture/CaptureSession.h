#pragma once
// A capture session: device inputs feed outputs through connections. While it runs, one thread per
// input reads the device, brings pictures to the preset's size (the one copy a picture gets) and
// hands them, shared, to the preview slot and to every connected output.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/AffineTransform.h"
#include "media/Error.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/CaptureTypes.h"
#include "media/capture/PreviewSlot.h"

namespace media {

class CaptureSession;
class CaptureOutput;

// What flows through a port. For pictures: the size delivered and the clean aperture (the part
// of the picture meant to be seen; all of it here, as nothing is padded). For sound: rate and
// channels. Unknown (zero) until the session has run the input.
struct FormatDescription {
    MediaType mediaType = MediaType::Video;
    Size dimensions;
    PixelRect cleanAperture;
    double frameRate = 0;
    int sampleRate = 0;
    int channels = 0;
    bool isKnown() const { return mediaType == MediaType::Video ? !dimensions.empty() : sampleRate > 0; }
    bool operator==(const FormatDescription&) const = default;
};

class CaptureInputPort {
public:
    explicit CaptureInputPort(MediaType t) : type_(t) { format_.mediaType = t; }
    MediaType mediaType() const { return type_; }
    FormatDescription formatDescription() const {
        std::lock_guard lock(mutex_);
        return format_;
    }
    // Used by the session; true when the description changed.
    bool setFormatDescription(const FormatDescription& f) {
        std::lock_guard lock(mutex_);
        if (f == format_) return false;
        format_ = f;
        return true;
    }

private:
    MediaType type_;
    mutable std::mutex mutex_;
    FormatDescription format_;
};

class CaptureDeviceInput {
public:
    // Fails (with the reason) when there is no device or it is not connected.
    static std::shared_ptr<CaptureDeviceInput> create(std::shared_ptr<CaptureDevice> device, Error* error = nullptr);
    const std::shared_ptr<CaptureDevice>& device() const { return device_; }
    const std::vector<std::shared_ptr<CaptureInputPort>>& ports() const { return ports_; }

private:
    explicit CaptureDeviceInput(std::shared_ptr<CaptureDevice> d);
    std::shared_ptr<CaptureDevice> device_;
    std::vector<std::shared_ptr<CaptureInputPort>> ports_;
};

// Capture video orientations, numbered as stored in zoom tracks.
enum class VideoOrientation { Portrait = 1, PortraitUpsideDown = 2, LandscapeRight = 3, LandscapeLeft = 4 };

// How a movie shows pictures taken in `o`: pixels stay as the sensor delivers them (landscape
// right) and the display matrix turns them; portrait is a=0 b=1 c=-1 d=0.
AffineTransform displayMatrixForOrientation(VideoOrientation o, Size stored);

class CaptureConnection {
public:
    CaptureConnection(std::vector<std::shared_ptr<CaptureInputPort>> ports, CaptureOutput* output)
        : ports_(std::move(ports)), output_(output) {}
    const std::vector<std::shared_ptr<CaptureInputPort>>& inputPorts() const { return ports_; }
    CaptureOutput* output() const { return output_; }
    bool hasMediaType(MediaType t) const;

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool e) { enabled_ = e; }
    // Orientation applies to picture connections only.
    bool isVideoOrientationSupported() const { return hasMediaType(MediaType::Video); }
    VideoOrientation videoOrientation() const { return orientation_.load(); }
    void setVideoOrientation(VideoOrientation o) { orientation_ = o; }

private:
    std::vector<std::shared_ptr<CaptureInputPort>> ports_;
    CaptureOutput* output_;
    std::atomic<bool> enabled_{true};
    std::atomic<VideoOrientation> orientation_{VideoOrientation::LandscapeRight};
};

class CaptureOutput {
public:
    virtual ~CaptureOutput() = default;
    std::vector<std::shared_ptr<CaptureConnection>> connections() const;
    std::shared_ptr<CaptureConnection> connectionWithMediaType(MediaType t) const;
    virtual bool acceptsMediaType(MediaType t) const = 0;

protected:
    friend class CaptureSession;
    // Called on the session's input threads.
    virtual void consumeVideo(const VideoSample&, const CaptureConnection&) {}
    virtual void consumeAudio(const AudioSample&, const CaptureConnection&) {}
    // An input stopped delivering (device gone, read error) while the session ran.
    virtual void inputFailed(const Error&) {}

    // Threads: the session changes the connections on its owner's thread, under
    // connectionsMutex_; an output reads them through connections(), never the field itself.
    mutable std::mutex connectionsMutex_;
    std::vector<std::shared_ptr<CaptureConnection>> connections_;
    // Set by the session under its own lock; read by the output on any thread.
    std::atomic<CaptureSession*> session_{nullptr};
};

class CaptureSession {
public:
    CaptureSession();
    ~CaptureSession();  // stops running
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // One camera and one microphone at a time, each once, connected devices only.
    bool canAddInput(const std::shared_ptr<CaptureDeviceInput>& input) const;
    bool addInput(const std::shared_ptr<CaptureDeviceInput>& input);
    void removeInput(const std::shared_ptr<CaptureDeviceInput>& input);
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs() const;

    // An output belongs to one session, once; one movie file output per session.
    bool canAddOutput(const std::shared_ptr<CaptureOutput>& output) const;
    bool addOutput(const std::shared_ptr<CaptureOutput>& output);
    void removeOutput(const std::shared_ptr<CaptureOutput>& output);

    CapturePreset sessionPreset() const;
    void setSessionPreset(CapturePreset preset);
    // The picture size the preset gives with the current camera; empty without one.
    Size videoSize() const;

    // Changes made between these take effect together at commit (a running session restarts
    // its inputs once). Nestable.
    void beginConfiguration();
    void commitConfiguration();

    // Opens every input and starts delivering. Inputs that cannot open are left out (and
    // reported through the runtime error handler); the session runs if any input runs or it has
    // none. Blocks until the inputs are open.
    void startRunning();
    void stopRunning();
    bool isRunning() const;

    // The newest picture of the camera input, at the preset's size.
    PreviewSlot& previewSlot() { return preview_; }

    // Reports from the session's threads, through `dispatch`: a port's format changed (size after
    // a preset or device change), or an input failed while running.
    void setFormatDescriptionChangeHandler(Dispatch dispatch, std::function<void(std::shared_ptr<CaptureInputPort>)> h);
    void setRuntimeErrorHandler(Dispatch dispatch, std::function<void(Error)> h);

    // Why an input delivers nothing: it could not be opened at the last start, or it stopped
    // (device gone, read error) since. Empty while it delivers, or when it is not this session's.
    Error inputFailure(const std::shared_ptr<CaptureDeviceInput>& input) const;

    // Frames an input's device skipped (it was read too late); counted while running.
    uint64_t sourceDroppedFrames() const { return sourceDropped_.load(); }

private:
    struct Pump;
    bool canAddInputLocked(const std::shared_ptr<CaptureDeviceInput>& input) const;
    bool canAddOutputLocked(const std::shared_ptr<CaptureOutput>& output) const;
    void startLocked();
    void stopLocked();
    void connectLocked(const std::shared_ptr<CaptureDeviceInput>& in, CaptureOutput* out);
    void videoLoop(Pump* p);
    void audioLoop(Pump* p);
    void reportFormat(const std::shared_ptr<CaptureInputPort>& port, const FormatDescription& f);
    void reportError(const Error& e);
    void pumpFailed(Pump* p, const Error& e);
    void noteFailure(const std::shared_ptr<CaptureDeviceInput>& input, const Error& e);
    using Routes = std::vector<std::pair<std::shared_ptr<CaptureOutput>, std::shared_ptr<CaptureConnection>>>;
    void rebuildRoutesLocked();
    std::shared_ptr<const Routes> routes() const;

    // Threads: configuration (inputs, outputs, preset, pumps, running state) is changed by the
    // owner's thread under mutex_; the pump threads read only routes_ (under routesMutex_, then
    // without a lock: it is never changed in place), the atomics and the preview slot; the
    // handlers under handlerMutex_. No public function is called with mutex_ held: the ones that
    // need another's work share a ...Locked helper with it.
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs_;
    std::vector<std::shared_ptr<CaptureOutput>> outputs_;
    CapturePreset preset_ = CapturePreset::High;
    int configDepth_ = 0;
    bool dirty_ = false;
    bool running_ = false;
    // Inputs started by the last start, and those still delivering: when every one has failed
    // (device gone, unreadable), the session no longer runs.
    int startedPumps_ = 0;
    std::atomic<int> alivePumps_{0};
    std::vector<std::unique_ptr<Pump>> pumps_;
    PreviewSlot preview_;
    std::atomic<uint64_t> sourceDropped_{0};
    // What the input threads deliver to, swapped whole: they never wait on the session's lock,
    // which a reconfiguration holds while it stops them.
    mutable std::mutex routesMutex_;
    std::shared_ptr<const Routes> routes_ = std::make_shared<Routes>();

    // The inputs' failures since the last start; written by the owner's and the input threads.
    mutable std::mutex failuresMutex_;
    std::map<const CaptureDeviceInput*, Error> failures_;

    std::mutex handlerMutex_;
    Dispatch formatDispatch_, errorDispatch_;
    std::function<void(std::shared_ptr<CaptureInputPort>)> formatHandler_;
    std::function<void(Error)> errorHandler_;
};

}  // namespace media
