#pragma once
// The capture manager: one capture session with a camera input, a microphone input and a movie
// file output; recordings into Originals; device connect/disconnect; focus, exposure and torch.
// Everything it reports reaches its delegate on the main thread, in the order it happened.
// Where recordings go is the media store's (MediaStore.h).

#include "CameraPortal.h"
#include "media/Error.h"
#include "media/capture/CaptureSession.h"
#include "platform/Background.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <thread>

namespace media {
class DeviceMonitor;
class MovieFileOutput;
}  // namespace media

// Every operation is optional: the defaults do nothing.
class TavrioCaptureManagerDelegate {
public:
    virtual ~TavrioCaptureManagerDelegate() = default;
    virtual void didChangeSessionPreset() {}
    virtual void deviceCountChanged() {}
    virtual void recordingFinished(const QUrl& /*fileUrl*/) {}
    virtual void recordingBegan() {}
    virtual void someOtherError(const media::Error& /*error*/) {}
    virtual void acquiringDeviceLockFailedWithError(const media::Error& /*error*/) {}
    virtual void apertureDidChange() {}
    // The camera or microphone the running take uses went away; the take is ending.
    virtual void deviceLost(const QString& /*name*/) {}
    // An input of the running session stopped delivering (device gone, read error).
    virtual void inputStopped() {}
    // Not part of the protocol proper: asks the camera screen to store the zoom track of the
    // movie just finished (a file name, not a path).
    virtual void backupData(const QString& /*movieFileName*/) {}
};

class TavrioCaptureManager : public QObject {
    Q_OBJECT
public:
    explicit TavrioCaptureManager(QObject* parent = nullptr);
    ~TavrioCaptureManager() override;  // stops the session; no report arrives after it

    // ---- Capture

    // Builds the session with the chosen camera, the chosen microphone (when there is one) and
    // the movie output, sets preset P and starts it. Always true: the caller checks camera().
    bool setupSessionWithPreset(media::CapturePreset preset, media::Error* error = nullptr);
    // The same on a worker thread (opening a camera can take a second): `done` runs on the main
    // thread with whether the session runs and the camera's error, if any. The manager must not
    // be asked to set up or start again before `done` has run (isBusy() says so); a manager
    // destroyed meanwhile waits for the worker and calls nothing.
    using SessionDone = std::function<void(bool running, const media::Error& error)>;
    void setupSessionAsync(media::CapturePreset preset, SessionDone done);
    // Starts a stopped session on a worker thread; `done` as above. Without a session, `done`
    // runs (later) with false.
    void startRunningAsync(SessionDone done);
    bool isBusy() const { return busy_; }
    // Switches a running session to another preset; a stopped one, or the same preset, is left.
    // It reopens the camera on the calling thread: the window sets the session up anew instead.
    void changeToSessionPreset(media::CapturePreset preset);
    void startRecording();
    void stopRecording();
    bool isRecording() const;
    int recordingOrientation() const { return recOrientation; }
    void focusAtPoint(const QPointF& point);
    void exposureAtPoint(const QPointF& point);
    int torchMode() const;  // 0 off, 1 on, 2 auto
    void setTorchMode(int mode);
    bool hasTorch() const;
    bool hasFocus() const;
    // The camera's mounting: clockwise degrees (0, 90, 180, 270) that turn its picture upright
    // on the screen. The override when one is set, else what the camera reports, else 0.
    int cameraRotation() const;
    // -1 clears the override; anything but 0, 90, 180, 270 is refused (false).
    bool setCameraRotationOverride(int degrees);
    // The capture time (monotonic, as pictures are stamped) of the current or last recording's
    // movie time 0; INT64_MIN until recording has begun.
    int64_t recordingStartTimeNs() const;
    // Real devices as last listed (the test picture and tone are not counted).
    unsigned micCount() const;
    unsigned cameraCount() const;
    static std::shared_ptr<media::CaptureConnection> connectionWithMediaType(
        media::MediaType type, const std::vector<std::shared_ptr<media::CaptureConnection>>& connections);

    media::CaptureSession* session() const { return session_.get(); }
    const std::shared_ptr<media::CaptureDeviceInput>& videoInput() const { return videoInput_; }
    const std::shared_ptr<media::CaptureDeviceInput>& audioInput() const { return audioInput_; }
    const std::shared_ptr<media::MovieFileOutput>& movieFileOutput() const { return movieFileOutput_; }

    TavrioCaptureManagerDelegate* delegate() const;
    // Not owned. A delegate that is also a QObject is dropped automatically when destroyed.
    void setDelegate(TavrioCaptureManagerDelegate* delegate);

    // Devices given for this run (command line), over the remembered choice: a device id (see
    // media::CaptureDevice::deviceWithUniqueID), a device's name, "none" for no microphone, or
    // empty for the remembered device, else the first real one. Taken at the next set-up.
    void setCameraID(const QString& id) { cameraID_ = id; }
    void setMicrophoneID(const QString& id) { microphoneID_ = id; }

    // Devices as a user names them on a command line: "virtual" is the built-in device, "none"
    // (microphones) no device; anything else is a device id or name, looked up at set-up.
    static QString cameraIDForArgument(const QString& word);
    static QString microphoneIDForArgument(const QString& word);
    // "0", "90", "180" or "270": the camera's mounting in degrees; nullopt for anything else.
    static std::optional<int> cameraRotationForArgument(const QString& word);

    // What the machine offers: cameras with their picture formats, microphones, virtual ones last.
    struct DeviceDescription {
        bool isCamera = false;
        bool isVirtual = false;
        QString uniqueID, name;
        QString devicePath;  // a camera's device file, where it has one
        QString backend;     // how it is reached: "v4l2", "pipewire", "pulse", "alsa", "file", "virtual"
        bool hasTorch = false;
        struct Format {
            QString pixelFormat;  // FFmpeg's name ("yuyv422", "mjpeg")
            int width = 0, height = 0;
            std::vector<double> frameRates;  // highest first; empty when the device does not say
        };
        std::vector<Format> formats;
    };
    // Lists them now, on the calling thread (it opens every camera and asks the sound server).
    static std::vector<DeviceDescription> devices();
    // As last listed, by a set-up or the hot-plug monitor (main thread, no device touched);
    // empty before the first listing. A change is posted as kCaptureDevicesDidChange.
    static const std::vector<DeviceDescription>& knownDevices();
    // Lists them on a worker thread; `done` runs on the main thread (unless `receiver` is gone)
    // after knownDevices() has taken the list.
    static void listDevicesAsync(QObject* receiver, std::function<void()> done);
    static constexpr char kCaptureDevicesDidChange[] = "TavrioCaptureDevicesDidChange";

    // The device to use: the one given for this run (matched by id, device file or name; "none"
    // for no microphone), else the remembered one when present, else the one in use when still
    // present, else the first real one; empty for none. A given device that is absent is
    // returned as given, so that its absence can be told.
    static QString chooseDevice(bool camera, const QString& given, const QString& remembered, const QString& inUse,
                                const std::vector<DeviceDescription>& present);

    // The device the settings choose among knownDevices(): the remembered one when present, else
    // the first real one; null for none (or "none" remembered for the microphone).
    static const DeviceDescription* chosenDevice(bool camera);
    // What "High" records from a camera: "1920x1080 at 30 fps (mjpeg)".
    static QString highModeText(const DeviceDescription& camera);

    // The camera and the microphone of the last set-up: which (id empty: none found or none
    // wanted) and why it delivers nothing (empty error: it runs).
    struct DeviceInUse {
        QString id, name;
        media::Error error;
    };
    DeviceInUse camera() const;
    DeviceInUse microphone() const;
    // What the desktop portal said when the first set-up asked it for the camera.
    const CameraPortal::Result& cameraPortal() const { return portal_; }
    // The devices chosen now (remembered choice, devices present) differ from the session's, or
    // one of its devices is gone or failed and could be tried again: a new set-up is due.
    bool inputsOutOfStep() const;

    // Device list changes, as the hot-plug monitor reports them (public for tests that plug).
    void devicesListed(const std::vector<std::shared_ptr<media::CaptureDevice>>& devices);
    void deviceConnected(const std::shared_ptr<media::CaptureDevice>& device);
    void deviceDisconnected(const std::shared_ptr<media::CaptureDevice>& device);
    // Hot-plug from a list of a test's own instead of the system's (before the first set-up).
    void setDeviceListerForTesting(std::function<std::vector<std::shared_ptr<media::CaptureDevice>>()> lister);
    media::DeviceMonitor* deviceMonitor() const { return deviceMonitor_.get(); }

signals:
    // The camera's torch mode changed (set here, or a new camera came in).
    void torchModeChanged(int mode);
    // The session is about to be replaced (a new set-up finished): let go of its preview slot.
    void sessionWillChange();

private:
    class RecordingReports;
    void didStartRecording();
    void didFinishRecording(const QString& path, const media::Error& error);
    bool lockDevice(const std::shared_ptr<media::CaptureDevice>& device);

    // Shared with the set-up lane's jobs that stop and start it.
    std::shared_ptr<media::CaptureSession> session_;
    std::shared_ptr<media::CaptureDeviceInput> videoInput_;
    TavrioCaptureManagerDelegate* delegate_ = nullptr;
    QPointer<QObject> delegateObject_;
    bool delegateIsObject_ = false;
    std::shared_ptr<media::CaptureDeviceInput> audioInput_;
    std::shared_ptr<media::MovieFileOutput> movieFileOutput_;
    // Replaces the two notification observer tokens: destroying it unregisters both handlers.
    std::unique_ptr<media::DeviceMonitor> deviceMonitor_;
    uint32_t backgroundRecordingID = 0;
    int32_t recOrientation = static_cast<int32_t>(media::VideoOrientation::LandscapeRight);
    QString cameraID_, microphoneID_;
    DeviceInUse camera_, microphone_;
    std::function<std::vector<std::shared_ptr<media::CaptureDevice>>()> testLister_;
    bool monitorBaselineSeen_ = false;
    std::shared_ptr<RecordingReports> reports_;
    int rotationOverride_ = -1;
    bool busy_ = false;
    bool portalAsked_ = false;
    CameraPortal::Result portal_;
    // Set-up, start and stop of the session, in the order asked.
    platform::Background::Serial worker_;
    int queued_ = 0;  // jobs on worker_ not yet delivered: busy_ until none
    void followDevices();
    static void wireSession(QPointer<TavrioCaptureManager> self, media::CaptureSession& session);
    struct Choice;
    struct Built;
    Choice currentChoice() const;
    static std::unique_ptr<Built> buildSession(const Choice& choice, media::CapturePreset preset,
                                               const std::function<void(media::CaptureSession&)>& wire);
    void install(Built& built);
};
