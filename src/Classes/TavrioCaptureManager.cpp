#include "TavrioCaptureManager.h"

#include "MediaStore.h"
#include "PreviewGeometry.h"
#include "Settings.h"
#include "platform/Defaults.h"
#include "platform/Notifications.h"

#include "platform/DeviceOrientation.h"
#include "platform/Logging.h"
#include "platform/Background.h"
#include "platform/MainThread.h"
#include "platform/SleepInhibitor.h"
#include "platform/StallWatch.h"
#include "media/capture/DeviceMonitor.h"
#include "media/capture/MovieFileOutput.h"

#include <QFileInfo>
#include <QCoreApplication>

#include <algorithm>
#include <limits>
#include <utility>

// The output's reports, moved to the main thread before they touch the manager.
class TavrioCaptureManager::RecordingReports : public media::RecordingDelegate {
public:
    explicit RecordingReports(TavrioCaptureManager* m) : manager_(m) {}
    void didStartRecording(media::MovieFileOutput&, const std::string&) override {
        platform::StallWatch::Scope scope("TavrioCaptureManager", "recording began");
        if (manager_) manager_->didStartRecording();
    }
    void didFinishRecording(media::MovieFileOutput&, const std::string& path, const media::Error& error) override {
        platform::StallWatch::Scope scope("TavrioCaptureManager", "recording finished");
        if (manager_) manager_->didFinishRecording(QString::fromStdString(path), error);
    }

private:
    QPointer<TavrioCaptureManager> manager_;
};

TavrioCaptureManager::TavrioCaptureManager(QObject* parent)
    : QObject(parent), reports_(std::make_shared<RecordingReports>(this)) {
    // The engine's log lines (dropped frames, device errors) join the app's capture category.
    media::setCaptureLogHandler(
        [](const std::string& line) { qCWarning(lcCapture).noquote() << QString::fromStdString(line); });
}

void TavrioCaptureManager::followDevices() {
    // Devices matter only to a session, and listing them (libavdevice, the sound server) is best
    // not done while the window is still coming up, so watching starts with the first session.
    if (deviceMonitor_) return;
    deviceMonitor_ = std::make_unique<media::DeviceMonitor>(
        platform::MainThread::dispatcher(), [this](std::shared_ptr<media::CaptureDevice> d) { deviceConnected(d); },
        [this](std::shared_ptr<media::CaptureDevice> d) { deviceDisconnected(d); },
        [this](std::vector<std::shared_ptr<media::CaptureDevice>> list) { devicesListed(list); }, testLister_);
}

TavrioCaptureManager::~TavrioCaptureManager() {
    // The monitor goes first, so no device report is delivered to a half-destroyed manager.
    deviceMonitor_.reset();
    // Queued jobs hold the sessions they stop and start; they finish before the session is
    // stopped here.
    worker_.waitUntilIdle();
    if (session_) session_->stopRunning();
    if (backgroundRecordingID) platform::SleepInhibitor::end(backgroundRecordingID);
}

// ---------------------------------------------------------------------------------------------
// Capture

TavrioCaptureManagerDelegate* TavrioCaptureManager::delegate() const {
    if (delegateIsObject_ && !delegateObject_) return nullptr;
    return delegate_;
}

void TavrioCaptureManager::setDelegate(TavrioCaptureManagerDelegate* delegate) {
    TAVRIO_ASSERT_MAIN_THREAD();
    delegate_ = delegate;
    delegateObject_ = dynamic_cast<QObject*>(delegate);
    delegateIsObject_ = delegateObject_ != nullptr;
}

// Which devices a set-up is to use, read on the main thread before the worker starts.
struct TavrioCaptureManager::Choice {
    QString camera, microphone;                      // given for this run
    QString rememberedCamera, rememberedMicrophone;  // the settings
    QString cameraInUse, microphoneInUse;
};

// A session as the manager builds it: made and started wholly from engine objects, so it can be
// done on any thread and handed to the manager afterwards.
struct TavrioCaptureManager::Built {
    std::vector<DeviceDescription> devices;
    DeviceInUse camera, microphone;
    std::shared_ptr<media::CaptureDeviceInput> video, audio;
    std::shared_ptr<media::MovieFileOutput> output;
    std::unique_ptr<media::CaptureSession> session;
    bool running = false;
};

namespace {

TavrioCaptureManager::DeviceDescription describe(const media::CaptureDevice& d) {
    TavrioCaptureManager::DeviceDescription desc;
    desc.isCamera = d.mediaType() == media::MediaType::Video;
    desc.isVirtual = d.isVirtual();
    desc.uniqueID = QString::fromStdString(d.uniqueID());
    desc.name = QString::fromStdString(d.localizedName());
    desc.devicePath = QString::fromStdString(d.devicePath());
    desc.backend = QString::fromStdString(d.backendName());
    desc.hasTorch = desc.isCamera && d.hasTorch();
    for (const auto& f : d.formats())
        desc.formats.push_back({QString::fromStdString(f.pixelFormat), f.size.width, f.size.height, f.frameRates});
    return desc;
}

std::vector<TavrioCaptureManager::DeviceDescription> describeAll(
    const std::vector<std::shared_ptr<media::CaptureDevice>>& list) {
    std::vector<TavrioCaptureManager::DeviceDescription> out;
    for (const auto& d : list) out.push_back(describe(*d));
    return out;
}

std::vector<TavrioCaptureManager::DeviceDescription>& cache() {
    static std::vector<TavrioCaptureManager::DeviceDescription> devices;
    return devices;
}

// True when the list differs from the one kept.
bool storeInCache(std::vector<TavrioCaptureManager::DeviceDescription> devices) {
    auto same = [](const TavrioCaptureManager::DeviceDescription& a, const TavrioCaptureManager::DeviceDescription& b) {
        return a.uniqueID == b.uniqueID && a.name == b.name && a.devicePath == b.devicePath;
    };
    const bool changed = !std::equal(devices.begin(), devices.end(), cache().begin(), cache().end(), same);
    cache() = std::move(devices);
    if (changed) platform::Notifications::center().post(QLatin1String(TavrioCaptureManager::kCaptureDevicesDidChange));
    return changed;
}

QString settingText(const char* key) {
    return platform::Defaults::standard().stringForKey(QLatin1String(key));
}

// Makes the chosen device's input; the device comes from the list just made where it is there
// (a file camera, a device file or a device gone since are looked up by id).
std::shared_ptr<media::CaptureDeviceInput> inputFor(const QString& id,
                                                    const std::vector<std::shared_ptr<media::CaptureDevice>>& list,
                                                    TavrioCaptureManager::DeviceInUse& use) {
    use.id = id;
    use.name = id;
    if (id.isEmpty()) return nullptr;
    std::shared_ptr<media::CaptureDevice> device;
    for (const auto& d : list)
        if (QString::fromStdString(d->uniqueID()) == id) device = d;
    if (!device) device = media::CaptureDevice::deviceWithUniqueID(id.toStdString(), &use.error);
    if (!device) {
        use.error.code = ENODEV;
        return nullptr;
    }
    use.id = QString::fromStdString(device->uniqueID());
    use.name = QString::fromStdString(device->localizedName());
    return media::CaptureDeviceInput::create(device, &use.error);
}

}  // namespace

QString TavrioCaptureManager::chooseDevice(bool camera, const QString& given, const QString& remembered,
                                           const QString& inUse, const std::vector<DeviceDescription>& present) {
    const QLatin1String none("none");
    auto find = [&](const QString& word) -> QString {
        if (word.isEmpty()) return {};
        for (const auto& d : present)
            if (d.isCamera == camera && (d.uniqueID == word || (!d.devicePath.isEmpty() && d.devicePath == word)))
                return d.uniqueID;
        for (const auto& d : present)
            if (d.isCamera == camera && d.name == word) return d.uniqueID;
        return {};
    };
    if (!given.isEmpty()) {
        if (!camera && given == none) return {};
        const QString id = find(given);
        return id.isEmpty() ? given : id;
    }
    if (!camera && remembered == none) return {};
    if (QString id = find(remembered); !id.isEmpty()) return id;
    if (QString id = find(inUse); !id.isEmpty()) return id;
    for (const auto& d : present)
        if (d.isCamera == camera && !d.isVirtual) return d.uniqueID;
    return {};
}

TavrioCaptureManager::Choice TavrioCaptureManager::currentChoice() const {
    Choice c;
    c.camera = cameraID_;
    c.microphone = microphoneID_;
    c.rememberedCamera = settingText(settings::kCameraDevice);
    c.rememberedMicrophone = settingText(settings::kMicrophoneDevice);
    c.cameraInUse = camera_.error ? QString() : camera_.id;
    c.microphoneInUse = microphone_.error ? QString() : microphone_.id;
    return c;
}

std::unique_ptr<TavrioCaptureManager::Built> TavrioCaptureManager::buildSession(
    const Choice& choice, media::CapturePreset preset, const std::function<void(media::CaptureSession&)>& wire) {
    auto b = std::make_unique<Built>();
    const auto list = media::CaptureDevice::devices();
    b->devices = describeAll(list);
    const QString cameraID = TavrioCaptureManager::chooseDevice(true, choice.camera, choice.rememberedCamera,
                                                                choice.cameraInUse, b->devices);
    const QString micID = TavrioCaptureManager::chooseDevice(false, choice.microphone, choice.rememberedMicrophone,
                                                             choice.microphoneInUse, b->devices);
    b->video = inputFor(cameraID, list, b->camera);
    b->audio = inputFor(micID, list, b->microphone);
    b->output = std::make_shared<media::MovieFileOutput>();
    b->session = std::make_unique<media::CaptureSession>();
    wire(*b->session);
    if (b->video && b->session->canAddInput(b->video)) b->session->addInput(b->video);
    if (b->audio && b->session->canAddInput(b->audio)) b->session->addInput(b->audio);
    if (b->session->canAddOutput(b->output)) b->session->addOutput(b->output);
    b->session->setSessionPreset(preset);
    b->session->startRunning();
    b->running = b->session->isRunning();
    if (b->video && !b->camera.error) b->camera.error = b->session->inputFailure(b->video);
    if (b->audio && !b->microphone.error) b->microphone.error = b->session->inputFailure(b->audio);
    return b;
}

void TavrioCaptureManager::install(Built& b) {
    TAVRIO_ASSERT_MAIN_THREAD();
    emit sessionWillChange();
    storeInCache(std::move(b.devices));
    videoInput_ = b.video;
    audioInput_ = b.audio;
    movieFileOutput_ = b.output;
    session_ = std::move(b.session);
    camera_ = b.camera;
    microphone_ = b.microphone;
    // A device given by its file or name is followed by its id from now on: replugged, it may
    // come back on another file.
    if (!cameraID_.isEmpty() && !camera_.error && !camera_.id.isEmpty()) cameraID_ = camera_.id;
    if (!microphoneID_.isEmpty() && microphoneID_ != QLatin1String("none") && !microphone_.error &&
        !microphone_.id.isEmpty())
        microphoneID_ = microphone_.id;
    emit torchModeChanged(torchMode());
}

bool TavrioCaptureManager::setupSessionWithPreset(media::CapturePreset preset, media::Error* error) {
    TAVRIO_ASSERT_MAIN_THREAD();
    followDevices();
    // Synchronous by contract (the command line): what was queued goes first.
    worker_.waitUntilIdle();
    // A camera node opens once: the old session lets go before the new one opens it.
    if (session_) session_->stopRunning();
    QPointer<TavrioCaptureManager> self(this);
    auto b = buildSession(currentChoice(), preset, [self](media::CaptureSession& s) { wireSession(self, s); });
    if (error) *error = b->camera.error ? b->camera.error : b->microphone.error;
    install(*b);
    return true;
}

void TavrioCaptureManager::setupSessionAsync(media::CapturePreset preset, SessionDone done) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!portalAsked_) {
        // The desktop portal is asked before the first set-up: a sandboxed program reaches
        // PipeWire's cameras only through the connection it gives.
        portalAsked_ = true;
        busy_ = true;
        QPointer<TavrioCaptureManager> self(this);
        CameraPortal::request(this, [self, preset, done](const CameraPortal::Result& r) {
            if (!self) return;
            self->busy_ = false;
            self->portal_ = r;
            self->setupSessionAsync(preset, done);
        });
        return;
    }
    followDevices();
    busy_ = true;
    ++queued_;
    QPointer<TavrioCaptureManager> self(this);
    auto wire = [self](media::CaptureSession& s) { wireSession(self, s); };
    // The old session stops on the lane too (a camera may take a frame's time to let go); it
    // stays installed, untouched by the main thread while busy, until the new one replaces it.
    // The job holds it, so a set-up queued behind another may stop it after it was replaced.
    worker_.run(
        this,
        [wire, choice = currentChoice(), old = session_, p = preset] {
            // A camera node opens once: the old session lets go before the new one opens it.
            if (old) old->stopRunning();
            return std::shared_ptr<Built>(buildSession(choice, p, wire));
        },
        // A manager gone meanwhile drops the result; its session dies with it.
        [this, done](const std::shared_ptr<Built>& b) {
            busy_ = --queued_ > 0;
            install(*b);
            if (done) done(b->running, b->camera.error ? b->camera.error : b->microphone.error);
        },
        "capture session set up");
}

void TavrioCaptureManager::startRunningAsync(SessionDone done) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!session_) {
        platform::MainThread::dispatchAsync([done] {
            if (done) done(false, media::Error{});
        });
        return;
    }
    busy_ = true;
    ++queued_;
    worker_.run(
        this,
        [session = session_] {
            session->startRunning();
            return session->isRunning();
        },
        [this, done](bool running) {
            busy_ = --queued_ > 0;
            if (done) done(running, camera().error);
        },
        "capture session started");
}

void TavrioCaptureManager::wireSession(QPointer<TavrioCaptureManager> self, media::CaptureSession& session) {
    session.setFormatDescriptionChangeHandler(platform::MainThread::dispatcher(), [self](auto) {
        if (self && self->delegate()) self->delegate()->apertureDidChange();
    });
    session.setRuntimeErrorHandler(platform::MainThread::dispatcher(), [self](media::Error err) {
        qCWarning(lcCapture) << "capture session:" << err.description.c_str() << err.failureReason.c_str();
        if (self && !self->busy_ && self->delegate()) self->delegate()->inputStopped();
    });
}

void TavrioCaptureManager::changeToSessionPreset(media::CapturePreset preset) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!session_) return;
    if (session_->sessionPreset() == preset) return;
    session_->beginConfiguration();
    if (session_->isRunning()) {
        session_->setSessionPreset(preset);
        if (auto* d = delegate()) d->didChangeSessionPreset();
    }
    session_->commitConfiguration();
}

void TavrioCaptureManager::startRecording() {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!session_ || !movieFileOutput_) return;
    backgroundRecordingID = platform::SleepInhibitor::begin(
        QStringLiteral("A movie is being recorded: it is finished before the computer sleeps"));
    auto connection = connectionWithMediaType(media::MediaType::Video, movieFileOutput_->connections());
    int choice = 3;
    if (connection && connection->isVideoOrientationSupported()) {
        // The movie is turned as the preview turned the picture (the camera's mounting), with how
        // the screen is held: it plays as the user saw it.
        const int o = platform::DeviceOrientation::orientation();
        const bool portrait =
            o == platform::DeviceOrientation::Portrait || o == platform::DeviceOrientation::PortraitUpsideDown;
        choice = preview::captureOrientationForTurn(preview::recordingTurn(cameraRotation(), !portrait));
        connection->setVideoOrientation(static_cast<media::VideoOrientation>(choice));
    }
    recOrientation = choice;
    movieFileOutput_->startRecording(MediaStore::filePathForRecording().toStdString(), reports_,
                                     platform::MainThread::dispatcher());
}

void TavrioCaptureManager::stopRecording() {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (movieFileOutput_) movieFileOutput_->stopRecording();
}

bool TavrioCaptureManager::isRecording() const {
    return movieFileOutput_ && movieFileOutput_->isRecording();
}

void TavrioCaptureManager::didStartRecording() {
    if (auto* d = delegate()) d->recordingBegan();
}

void TavrioCaptureManager::didFinishRecording(const QString& path, const media::Error& error) {
    if (backgroundRecordingID) {
        platform::SleepInhibitor::end(backgroundRecordingID);
        backgroundRecordingID = 0;
    }
    if (error) {
        if (auto* d = delegate()) d->someOtherError(error);
        return;
    }
    // The finished file is the one the output says it wrote. Taking "the newest file in
    // Originals" instead would name the wrong movie whenever another file
    // lands there meanwhile or two files share a creation time, and the zoom track would then be
    // stored for the wrong recording.
    if (session_ && session_->isRunning()) session_->stopRunning();
    if (auto* d = delegate()) d->backupData(QFileInfo(path).fileName());
    if (auto* d = delegate()) d->recordingFinished(QUrl::fromLocalFile(path));
}

bool TavrioCaptureManager::lockDevice(const std::shared_ptr<media::CaptureDevice>& device) {
    media::Error error;
    if (device->lockForConfiguration(&error)) return true;
    if (auto* d = delegate()) d->acquiringDeviceLockFailedWithError(error);
    return false;
}

void TavrioCaptureManager::focusAtPoint(const QPointF& point) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!videoInput_) return;
    auto device = videoInput_->device();
    if (!device->isFocusPointOfInterestSupported() || !device->isFocusModeSupported(media::FocusMode::AutoFocus))
        return;
    if (!lockDevice(device)) return;
    device->setFocusPointOfInterest({point.x(), point.y()});
    device->setFocusMode(media::FocusMode::AutoFocus);
    device->unlockForConfiguration();
}

void TavrioCaptureManager::exposureAtPoint(const QPointF& point) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!videoInput_) return;
    auto device = videoInput_->device();
    if (!device->isExposurePointOfInterestSupported() ||
        !device->isExposureModeSupported(media::ExposureMode::ContinuousAutoExposure))
        return;
    if (!lockDevice(device)) return;
    device->setExposurePointOfInterest({point.x(), point.y()});
    device->setExposureMode(media::ExposureMode::ContinuousAutoExposure);
    device->unlockForConfiguration();
}

int TavrioCaptureManager::torchMode() const {
    return videoInput_ ? int(videoInput_->device()->torchMode()) : 0;
}

void TavrioCaptureManager::setTorchMode(int mode) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!videoInput_ || mode < 0 || mode > 2) return;
    auto device = videoInput_->device();
    const auto m = static_cast<media::TorchMode>(mode);
    if (!device->isTorchModeSupported(m) || device->torchMode() == m) return;
    if (!lockDevice(device)) return;
    device->setTorchMode(m);
    device->unlockForConfiguration();
    emit torchModeChanged(torchMode());
}

bool TavrioCaptureManager::hasTorch() const {
    return videoInput_ && videoInput_->device()->hasTorch();
}

bool TavrioCaptureManager::hasFocus() const {
    if (!videoInput_) return false;
    auto& d = videoInput_->device();
    return d->isFocusModeSupported(media::FocusMode::Locked) || d->isFocusModeSupported(media::FocusMode::AutoFocus) ||
           d->isFocusModeSupported(media::FocusMode::ContinuousAutoFocus);
}

QString TavrioCaptureManager::cameraIDForArgument(const QString& word) {
    return word == QLatin1String("virtual") ? QString::fromLatin1(media::CaptureDevice::kVirtualCameraID) : word;
}

QString TavrioCaptureManager::microphoneIDForArgument(const QString& word) {
    if (word == QLatin1String("virtual")) return QString::fromLatin1(media::CaptureDevice::kVirtualMicrophoneID);
    // A name is matched against the devices when the session is set up, off the main thread.
    return word;
}

std::optional<int> TavrioCaptureManager::cameraRotationForArgument(const QString& word) {
    for (int degrees : {0, 90, 180, 270})
        if (word == QString::number(degrees)) return degrees;
    return std::nullopt;
}

std::vector<TavrioCaptureManager::DeviceDescription> TavrioCaptureManager::devices() {
    return describeAll(media::CaptureDevice::devices());
}

const std::vector<TavrioCaptureManager::DeviceDescription>& TavrioCaptureManager::knownDevices() {
    TAVRIO_ASSERT_MAIN_THREAD();
    return cache();
}

void TavrioCaptureManager::listDevicesAsync(QObject* receiver, std::function<void()> done) {
    TAVRIO_ASSERT_MAIN_THREAD();
    // The list is kept even when the receiver has gone: the application-wide object is the
    // context of the delivery, the receiver that of `done`.
    QPointer<QObject> guard(receiver);
    platform::Background::run(
        QCoreApplication::instance(), [] { return devices(); },
        [guard, done = std::move(done)](std::vector<DeviceDescription> list) {
            storeInCache(std::move(list));
            if (guard && done) done();
        },
        platform::Background::Lane::Normal, "devices listed");
}

int TavrioCaptureManager::cameraRotation() const {
    if (rotationOverride_ >= 0) return rotationOverride_;
    return videoInput_ ? videoInput_->device()->mountingRotation() : 0;
}

bool TavrioCaptureManager::setCameraRotationOverride(int degrees) {
    if (degrees != -1 && degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270) return false;
    rotationOverride_ = degrees;
    return true;
}

int64_t TavrioCaptureManager::recordingStartTimeNs() const {
    return movieFileOutput_ ? movieFileOutput_->recordingStartTimeNs() : std::numeric_limits<int64_t>::min();
}

const TavrioCaptureManager::DeviceDescription* TavrioCaptureManager::chosenDevice(bool camera) {
    const QString id =
        chooseDevice(camera, QString(), settingText(camera ? settings::kCameraDevice : settings::kMicrophoneDevice),
                     QString(), cache());
    for (const auto& d : cache())
        if (d.isCamera == camera && d.uniqueID == id) return &d;
    return nullptr;
}

QString TavrioCaptureManager::highModeText(const DeviceDescription& camera) {
    std::vector<media::VideoFormat> formats;
    for (const auto& f : camera.formats)
        formats.push_back({f.pixelFormat.toStdString(), {f.width, f.height}, f.frameRates});
    const media::CaptureMode mode = media::modeForPreset(media::CapturePreset::High, formats);
    // The pixel format the camera delivers that mode in: raw where it offers one.
    QString format;
    for (const auto& f : camera.formats)
        if (f.width == mode.size.width && f.height == mode.size.height &&
            (f.frameRates.empty() || f.frameRates.front() + 0.5 >= mode.frameRate) &&
            (format.isEmpty() || format == QLatin1String("mjpeg")))
            format = f.pixelFormat;
    return QStringLiteral("%1x%2 at %3 fps%4")
        .arg(mode.size.width)
        .arg(mode.size.height)
        .arg(QString::number(mode.frameRate, 'g', 3),
             format.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(format));
}

unsigned TavrioCaptureManager::micCount() const {
    return unsigned(std::count_if(cache().begin(), cache().end(), [](auto& d) { return !d.isCamera && !d.isVirtual; }));
}

unsigned TavrioCaptureManager::cameraCount() const {
    return unsigned(std::count_if(cache().begin(), cache().end(), [](auto& d) { return d.isCamera && !d.isVirtual; }));
}

TavrioCaptureManager::DeviceInUse TavrioCaptureManager::camera() const {
    DeviceInUse c = camera_;
    if (!c.error && videoInput_ && session_ && !busy_) c.error = session_->inputFailure(videoInput_);
    return c;
}

TavrioCaptureManager::DeviceInUse TavrioCaptureManager::microphone() const {
    DeviceInUse m = microphone_;
    if (!m.error && audioInput_ && session_ && !busy_) m.error = session_->inputFailure(audioInput_);
    return m;
}

bool TavrioCaptureManager::inputsOutOfStep() const {
    if (!session_) return false;
    const Choice c = currentChoice();
    const auto& present = cache();
    auto isPresent = [&](const QString& id) {
        return std::any_of(present.begin(), present.end(), [&](auto& d) { return d.uniqueID == id; });
    };
    auto outOfStep = [&](const DeviceInUse& now, bool isCamera, const QString& given, const QString& remembered,
                         const QString& inUse) {
        const QString wanted = chooseDevice(isCamera, given, remembered, inUse, present);
        if (wanted != now.id) return true;
        // The same device, which failed or went: worth another try once it is listed again.
        return !now.id.isEmpty() && now.error && isPresent(now.id);
    };
    return outOfStep(camera(), true, c.camera, c.rememberedCamera, c.cameraInUse) ||
           outOfStep(microphone(), false, c.microphone, c.rememberedMicrophone, c.microphoneInUse);
}

std::shared_ptr<media::CaptureConnection> TavrioCaptureManager::connectionWithMediaType(
    media::MediaType type, const std::vector<std::shared_ptr<media::CaptureConnection>>& connections) {
    for (auto& c : connections)
        for (auto& p : c->inputPorts())
            if (p->mediaType() == type) return c;
    return nullptr;
}

void TavrioCaptureManager::setDeviceListerForTesting(
    std::function<std::vector<std::shared_ptr<media::CaptureDevice>>()> lister) {
    testLister_ = std::move(lister);
}

void TavrioCaptureManager::devicesListed(const std::vector<std::shared_ptr<media::CaptureDevice>>& devices) {
    TAVRIO_ASSERT_MAIN_THREAD();
    const bool changed = storeInCache(describeAll(devices));
    // The monitor's first list is its baseline, which it reports no device of: one plugged in
    // or out since the set-up listed them is followed here. Later changes come device by device.
    if (std::exchange(monitorBaselineSeen_, true) || !changed) return;
    if (auto* d = delegate()) d->deviceCountChanged();
}

// The session is never reconfigured here: a take runs on with the inputs it began with (adding
// or removing one restarts every input, a gap in the movie), and between takes the delegate sets
// the session up anew on a worker, so that the inputs always match what the manager holds.
void TavrioCaptureManager::deviceConnected(const std::shared_ptr<media::CaptureDevice>&) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (auto* d = delegate()) d->deviceCountChanged();
}

void TavrioCaptureManager::deviceDisconnected(const std::shared_ptr<media::CaptureDevice>& device) {
    TAVRIO_ASSERT_MAIN_THREAD();
    const bool ownDevice = device && ((videoInput_ && videoInput_->device() == device) ||
                                      (audioInput_ && audioInput_->device() == device));
    if (ownDevice && isRecording()) {
        if (auto* d = delegate()) d->deviceLost(QString::fromStdString(device->localizedName()));
    }
    if (auto* d = delegate()) d->deviceCountChanged();
}
