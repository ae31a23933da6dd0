#pragma once
// Cameras and microphones: the real ones the system has (V4L2 video nodes, PulseAudio sources or
// ALSA capture PCMs), then the built-in virtual camera and microphone, and file cameras on demand.
// One object per device id lives for the process, so state set on a device (torch, focus mode)
// is what every later lookup sees.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/AffineTransform.h"
#include "media/CapturePresets.h"
#include "media/Error.h"
#include "media/capture/CaptureTypes.h"

namespace media {

enum class CapturePosition { Unspecified = 0, Back = 1, Front = 2 };
enum class TorchMode { Off = 0, On = 1, Auto = 2 };
enum class FocusMode { Locked = 0, AutoFocus = 1, ContinuousAutoFocus = 2 };
enum class ExposureMode { Locked = 0, AutoExpose = 1, ContinuousAutoExposure = 2 };

struct VideoFormat {
    std::string pixelFormat;  // FFmpeg's name ("yuyv422", "mjpeg", "yuv420p")
    Size size;
    std::vector<double> frameRates;  // highest first; empty when the device does not say
};

// A running stream of pictures. read() blocks until the next picture is due; interrupt() makes a
// blocked or later read() return false at once (from any thread).
class VideoSource {
public:
    virtual ~VideoSource() = default;
    virtual bool read(VideoSample& out, Error* error) = 0;
    virtual void interrupt() = 0;
    virtual Size size() const = 0;         // of the pictures read() delivers
    virtual double frameRate() const = 0;  // nominal
};

class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual bool read(AudioSample& out, Error* error) = 0;
    virtual void interrupt() = 0;
    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
};

class CaptureDevice : public std::enable_shared_from_this<CaptureDevice> {
public:
    virtual ~CaptureDevice();
    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    // Every device present now: real cameras, real microphones, then the virtual camera and the
    // virtual microphone. Devices that went away keep their objects but report !isConnected().
    static std::vector<std::shared_ptr<CaptureDevice>> devices();
    static std::vector<std::shared_ptr<CaptureDevice>> devices(MediaType type);
    // The first real device of the type; null when there is none. The virtual devices stand in
    // for nothing: they are used only when asked for by id.
    static std::shared_ptr<CaptureDevice> defaultDevice(MediaType type);
    // By id: "virtual-camera", "virtual-microphone", a camera's stable id (its /dev/v4l/by-id
    // link, else "v4l2:" and its bus), a PipeWire camera's "pipewire:NODE-NAME", "pulse:NAME",
    // "alsa:NAME", or "file:PATH" (made on demand; fails when the file holds no decodable
    // picture). A camera's device file ("/dev/videoN") finds the camera on it, whichever backend
    // carries it; "v4l2:/dev/videoN" opens that file through V4L2 even where PipeWire carries it.
    static std::shared_ptr<CaptureDevice> deviceWithUniqueID(const std::string& id, Error* error = nullptr);
    static constexpr const char* kVirtualCameraID = "virtual-camera";
    static constexpr const char* kVirtualMicrophoneID = "virtual-microphone";

    // Stable: the same device has the same id after a reboot and a replug.
    const std::string& uniqueID() const { return id_; }
    // The device file pictures are read from ("/dev/video2"); empty for other devices. It may
    // change when the device is plugged in again. Overrides must not take mutex_: the
    // configuration lock asks for the path while it holds it.
    virtual std::string devicePath() const { return {}; }
    const std::string& localizedName() const { return name_; }
    // How the device is reached: "v4l2", "pipewire", "pulse", "alsa", "file" or "virtual".
    std::string backendName() const;
    MediaType mediaType() const { return type_; }
    virtual CapturePosition position() const { return CapturePosition::Back; }
    virtual bool isConnected() const;
    bool isVirtual() const { return virtual_; }

    // The pictures a camera can deliver; empty for microphones.
    virtual std::vector<VideoFormat> formats() const { return {}; }

    // Configuration lock: exclusive between processes (another program configuring the same
    // camera makes it fail with an error), nestable within this process.
    bool lockForConfiguration(Error* error);
    void unlockForConfiguration();
    bool isLockedForConfiguration() const;

    // How the camera's sensor is mounted: the clockwise turn (0, 90, 180 or 270 degrees) that
    // makes its picture upright on the device's natural screen. 0 where the device does not say
    // (desktop webcams deliver upright pictures).
    virtual int mountingRotation() const { return 0; }

    virtual bool hasTorch() const { return false; }
    virtual bool isTorchModeSupported(TorchMode m) const { return m == TorchMode::Off; }
    TorchMode torchMode() const;
    // The setters need the configuration lock and a supported value; false otherwise.
    bool setTorchMode(TorchMode m);

    virtual bool isFocusModeSupported(FocusMode) const { return false; }
    virtual bool isFocusPointOfInterestSupported() const { return false; }
    FocusMode focusMode() const;
    bool setFocusMode(FocusMode m);
    Point focusPointOfInterest() const;
    bool setFocusPointOfInterest(Point p);

    virtual bool isExposureModeSupported(ExposureMode) const { return false; }
    virtual bool isExposurePointOfInterestSupported() const { return false; }
    ExposureMode exposureMode() const;
    bool setExposureMode(ExposureMode m);
    Point exposurePointOfInterest() const;
    bool setExposurePointOfInterest(Point p);

    // Opens the device's stream. Cameras pick the format closest to `want` (the caller scales
    // what differs); microphones ignore the arguments.
    virtual std::unique_ptr<VideoSource> openVideo(Size want, double frameRate, Error* error);
    virtual std::unique_ptr<AudioSource> openAudio(Error* error);

    // The file the cross-process configuration lock is taken on.
    virtual std::string configurationLockPath() const;

protected:
    CaptureDevice(std::string id, std::string name, MediaType type, bool isVirtual);
    // Hooks for hardware that must be told; the base has already checked lock and support.
    virtual bool applyTorchMode(TorchMode) { return true; }
    virtual bool applyFocusMode(FocusMode) { return true; }
    virtual bool applyExposureMode(ExposureMode) { return true; }
    // The device was listed again, perhaps on another device file.
    virtual void setDevicePath(const std::string&) {}
    void setConnected(bool c);

    mutable std::mutex mutex_;
    TorchMode torch_ = TorchMode::Off;
    FocusMode focus_ = FocusMode::ContinuousAutoFocus;
    ExposureMode exposure_ = ExposureMode::ContinuousAutoExposure;
    Point focusPoint_{0.5, 0.5};
    Point exposurePoint_{0.5, 0.5};

private:
    friend struct DeviceRegistry;
    std::string id_;
    std::string name_;
    MediaType type_;
    bool virtual_;
    bool connected_ = true;
    int lockDepth_ = 0;
    int lockFd_ = -1;
};

// What a camera is asked for under a preset. "High" is the camera's best mode up to 1920x1080: its
// largest size there (16:9 before other shapes of the same class) at its highest rate up to 30
// fps, whichever pixel format reaches it; sizes that reach less than 15 fps count only when no
// size does. The fixed presets are their own size at 30 fps whatever the camera has (pictures
// are scaled).
struct CaptureMode {
    Size size;
    double frameRate = 30;
};
CaptureMode modeForPreset(CapturePreset preset, const std::vector<VideoFormat>& formats);
Size sizeForPreset(CapturePreset preset, const std::vector<VideoFormat>& formats);

// Why a device could not be opened, in the classes a user can act on. The error's code is an
// errno value or an FFmpeg error code.
enum class DeviceProblem { None, Busy, NoPermission, Gone, NoUsableMode, Other };
DeviceProblem deviceProblem(const Error& error);

}  // namespace media
