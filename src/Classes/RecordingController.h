#pragma once
// The camera's recording cycle, for every front end: the camera screen and tavrio-cli record both
// drive one of these. It owns the capture manager and is its delegate; it keeps the zoom track of
// the current or last recording, stores it when the manager asks, makes the finished movie's
// thumbnail and duration file, restarts the session after a recording, ends a take when the
// system prepares to sleep (the application resigns active) and says so at the wake, and turns capture failures into reports (title and
// message) that the screen shows as alerts and the command line prints.
//
// Everything here lives on the main thread; the capture engine's reports reach it there. Opening
// a camera can take a second, so the session is set up and restarted on a worker thread and the
// result is reported back on the main thread.
//
// States, and what moves between them:
//   Idle      --record()-->                       Starting (the start gate runs: the start sound)
//   Starting  --gate proceeds, manager began-->   Recording
//   Recording --record()-->                       Stopping (the movie is being finished)
//   Stopping  --finished report-->                Idle (thumbnail made, session restarted 1 s later)
//   Recording --resign active-->                  Stopping, as a stop; the session rests until
//                                                 the application is active again, which also
//                                                 tells the user why the take ended
// A recording that fails (camera gone, disk full) reports the error and goes back to Idle; the
// movie recorded so far is kept with its zoom track and thumbnail.
//
// Zoom entries are stamped on the monotonic clock the capture engine stamps pictures with, with
// time 0 at the capture time of the movie's first picture: a slider move lands at the movie time
// of the picture the user saw, however late the main thread handled it, and a wall-clock step
// (a time-sync correction) changes nothing.

#include "TavrioCaptureManager.h"
#include "ZoomSampler.h"
#include "ZoomTrack.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class RecordingController : public QObject, public TavrioCaptureManagerDelegate {
    Q_OBJECT
public:
    enum class State { Idle, Starting, Recording, Stopping };
    Q_ENUM(State)

    // Nanoseconds of the monotonic clock capture timestamps use. Tests inject their own.
    using MonotonicClock = std::function<int64_t()>;
    // Runs before a recording is requested, and calls `proceed` when the recording may start
    // (the screen plays the start sound and proceeds when it has played). `proceed` may be called
    // later from the main thread, or never; a stale one (the state changed meanwhile) does nothing.
    using StartGate = std::function<void(std::function<void()> proceed)>;

    // Report titles, as the alerts show them.
    static constexpr char kCameraFailureTitle[] = "Camera Unavailable";
    static constexpr char kMicrophoneFailureTitle[] = "Microphone Unavailable";
    static constexpr char kDeviceLostTitle[] = "Recording Stopped";
    static constexpr char kErrorTitle[] = "Error";
    static constexpr char kLockFailureTitle[] = "Device Configuration Lock Failure";
    static constexpr char kSleepEndedTitle[] = "Recording Ended";
    // Why a device cannot be used, in the user's terms: "<name> is in use by another program."
    // and what to do about it.
    static QString deviceProblemMessage(const QString& name, const media::Error& error, bool camera);

    // Observes the application's will-resign-active and did-become-active notifications.
    explicit RecordingController(QObject* parent = nullptr, MonotonicClock clock = {});
    ~RecordingController() override;

    // The manager, to pick devices before set-up (setCameraID, setMicrophoneID,
    // setCameraRotationOverride) and for torch, focus, exposure and the preview slot.
    TavrioCaptureManager& captureManager() { return manager_; }
    const TavrioCaptureManager& captureManager() const { return manager_; }

    // ---- Session

    // Builds and starts the capture session with `preset` on a worker thread; sessionSetUp()
    // follows on the main thread. A camera that cannot be opened is reported ("Camera
    // Unavailable", with the reason) first; no camera at all is no report (cameraFound() says
    // so); a microphone that fails is told once and the movies are silent. The controller stays
    // Idle and usable (a later set-up may succeed). A set-up requested while one is running
    // replaces it once the first has finished; one requested while a movie is being recorded is
    // ignored. Also the way to a new preset: nothing is reopened on the main thread.
    void setUpSession(media::CapturePreset preset);
    // Starts the session again if it is not running (off the main thread, sessionRestarted()
    // follows), or sets it up anew when the devices to use have changed meanwhile. Does nothing
    // before the first set-up or while a set-up or restart is pending.
    void restartSession();
    // The remembered devices or the devices present changed: a session not recording is set up
    // anew with the devices to use now (a returning camera is picked up again).
    void followDeviceChoice();
    // A camera was chosen at the last set-up (the machine has one, or one was asked for).
    bool cameraFound() const { return !manager_.camera().id.isEmpty(); }
    // The camera delivers pictures: recording is possible.
    bool isCameraRunning() const { return cameraRunning_; }
    // Stops the session (the library is shown); no recording may run.
    void stopSession();
    bool isSessionRunning() const;
    bool isSessionSetUpPending() const { return sessionBusy_; }

    // ---- Recording

    void setStartGate(StartGate gate) { startGate_ = std::move(gate); }
    // The record button: Idle -> Starting (then Recording), Recording -> Stopping; ignored in
    // the other states. False when it was ignored.
    bool record();
    // Stops a running recording normally (Ctrl-C, end of a timed recording). In Starting the
    // pending start is cancelled. False when there was nothing to stop.
    bool stop();

    State state() const { return state_; }
    // Recording or Stopping: zoom entries are appended and navigation is refused.
    bool isRecording() const { return state_ == State::Recording || state_ == State::Stopping; }
    // From the press (the start sound plays) until the take has ended: navigation is refused.
    bool isTakeInProgress() const { return state_ == State::Starting || isRecording(); }
    // The record button is enabled when a camera delivers pictures and no stop is pending, nor
    // the restart that follows a take.
    bool isRecordEnabled() const;

    // ---- Zoom

    // A zoom slider value (0 to 1). Returns the zoom factor for the preview (1 to 3, before any
    // full-screen enlargement). While recording it becomes a zoom entry stamped `atNs` (the
    // monotonic time the user moved the slider, e.g. the input event's time), or now when not
    // given. A time before the movie's first picture is stamped 0.
    float zoomSliderChanged(float value, int64_t atNs = kNow);
    static constexpr int64_t kNow = INT64_MIN;
    float prevSliderValue() const { return sampler_.prevSliderValue(); }
    // The track of the current or last recording (empty before the first).
    const ZoomTrack& zooms() const { return sampler_.zooms(); }
    // The current recording's movie (also while Stopping), else the last finished one.
    const QString& moviePath() const { return moviePath_; }

    // ---- Clock

    // "%02d:%02d:%02d" of whole seconds; the hours field widens past 99.
    static QString clockText(qint64 seconds);
    // Whole seconds counted by the clock since recording began (clockTicked carries the text).
    qint64 currentTime() const { return currentTime_; }

    // ---- Application state (also reached through the notifications)

    void applicationWillResignActive();
    void applicationDidBecomeActive();

    // How long after a finished recording the session restarts (1 s; tests shorten it).
    void setRestartDelay(int ms) { restartDelayMs_ = ms; }

signals:
    void stateChanged(RecordingController::State state);
    // Set-up finished: the session runs (preview, recording possible) or not; `reason` is the
    // camera's error, if it gave one.
    void sessionSetUp(bool running, const QString& reason);
    void sessionRestarted(bool running);
    // Recording began: the clock starts at "00:00:00".
    void recordingStarted(const QString& moviePath);
    void clockTicked(const QString& text);
    // The preview's zoom factor for a slider value (full-screen enlargement is the screen's).
    void previewZoomChanged(float zoom);
    // A recording ended with its movie on disk (normally or after a failure that kept what was
    // recorded): its track stored, its thumbnail and duration file made. `thumbnail` is the
    // library's picture of it (the saving animation shows it), null when none could be made.
    void movieFinished(const QString& moviePath, const QImage& thumbnail);
    // A side file (zoom track, thumbnail) of `moviePath` could not be stored.
    void sideFileFailed(const QString& moviePath, const QString& message);
    // Something the user must see: an alert with this title and message; `detail` (may be
    // empty) is the failure's reason, for a log or a command line.
    void errorReported(const QString& title, const QString& message, const QString& detail);
    void recordEnabledChanged(bool enabled);
    // The camera started or stopped delivering, or another one was chosen (see cameraFound,
    // isCameraRunning and the manager's camera()).
    void cameraChanged();
    void devicesChanged(unsigned cameras, unsigned microphones);
    void torchModeChanged(int mode);
    void apertureChanged();

private:
    // TavrioCaptureManagerDelegate
    void recordingBegan() override;
    void backupData(const QString& movieFileName) override;
    void recordingFinished(const QUrl& fileUrl) override;
    void someOtherError(const media::Error& error) override;
    void acquiringDeviceLockFailedWithError(const media::Error& error) override;
    void deviceCountChanged() override;
    void apertureDidChange() override;
    void deviceLost(const QString& name) override;
    void inputStopped() override;

    void setState(State s);
    void beginStart();
    void stopRecordingNow();
    // Stores what is left of the take's track, tells a failure, then calls `then`.
    void storeTrack(const QString& moviePath, std::function<void()> then);
    void makeThumbnail(const QString& moviePath, std::function<void(const QImage&)> done);
    void scheduleRestart();
    void sessionWorkDone();
    void updateRecordEnabled();
    void updateDeviceCounts();
    void takeDeviceStates(bool reportCamera);
    media::CapturePreset currentPreset() const;
    void stopClock();

    MonotonicClock clock_;
    TavrioCaptureManager manager_;
    ZoomSampler sampler_;
    StartGate startGate_;
    State state_ = State::Idle;
    bool restartPending_ = false;  // a take ended; the session comes back shortly
    uint64_t startGeneration_ = 0;
    bool stopWhenBegun_ = false;
    bool asleep_ = false;            // resigned active: the system sleeps
    bool endedBySleep_ = false;      // a take was ended for it; told at the wake
    bool failedTakeEnding_ = false;  // a failed take's movie is reported once its thumbnail is made
    bool sessionRestartNeeded_ = false;
    bool sessionBusy_ = false;
    bool sessionEverSetUp_ = false;
    bool stopSessionWhenDone_ = false;
    std::optional<media::CapturePreset> pendingPreset_;
    media::CapturePreset preset_ = media::CapturePreset::High;
    bool cameraRunning_ = false;
    QString micNoticeFor_;            // the microphone whose failure was told, so it is told once
    bool portalRefusalTold_ = false;  // the camera permission refusal is told once
    bool lossTold_ = false;
    bool sessionHeld_ = false;  // stopped by stopSession until restartSession
    unsigned cameras_ = 1, microphones_ = 1;
    QString moviePath_;
    qint64 currentTime_ = 0;
    QTimer clock1s_;
    int restartDelayMs_ = 1000;
    bool recordEnabled_ = false;
};
