#include "RecordingController.h"
#include "platform/MainThread.h"

#include "MediaStore.h"
#include "VideoAssetsViewController.h"

#include "media/capture/CaptureDevice.h"
#include "media/capture/MovieFileOutput.h"
#include "platform/Background.h"
#include "platform/Logging.h"
#include "platform/Notifications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

QString RecordingController::deviceProblemMessage(const QString& name, const media::Error& error, bool camera) {
    QString message;
    switch (media::deviceProblem(error)) {
    case media::DeviceProblem::Busy: message = QStringLiteral("%1 is in use by another program.").arg(name); break;
    case media::DeviceProblem::NoPermission:
        message = QStringLiteral("Tavrio has no permission to use %1.").arg(name);
        break;
    case media::DeviceProblem::Gone: message = QStringLiteral("%1 is not connected.").arg(name); break;
    case media::DeviceProblem::NoUsableMode:
        message = camera ? QStringLiteral("%1 offers no picture format Tavrio can use.").arg(name)
                         : QStringLiteral("%1 offers no sound format Tavrio can use.").arg(name);
        break;
    case media::DeviceProblem::None:
    case media::DeviceProblem::Other: {
        const QString why = text(error.failureReason.empty() ? error.description : error.failureReason);
        message = QStringLiteral("%1 cannot be used: %2").arg(name, why);
        if (!message.endsWith(QLatin1Char('.'))) message += QLatin1Char('.');
        break;
    }
    }
    if (!error.recoverySuggestion.empty()) message += QLatin1Char(' ') + text(error.recoverySuggestion);
    if (!camera) message += QStringLiteral(" Movies are recorded without sound.");
    return message;
}

RecordingController::RecordingController(QObject* parent, MonotonicClock clock)
    : QObject(parent), clock_(std::move(clock)), sampler_(clock_) {
    manager_.setDelegate(this);
    connect(&manager_, &TavrioCaptureManager::torchModeChanged, this, &RecordingController::torchModeChanged);
    clock1s_.setInterval(1000);
    connect(&clock1s_, &QTimer::timeout, this, [this] {
        ++currentTime_;
        emit clockTicked(clockText(currentTime_));
    });
    auto& center = platform::Notifications::center();
    center.addObserver(this, QLatin1String(platform::kWillResignActive),
                       [this](const QString&, const QVariantMap&) { applicationWillResignActive(); });
    center.addObserver(this, QLatin1String(platform::kDidBecomeActive),
                       [this](const QString&, const QVariantMap&) { applicationDidBecomeActive(); });
}

RecordingController::~RecordingController() {
    platform::Notifications::center().removeObserver(this);
    // The manager finishes a running movie as it goes; nothing is reported to a half-destroyed
    // controller.
    manager_.setDelegate(nullptr);
}

QString RecordingController::clockText(qint64 seconds) {
    const qint64 m = seconds / 60;
    return QString::asprintf("%02lld:%02lld:%02lld", m / 60, m % 60, seconds % 60);
}

// ---------------------------------------------------------------------------------------------
// Session

void RecordingController::setUpSession(media::CapturePreset preset) {
    TAVRIO_ASSERT_MAIN_THREAD();
    // A new session would cut the running movie off: the preset waits for the next recording's
    // end (changeToSessionPreset is the way to switch a running session).
    if (state_ == State::Starting || isRecording()) return;
    sessionHeld_ = false;  // a new session runs
    if (sessionBusy_) {
        pendingPreset_ = preset;
        return;
    }
    sessionBusy_ = true;
    preset_ = preset;
    cameraRunning_ = false;
    updateRecordEnabled();
    manager_.setupSessionAsync(preset, [this](bool sessionRuns, const media::Error&) {
        sessionBusy_ = false;
        restartPending_ = false;
        sessionEverSetUp_ = true;
        updateDeviceCounts();
        takeDeviceStates(true);
        // Without a camera there is nothing to see or record; a microphone alone makes no movie.
        const bool running = sessionRuns && cameraRunning_;
        const auto camera = manager_.camera();
        const auto& portal = manager_.cameraPortal();
        if (portal.outcome == CameraPortal::Outcome::Refused && !portalRefusalTold_) {
            portalRefusalTold_ = true;
            emit errorReported(CameraPortal::refusalTitle(), CameraPortal::refusalMessage(), portal.reason);
        }
        emit sessionSetUp(running, camera.error ? deviceProblemMessage(camera.name, camera.error, true) : QString());
        sessionWorkDone();
    });
}

// What the last set-up or restart gave: whether the camera runs (told with its reason when it
// was chosen and does not), and a microphone that fails (told once).
void RecordingController::takeDeviceStates(bool reportCamera) {
    const auto camera = manager_.camera();
    const bool wasRunning = cameraRunning_;
    cameraRunning_ = !camera.id.isEmpty() && !camera.error && manager_.session() && manager_.session()->isRunning();
    if (reportCamera && !camera.id.isEmpty() && camera.error) {
        emit errorReported(QLatin1String(kCameraFailureTitle), deviceProblemMessage(camera.name, camera.error, true),
                           text(camera.error.description + " " + camera.error.failureReason));
    }
    const auto mic = manager_.microphone();
    if (!mic.id.isEmpty() && mic.error) {
        if (micNoticeFor_ != mic.id) {
            micNoticeFor_ = mic.id;
            emit errorReported(QLatin1String(kMicrophoneFailureTitle), deviceProblemMessage(mic.name, mic.error, false),
                               text(mic.error.description + " " + mic.error.failureReason));
        }
    } else {
        micNoticeFor_.clear();
    }
    updateRecordEnabled();
    if (wasRunning != cameraRunning_ || reportCamera) emit cameraChanged();
}

media::CapturePreset RecordingController::currentPreset() const {
    if (manager_.session() && !sessionBusy_) return manager_.session()->sessionPreset();
    return preset_;
}

void RecordingController::restartSession() {
    TAVRIO_ASSERT_MAIN_THREAD();
    sessionHeld_ = false;
    // A stop asked for while a set-up ran is void now: the screen that wanted it has gone.
    stopSessionWhenDone_ = false;
    if (restartPending_ && isSessionRunning()) {
        restartPending_ = false;
        updateRecordEnabled();
    }
    if (!sessionEverSetUp_ || sessionBusy_ || isSessionRunning()) return;
    if (asleep_) {
        sessionRestartNeeded_ = true;  // at the wake
        return;
    }
    if (manager_.inputsOutOfStep()) {
        setUpSession(currentPreset());
        return;
    }
    sessionBusy_ = true;
    manager_.startRunningAsync([this](bool running, const media::Error&) {
        sessionBusy_ = false;
        restartPending_ = false;
        // A restart that fails is told as a set-up that fails is.
        takeDeviceStates(true);
        emit sessionRestarted(running && cameraRunning_);
        sessionWorkDone();
    });
}

void RecordingController::followDeviceChoice() {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!sessionEverSetUp_ || state_ != State::Idle || asleep_) return;
    // A session stopped on purpose (the library shows) follows when it is restarted.
    if (sessionHeld_) return;
    if (sessionBusy_ || manager_.inputsOutOfStep()) setUpSession(currentPreset());
}

// What was asked while the worker ran is done now: the application resigned active, the library
// opened, or the preset changed.
void RecordingController::sessionWorkDone() {
    if (pendingPreset_) {
        const media::CapturePreset preset = *std::exchange(pendingPreset_, std::nullopt);
        setUpSession(preset);
        return;
    }
    if (stopSessionWhenDone_ || asleep_) {
        stopSessionWhenDone_ = false;
        if (isSessionRunning()) {
            manager_.session()->stopRunning();
            if (asleep_) sessionRestartNeeded_ = true;
        }
    }
}

void RecordingController::stopSession() {
    TAVRIO_ASSERT_MAIN_THREAD();
    sessionHeld_ = true;
    if (sessionBusy_) {
        stopSessionWhenDone_ = true;
        return;
    }
    if (isSessionRunning()) manager_.session()->stopRunning();
}

bool RecordingController::isSessionRunning() const {
    return !sessionBusy_ && manager_.session() && manager_.session()->isRunning();
}

void RecordingController::scheduleRestart() {
    // The manager stops the session when a movie is finished; the preview comes back a moment
    // later, once the saving animation has had the screen. Until the camera runs again there is
    // nothing to record: a press meanwhile would only fail.
    restartPending_ = true;
    updateRecordEnabled();
    QTimer::singleShot(restartDelayMs_, this, [this] { restartSession(); });
}

// ---------------------------------------------------------------------------------------------
// Recording

bool RecordingController::isRecordEnabled() const {
    if (failedTakeEnding_) return false;
    if (state_ == State::Recording) return true;
    return state_ != State::Stopping && cameraRunning_ && !restartPending_;
}

void RecordingController::updateRecordEnabled() {
    const bool enabled = isRecordEnabled();
    if (enabled == recordEnabled_) return;
    recordEnabled_ = enabled;
    emit recordEnabledChanged(enabled);
}

void RecordingController::updateDeviceCounts() {
    cameras_ = manager_.cameraCount();
    microphones_ = manager_.micCount();
    updateRecordEnabled();
}

void RecordingController::setState(State s) {
    if (s == state_) return;
    state_ = s;
    updateRecordEnabled();
    emit stateChanged(s);
}

bool RecordingController::record() {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (failedTakeEnding_) return false;
    switch (state_) {
    case State::Idle:
        if (manager_.isRecording() || sessionBusy_ || !isRecordEnabled()) return false;
        setState(State::Starting);
        beginStart();
        return true;
    case State::Recording: stopRecordingNow(); return true;
    default: return false;
    }
}

bool RecordingController::stop() {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (failedTakeEnding_) return false;
    switch (state_) {
    case State::Starting:
        if (manager_.isRecording()) {
            // Requested already: the movie is stopped as soon as it has begun.
            stopWhenBegun_ = true;
        } else {
            ++startGeneration_;  // the start gate's proceed is stale now
            setState(State::Idle);
        }
        return true;
    case State::Recording: stopRecordingNow(); return true;
    default: return false;
    }
}

void RecordingController::beginStart() {
    const uint64_t generation = ++startGeneration_;
    stopWhenBegun_ = false;
    QPointer<RecordingController> self(this);
    auto proceed = [self, generation] {
        if (!self || generation != self->startGeneration_ || self->state_ != State::Starting) return;
        // A start sound that ends after a recording began starts nothing.
        if (self->manager_.isRecording()) return;
        self->manager_.startRecording();
    };
    if (startGate_)
        startGate_(proceed);
    else
        proceed();
}

void RecordingController::stopRecordingNow() {
    stopClock();
    setState(State::Stopping);
    manager_.stopRecording();
}

void RecordingController::stopClock() {
    clock1s_.stop();
}

float RecordingController::zoomSliderChanged(float value, int64_t atNs) {
    TAVRIO_ASSERT_MAIN_THREAD();
    const float z = sampler_.sliderChanged(value, atNs == kNow ? ZoomSampler::kNow : atNs);
    emit previewZoomChanged(z);
    return z;
}

// ---------------------------------------------------------------------------------------------
// The capture manager's reports

void RecordingController::recordingBegan() {
    moviePath_ = text(manager_.movieFileOutput()->outputPath());
    // An earlier zoom left at this name belongs to a movie that is gone: undoing to it would give
    // the new movie another's zoom. Nothing reads it before the take ends, so it goes off the UI
    // thread.
    platform::Background::run([name = QFileInfo(moviePath_).fileName()] { MediaStore::removeLeftEarlierZoom(name); });
    // The track is kept beside the movie from the start, as the movie is, so a crash keeps both
    // up to the last second. Its time 0 is the capture time of the movie's first picture.
    sampler_.recordingBegan(
        manager_.recordingOrientation(), MediaStore::zoomsArchiveFilePath(QFileInfo(moviePath_).fileName()),
        manager_.recordingStartTimeNs() == INT64_MIN ? ZoomSampler::kNow : manager_.recordingStartTimeNs());
    setState(State::Recording);
    currentTime_ = 0;
    clock1s_.start();
    emit recordingStarted(moviePath_);
    emit clockTicked(clockText(0));
    if (asleep_) {
        // Began while the system was going to sleep: ended as any other take then is.
        applicationWillResignActive();
        return;
    }
    if (std::exchange(stopWhenBegun_, false)) stopRecordingNow();
}

void RecordingController::storeTrack(const QString& moviePath, std::function<void()> then) {
    // The movie is reported only once its whole track is on disk: a program that reads the track
    // when told of the movie (the command line exits then) finds all of it.
    sampler_.recordingEnded([this, moviePath, then = std::move(then)](bool stored) {
        if (!stored)
            emit sideFileFailed(
                moviePath, QStringLiteral("cannot store the zoom track of %1").arg(QFileInfo(moviePath).fileName()));
        then();
    });
}

void RecordingController::backupData(const QString&) {
    // Entries made until now (the stop took a moment) are in; later moves belong to no movie.
    sampler_.recordingEnded();
}

void RecordingController::recordingFinished(const QUrl& fileUrl) {
    TAVRIO_ASSERT_MAIN_THREAD();
    const QString path = fileUrl.toLocalFile();
    sampler_.recordingEnded();
    stopClock();
    lossTold_ = false;
    // The restart is pending before the state leaves the take: the button stays off between.
    auto endTake = [this] {
        scheduleRestart();
        if (isRecording() || state_ == State::Starting) setState(State::Idle);
    };
    if (path.isEmpty()) {
        endTake();
        return;
    }
    // The movie first, then the state: whoever waits for Idle finds the movie reported.
    storeTrack(path, [this, path, endTake] {
        makeThumbnail(path, [this, path, endTake](const QImage& thumbnail) {
            emit movieFinished(path, thumbnail);
            endTake();
        });
    });
}

// The library's thumbnail of the new movie (which also writes its duration file), made on a
// worker; `done` gets the picture on the main thread, null when none could be made.
void RecordingController::makeThumbnail(const QString& moviePath, std::function<void(const QImage&)> done) {
    TAVRIO_ASSERT_MAIN_THREAD();
    using Library = VideoAssetsViewController;
    Library::makeThumbnailAsync(moviePath, this, [this, moviePath, done](const Library::MadeThumbnail& made) {
        if (made.image.isNull()) {
            qCWarning(lcStore).noquote() << "Error generating thumbnail:" << made.reason;
            emit sideFileFailed(moviePath, QStringLiteral("cannot make the thumbnail of %1").arg(moviePath));
        } else if (!made.stored) {
            emit sideFileFailed(moviePath, QStringLiteral("cannot store the thumbnail of %1").arg(moviePath));
        }
        done(made.image);
    });
}

void RecordingController::someOtherError(const media::Error& error) {
    const bool wasActive = state_ != State::Idle;
    stopClock();
    sampler_.recordingEnded();
    if (!std::exchange(lossTold_, false))
        emit errorReported(QLatin1String(kErrorTitle), text(error.description), text(error.failureReason));
    if (!wasActive) return;
    // What was recorded up to the failure (camera gone, disk full) is kept with its gesture and
    // thumbnail; a movie that never got its first second leaves no track behind either.
    const QString path = text(manager_.movieFileOutput()->outputPath());
    const bool kept = state_ != State::Starting && !path.isEmpty() && QFileInfo::exists(path);
    auto endTake = [this] {
        failedTakeEnding_ = false;
        scheduleRestart();
        setState(State::Idle);
    };
    if (!kept) {
        // Starting, the sampler's file is still the last take's.
        if (state_ != State::Starting) sampler_.removeTrackFile();
        endTake();
        return;
    }
    // The take stays in its state, deaf to record and stop, until its movie is reported: the
    // movie first, then Idle, as after a stop.
    failedTakeEnding_ = true;
    updateRecordEnabled();
    storeTrack(path, [this, path, endTake] {
        makeThumbnail(path, [this, path, endTake](const QImage& thumbnail) {
            emit movieFinished(path, thumbnail);
            endTake();
        });
    });
}

void RecordingController::acquiringDeviceLockFailedWithError(const media::Error& error) {
    emit errorReported(QLatin1String(kLockFailureTitle), text(error.description), text(error.failureReason));
}

void RecordingController::deviceCountChanged() {
    updateDeviceCounts();
    emit devicesChanged(cameras_, microphones_);
    followDeviceChoice();
}

void RecordingController::deviceLost(const QString& name) {
    if (state_ != State::Recording) return;
    // What was recorded stays, with its track; the failure the input reports next is this one.
    lossTold_ = true;
    emit errorReported(QLatin1String(kDeviceLostTitle),
                       QStringLiteral("%1 was disconnected. The recording up to that moment is kept.").arg(name),
                       QString());
    stopRecordingNow();
}

void RecordingController::inputStopped() {
    if (sessionBusy_ || !cameraRunning_) return;
    const auto camera = manager_.camera();
    if (!camera.error) return;
    // While recording, the recording's own report tells it.
    takeDeviceStates(!isRecording() && state_ != State::Starting);
}

void RecordingController::apertureDidChange() {
    emit apertureChanged();
}

// ---------------------------------------------------------------------------------------------
// Application state

// The system is about to sleep. A take is finished as a stop finishes it (movie, track,
// thumbnail), so what was filmed is whole on disk before the machine sleeps; the capture manager
// lets go of its sleep delay lock once the movie is written. The camera rests until the wake.
void RecordingController::applicationWillResignActive() {
    TAVRIO_ASSERT_MAIN_THREAD();
    asleep_ = true;
    if (state_ == State::Recording) {
        endedBySleep_ = true;
        stopRecordingNow();  // the manager stops the session once the movie is finished
        sessionRestartNeeded_ = true;
    } else if (state_ == State::Starting) {
        if (manager_.isRecording()) manager_.stopRecording();
        ++startGeneration_;
        setState(State::Idle);
    }
    if (sessionBusy_) {
        stopSessionWhenDone_ = true;  // sessionWorkDone stops it and notes the restart
    } else if (state_ != State::Stopping && isSessionRunning()) {
        manager_.session()->stopRunning();
        sessionRestartNeeded_ = true;
    } else if (state_ == State::Stopping || restartPending_) {
        sessionRestartNeeded_ = true;
    }
}

void RecordingController::applicationDidBecomeActive() {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (!asleep_) return;
    asleep_ = false;
    if (std::exchange(endedBySleep_, false))
        emit errorReported(QLatin1String(kSleepEndedTitle),
                           QStringLiteral("The recording was ended and kept because the computer went to sleep."),
                           QString());
    // A screen that covers the camera (the library) restarts it when it goes.
    if (std::exchange(sessionRestartNeeded_, false) && !sessionHeld_) restartSession();
}
