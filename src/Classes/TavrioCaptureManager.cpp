#include "TavrioCaptureManager.h"

#include "platform/DeviceOrientation.h"
#include "platform/Logging.h"
#include "platform/MainThread.h"
#include "platform/SleepInhibitor.h"
#include "media/capture/DeviceMonitor.h"
#include "media/capture/MovieFileOutput.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

#include <limits>

namespace {

QString libraryFolder(const char* name) {
    return platform::Paths::libraryRoot() + QLatin1Char('/') + QLatin1String(name);
}

// One level only: the parent (Library) always exists, and a missing parent means something is
// badly wrong, which the caller's failed write then reports.
void createFolderIfMissing(const QString& path) {
    if (QFileInfo(path).isDir()) return;
    if (!QDir().mkdir(path)) qCWarning(lcStore) << "cannot create folder" << path;
}

// A name is taken by anything there, a dangling symbolic link included: writing through the
// link would put the movie somewhere else.
bool nameTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The first free  folder/<prefix><suffix>.mov  with suffix "", "-1", "-2", ...; always probing
// from the start, so gaps left by deleted files are filled first.
QString firstFreeName(const QString& folder, const QString& prefix) {
    for (qint64 n = 0;; ++n) {
        const QString suffix = n == 0 ? QString() : QStringLiteral("-%1").arg(n);
        const QString candidate = folder + QLatin1Char('/') + prefix + suffix + QStringLiteral(".mov");
        if (!nameTaken(candidate)) return candidate;
    }
}

}  // namespace

// The output's reports, moved to the main thread before they touch the manager.
class TavrioCaptureManager::RecordingReports : public media::RecordingDelegate {
public:
    explicit RecordingReports(TavrioCaptureManager* m) : manager_(m) {}
    void didStartRecording(media::MovieFileOutput&, const std::string&) override {
        if (manager_) manager_->didStartRecording();
    }
    void didFinishRecording(media::MovieFileOutput&, const std::string& path, const media::Error& error) override {
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
        platform::MainThread::dispatcher(), [this](std::shared_ptr<media::CaptureDevice>) { deviceConnected(); },
        [this](std::shared_ptr<media::CaptureDevice>) { deviceDisconnected(); });
}

TavrioCaptureManager::~TavrioCaptureManager() {
    // The monitor goes first, so no device report is delivered to a half-destroyed manager.
    deviceMonitor_.reset();
    joinWorker();
    if (session_) session_->stopRunning();
    if (backgroundRecordingID) platform::SleepInhibitor::end(backgroundRecordingID);
}

QString TavrioCaptureManager::baseDirForVideos() {
    return platform::Paths::documentsRoot();
}

QString TavrioCaptureManager::baseDirForOriginalVideos() {
    return libraryFolder("Originals");
}

QString TavrioCaptureManager::baseDirForThumbnails() {
    return libraryFolder("Thumbs");
}

QString TavrioCaptureManager::filePathForRecording() {
    const QString folder = baseDirForOriginalVideos();
    createFolderIfMissing(folder);
    return firstFreeName(folder, QStringLiteral("Out"));
}

QString TavrioCaptureManager::exportFilePath() {
    return firstFreeName(baseDirForVideos(), QStringLiteral("Video"));
}

QString TavrioCaptureManager::exportFilePathForRotation() {
    const QString path = baseDirForVideos() + QLatin1Char('/') + QLatin1String(kRotationFileName);
    // A file left there by an interrupted export would make the next export's writer fail.
    if (nameTaken(path) && !QFile::remove(path)) qCWarning(lcStore) << "cannot remove left-over" << path;
    return path;
}

QString TavrioCaptureManager::zoomsArchiveFilePath(const QString& movieFileName) {
    const QString folder = libraryFolder("Zooms");
    createFolderIfMissing(folder);
    return folder + QLatin1Char('/') + movieFileName + QStringLiteral(".zooms.lkbx");
}

QString TavrioCaptureManager::timingFilePathForVideo(const QString& movieFileName) {
    const QString folder = libraryFolder("Durations");
    createFolderIfMissing(folder);
    return folder + QLatin1Char('/') + movieFileName + QStringLiteral(".duration.lkbx");
}

QString TavrioCaptureManager::filePathOfLastRecordedVideo() const {
    return newestEntryIn(baseDirForOriginalVideos());
}

int64_t TavrioCaptureManager::fileCreationTime(const QString& path) {
    // The birth time where the filesystem records one (ext4, btrfs, xfs, tmpfs), through statx;
    // elsewhere the modification time, which for a movie written once is its creation time
    // give or take the length of the recording.
    struct statx st {};
    const QByteArray native = QFile::encodeName(path);
    if (statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &st) != 0)
        return std::numeric_limits<int64_t>::min();
    const struct statx_timestamp& ts = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString TavrioCaptureManager::newestEntryIn(const QString& folder, const CreationTime& timeOf) {
    const QDir dir(folder);
    if (!dir.exists()) return QString();
    // Every entry, hidden ones included, sorted by name so that ties are decided the same way
    // on every filesystem.
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    if (entries.isEmpty()) return QString();
    const QString base = dir.path() + QLatin1Char('/');
    QString best = base + entries.first();
    int64_t bestTime = timeOf(best);
    for (const QString& name : entries) {
        const QString path = base + name;
        const int64_t t = timeOf(path);
        if (t > bestTime) {
            best = path;
            bestTime = t;
        }
    }
    return best;
}

// ---------------------------------------------------------------------------------------------
// Capture

TavrioCaptureManagerDelegate* TavrioCaptureManager::delegate() const {
    if (delegateIsObject_ && !delegateObject_) return nullptr;
    return delegate_;
}

void TavrioCaptureManager::setDelegate(TavrioCaptureManagerDelegate* delegate) {
    delegate_ = delegate;
    delegateObject_ = dynamic_cast<QObject*>(delegate);
    delegateIsObject_ = delegateObject_ != nullptr;
}

namespace {

std::shared_ptr<media::CaptureDevice> cameraFor(const QString& id) {
    if (!id.isEmpty()) {
        media::Error error;
        auto d = media::CaptureDevice::deviceWithUniqueID(id.toStdString(), &error);
        if (!d) qCWarning(lcCapture) << "camera" << id << "unavailable:" << error.description.c_str();
        return d;
    }
    for (auto& d : media::CaptureDevice::devices(media::MediaType::Video))
        if (d->position() == media::CapturePosition::Back) return d;
    return nullptr;
}

std::shared_ptr<media::CaptureDevice> microphoneFor(const QString& id) {
    if (id == QLatin1String("none")) return nullptr;
    if (!id.isEmpty()) return media::CaptureDevice::deviceWithUniqueID(id.toStdString());
    return media::CaptureDevice::defaultDevice(media::MediaType::Audio);
}

// A session as the manager builds it: made and started wholly from engine objects, so it can be
// done on any thread and handed to the manager afterwards.
struct BuiltSession {
    std::shared_ptr<media::CaptureDeviceInput> video, audio;
    std::shared_ptr<media::MovieFileOutput> output;
    std::unique_ptr<media::CaptureSession> session;
    media::Error error;
    bool running = false;
};

BuiltSession buildSession(const QString& cameraID, const QString& microphoneID, const std::string& preset,
                          const std::function<void(media::CaptureSession&)>& wireHandlers) {
    BuiltSession b;
    b.video = media::CaptureDeviceInput::create(cameraFor(cameraID), &b.error);
    auto mic = microphoneFor(microphoneID);
    media::Error micError;
    b.audio = mic ? media::CaptureDeviceInput::create(mic, &micError) : nullptr;
    if (!b.error && micError) b.error = micError;
    b.output = std::make_shared<media::MovieFileOutput>();
    b.session = std::make_unique<media::CaptureSession>();
    wireHandlers(*b.session);
    if (b.video && b.session->canAddInput(b.video)) b.session->addInput(b.video);
    if (b.audio && b.session->canAddInput(b.audio)) b.session->addInput(b.audio);
    if (b.session->canAddOutput(b.output)) b.session->addOutput(b.output);
    if (!b.session->setSessionPreset(preset)) qCWarning(lcCapture) << "unknown capture preset" << preset.c_str();
    b.session->startRunning();
    b.running = b.session->isRunning();
    return b;
}

}  // namespace

std::shared_ptr<media::CaptureDevice> TavrioCaptureManager::backFacingCamera() const {
    return cameraFor(cameraID_);
}

std::shared_ptr<media::CaptureDevice> TavrioCaptureManager::audioDevice() const {
    return microphoneFor(microphoneID_);
}

void TavrioCaptureManager::joinWorker() {
    if (worker_.joinable()) worker_.join();
}

bool TavrioCaptureManager::setupSessionWithPreset(const QString& preset, media::Error* error) {
    followDevices();
    joinWorker();
    // A camera node opens once: the old session lets go before the new one opens it.
    if (session_) session_->stopRunning();
    QPointer<TavrioCaptureManager> self(this);
    BuiltSession b = buildSession(cameraID_, microphoneID_, preset.toStdString(),
                                  [self](media::CaptureSession& s) { wireSession(self, s); });
    if (error && b.error) *error = b.error;
    videoInput_ = b.video;
    audioInput_ = b.audio;
    movieFileOutput_ = b.output;
    session_ = std::move(b.session);
    emit torchModeChanged(torchMode());
    return true;
}

void TavrioCaptureManager::setupSessionAsync(const QString& preset, SessionDone done) {
    followDevices();
    joinWorker();
    if (session_) session_->stopRunning();
    busy_ = true;
    QPointer<TavrioCaptureManager> self(this);
    auto wire = [self](media::CaptureSession& s) { wireSession(self, s); };
    worker_ = std::thread(
        [self, wire, done = std::move(done), camera = cameraID_, mic = microphoneID_, p = preset.toStdString()] {
            auto b = std::make_shared<BuiltSession>(buildSession(camera, mic, p, wire));
            platform::MainThread::dispatchAsync([self, b, done] {
                // A manager gone meanwhile joined this worker; its session dies with `b`.
                if (!self) return;
                self->joinWorker();
                self->busy_ = false;
                self->videoInput_ = b->video;
                self->audioInput_ = b->audio;
                self->movieFileOutput_ = b->output;
                self->session_ = std::move(b->session);
                emit self->torchModeChanged(self->torchMode());
                if (done) done(b->running, b->error);
            });
        });
}

void TavrioCaptureManager::startRunningAsync(SessionDone done) {
    joinWorker();
    if (!session_) {
        platform::MainThread::dispatchAsync([done] {
            if (done) done(false, media::Error{});
        });
        return;
    }
    busy_ = true;
    QPointer<TavrioCaptureManager> self(this);
    media::CaptureSession* session = session_.get();
    worker_ = std::thread([self, session, done = std::move(done)] {
        // The session outlives this thread: the manager joins it before dropping the session.
        session->startRunning();
        const bool running = session->isRunning();
        platform::MainThread::dispatchAsync([self, running, done] {
            if (!self) return;
            self->joinWorker();
            self->busy_ = false;
            if (done) done(running, media::Error{});
        });
    });
}

void TavrioCaptureManager::wireSession(QPointer<TavrioCaptureManager> self, media::CaptureSession& session) {
    session.setFormatDescriptionChangeHandler(platform::MainThread::dispatcher(), [self](auto) {
        if (self && self->delegate()) self->delegate()->apertureDidChange();
    });
    session.setRuntimeErrorHandler(platform::MainThread::dispatcher(), [](media::Error err) {
        qCWarning(lcCapture) << "capture session:" << err.description.c_str() << err.failureReason.c_str();
    });
}

void TavrioCaptureManager::changeToSessionPreset(const QString& preset) {
    if (!session_) return;
    // Presets are the engine's constant names, so equal text is the same preset.
    if (QString::fromStdString(session_->sessionPreset()) == preset) return;
    session_->beginConfiguration();
    if (session_->isRunning()) {
        session_->setSessionPreset(preset.toStdString());
        if (auto* d = delegate()) d->didChangeSessionPreset();
    }
    session_->commitConfiguration();
}

void TavrioCaptureManager::startRecording() {
    if (!session_ || !movieFileOutput_) return;
    backgroundRecordingID = platform::SleepInhibitor::begin(QStringLiteral("Recording a movie"));
    auto connection = connectionWithMediaType(media::MediaType::Video, movieFileOutput_->connections());
    int choice = 3;
    if (connection && connection->isVideoOrientationSupported()) {
        const int o = platform::DeviceOrientation::orientation();
        choice = (o == platform::DeviceOrientation::Portrait || o == platform::DeviceOrientation::PortraitUpsideDown)
                     ? 1
                     : 3;
        connection->setVideoOrientation(static_cast<media::VideoOrientation>(choice));
    }
    recOrientation = choice;
    movieFileOutput_->startRecording(filePathForRecording().toStdString(), reports_,
                                     platform::MainThread::dispatcher());
}

void TavrioCaptureManager::stopRecording() {
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
    if (auto* d = delegate(); d && d->isAborting()) return;
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
    if (word == QLatin1String("none") || word.contains(QLatin1Char(':'))) return word;
    for (const auto& d : media::CaptureDevice::devices(media::MediaType::Audio))
        if (QString::fromStdString(d->localizedName()) == word) return QString::fromStdString(d->uniqueID());
    return word;
}

std::optional<int> TavrioCaptureManager::cameraRotationForArgument(const QString& word) {
    for (int degrees : {0, 90, 180, 270})
        if (word == QString::number(degrees)) return degrees;
    return std::nullopt;
}

std::vector<TavrioCaptureManager::DeviceDescription> TavrioCaptureManager::devices() {
    std::vector<DeviceDescription> out;
    for (const auto& d : media::CaptureDevice::devices()) {
        DeviceDescription desc;
        desc.isCamera = d->mediaType() == media::MediaType::Video;
        desc.uniqueID = QString::fromStdString(d->uniqueID());
        desc.name = QString::fromStdString(d->localizedName());
        desc.hasTorch = desc.isCamera && d->hasTorch();
        for (const auto& f : d->formats())
            desc.formats.push_back({QString::fromStdString(f.pixelFormat), f.size.width, f.size.height, f.frameRates});
        out.push_back(std::move(desc));
    }
    return out;
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

unsigned TavrioCaptureManager::micCount() const {
    return unsigned(media::CaptureDevice::devices(media::MediaType::Audio).size());
}

unsigned TavrioCaptureManager::cameraCount() const {
    return unsigned(media::CaptureDevice::devices(media::MediaType::Video).size());
}

std::shared_ptr<media::CaptureConnection> TavrioCaptureManager::connectionWithMediaType(
    media::MediaType type, const std::vector<std::shared_ptr<media::CaptureConnection>>& connections) {
    for (auto& c : connections)
        for (auto& p : c->inputPorts())
            if (p->mediaType() == type) return c;
    return nullptr;
}

void TavrioCaptureManager::deviceConnected() {
    if (!session_) return;
    auto mic = audioDevice();
    auto newAudio = mic ? media::CaptureDeviceInput::create(mic) : nullptr;
    auto newVideo = media::CaptureDeviceInput::create(backFacingCamera());
    session_->beginConfiguration();
    if (audioInput_) session_->removeInput(audioInput_);
    if (newAudio && session_->canAddInput(newAudio)) session_->addInput(newAudio);
    session_->removeInput(videoInput_);
    if (newVideo && session_->canAddInput(newVideo)) session_->addInput(newVideo);
    session_->commitConfiguration();
    audioInput_ = newAudio;
    videoInput_ = newVideo;
    emit torchModeChanged(torchMode());
    if (auto* d = delegate()) d->deviceCountChanged();
    if (!session_->isRunning()) session_->startRunning();
}

void TavrioCaptureManager::deviceDisconnected() {
    if (!session_) return;
    session_->beginConfiguration();
    if (audioInput_ && !audioInput_->device()->isConnected()) session_->removeInput(audioInput_);
    if (videoInput_ && !videoInput_->device()->isConnected()) session_->removeInput(videoInput_);
    session_->commitConfiguration();
    // Forgotten even when still connected; the next connect makes both inputs anew.
    audioInput_.reset();
    if (auto* d = delegate()) d->deviceCountChanged();
    if (!session_->isRunning()) session_->startRunning();
}
