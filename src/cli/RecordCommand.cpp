// tavrio-cli record: the camera screen's recording cycle without a screen. It builds the capture
// manager as the screen does, records, plays the zoom gesture given on the command line through
// the same zoom sampler, stores the zoom track when the manager asks, and makes the thumbnail and
// duration file.

#include "Command.h"
#include "Settings.h"
#include "Recording.h"
#include "StopSignals.h"
#include "platform/SleepInhibitor.h"

#include "RecordingController.h"
#include "ZoomTrack.h"
#include "TavrioCaptureManager.h"

#include "platform/DeviceOrientation.h"

#include <QCoreApplication>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {

using cli::ZoomStep;

std::optional<std::vector<ZoomStep>> parseZooms(const QString& text, QString* problem) {
    std::vector<ZoomStep> steps;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        bool okT = false, okZ = false;
        const double t = parts.size() == 2 ? parts[0].toDouble(&okT) : 0;
        const float z = parts.size() == 2 ? parts[1].toFloat(&okZ) : 0;
        if (!okT || !okZ || !(t >= 0) || !(z >= 1.0f && z <= 3.0f)) {
            *problem = QStringLiteral("bad zoom step '%1' (want T:Z with T >= 0 seconds, Z from 1.0 to 3.0)").arg(item);
            return std::nullopt;
        }
        steps.push_back({t, z});
    }
    std::stable_sort(steps.begin(), steps.end(), [](const ZoomStep& a, const ZoomStep& b) { return a.at < b.at; });
    return steps;
}

// Drives the recording controller as the camera screen does, with the gesture given on the
// command line in place of the slider. Each step is stamped at its own movie time, so the track
// holds the gesture as asked whatever the timers' latency.
class RecordDriver : public QObject {
public:
    RecordDriver(RecordingController& controller, double seconds, std::vector<ZoomStep> steps)
        : controller_(controller), seconds_(seconds), steps_(std::move(steps)) {
        connect(&controller_, &RecordingController::sessionSetUp, this, &RecordDriver::sessionSetUp);
        connect(&controller_, &RecordingController::recordingStarted, this, &RecordDriver::recordingBegan);
        connect(&controller_, &RecordingController::movieFinished, this, &RecordDriver::recordingFinished);
        connect(&controller_, &RecordingController::sideFileFailed, this,
                [this](const QString&, const QString& message) {
                    cli::err(QStringLiteral("record: ") + message);
                    sideFilesFailed_ = true;
                });
        connect(&controller_, &RecordingController::errorReported, this, &RecordDriver::errorReported);
        connect(&controller_, &RecordingController::stateChanged, this, [this](RecordingController::State s) {
            if (s == RecordingController::State::Idle) finish();
        });
    }

    int exitCode = cli::kExitFailure;
    QString moviePath;

    void stop() {
        stopRequested_ = true;
        // Still opening the camera: nothing to stop yet, and nothing will start.
        if (!controller_.stop() && controller_.isSessionSetUpPending()) return;
        if (controller_.state() == RecordingController::State::Idle) finish();
    }

private:
    void sessionSetUp(bool running, const QString& reason) {
        if (!controller_.cameraFound()) {
            // The test picture is never filmed in place of a missing camera: the user asks for it.
            cli::err(
                QStringLiteral("record: no camera found. Connect a camera, or record the test picture with "
                               "--camera virtual."));
            QCoreApplication::quit();
            return;
        }
        if (!running) {
            cli::err(QStringLiteral("record: %1")
                         .arg(reason.isEmpty() ? QStringLiteral("the camera did not start.") : reason));
            QCoreApplication::quit();
            return;
        }
        if (stopRequested_) {
            cli::err(QStringLiteral("record: stopped before recording began; nothing was recorded"));
            QCoreApplication::quit();
            return;
        }
        controller_.record();
    }

    void recordingBegan() {
        const int64_t start = controller_.captureManager().recordingStartTimeNs();
        for (const ZoomStep& s : steps_) {
            if (s.at <= 0) continue;  // the zoom shown at the start is entry 0
            // A precise timer: a coarse one may fire 5% early, before the step's movie time.
            QTimer::singleShot(int(s.at * 1000), Qt::PreciseTimer, this, [this, s, start] {
                controller_.zoomSliderChanged(
                    ZoomSampler::sliderValueForZoom(s.zoom),
                    start == INT64_MIN ? RecordingController::kNow : start + int64_t(s.at * 1e9));
            });
        }
        QTimer::singleShot(int(seconds_ * 1000), Qt::PreciseTimer, this, [this] { stop(); });
        // Ctrl-C while the start was pending.
        if (stopRequested_) stop();
    }

    void recordingFinished(const QString& path, const QImage&) {
        moviePath_ = path;
        if (failed_) {
            cli::err(QStringLiteral("record: what was recorded is kept in %1").arg(path));
            return;
        }
        moviePath = path;
        // The movie is there, but a library without its zoom track or thumbnail is not what
        // the user asked for: say so in the status too.
        if (sideFilesFailed_) cli::err(QStringLiteral("record: the movie is kept in %1").arg(path));
    }

    void errorReported(const QString& title, const QString& message, const QString& detail) {
        if (title == QLatin1String(RecordingController::kLockFailureTitle)) {
            cli::err(QStringLiteral("%1: %2").arg(title, message));
            return;
        }
        if (title == QLatin1String(RecordingController::kCameraFailureTitle)) return;  // told by sessionSetUp
        if (title == QLatin1String(RecordingController::kMicrophoneFailureTitle)) {
            cli::err(QStringLiteral("record: ") + message);  // the movie goes on without sound
            return;
        }
        cli::err(QStringLiteral("record: %1 (%2)").arg(message, detail));
        failed_ = true;
    }

    void finish() {
        exitCode = failed_ || sideFilesFailed_ || moviePath_.isEmpty() ? cli::kExitFailure : cli::kExitOk;
        QCoreApplication::quit();
    }

    RecordingController& controller_;
    double seconds_;
    std::vector<ZoomStep> steps_;
    bool stopRequested_ = false;
    bool sideFilesFailed_ = false;
    bool failed_ = false;
    QString moviePath_;
};

std::optional<media::CapturePreset> presetForQuality(const QString& q) {
    const settings::Option* o = settings::optionForWord(settings::resolutionOptions(), q);
    if (!o) return std::nullopt;
    return o->capturePreset;
}

// Every option, for --help, the usage line and the shell's completion.
constexpr char kSynopsis[] =
    "--seconds N [--camera virtual|/dev/videoN|v4l2:/dev/videoN|pipewire:NAME|file:PATH] [--mic virtual|none|NAME] "
    "[--quality high|640x480|medium|low] [--orientation portrait|landscape] [--camera-rotation 0|90|180|270] "
    "[--zoom T:Z,...]";
QString usageLine() {
    return QStringLiteral("usage: tavrio-cli record ") + QLatin1String(kSynopsis);
}

int runRecord(const QStringList& args) {
    double seconds = -1;
    QString camera, mic, zoomText;
    std::optional<media::CapturePreset> preset;
    int orientation = platform::DeviceOrientation::Unknown;
    int cameraRotation = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i + 1 >= args.size()) {
            cli::err(usageLine());
            return cli::kExitUsage;
        }
        const QString v = args[++i];
        if (a == QLatin1String("--seconds")) {
            bool ok = false;
            seconds = v.toDouble(&ok);
            if (!ok || !(seconds > 0) || seconds > 24 * 3600) {
                cli::err(QStringLiteral("record: --seconds wants a positive number of seconds"));
                return cli::kExitUsage;
            }
        } else if (a == QLatin1String("--camera")) {
            camera = TavrioCaptureManager::cameraIDForArgument(v);
        } else if (a == QLatin1String("--mic")) {
            mic = TavrioCaptureManager::microphoneIDForArgument(v);
        } else if (a == QLatin1String("--quality")) {
            preset = presetForQuality(v);
            if (!preset) {
                cli::err(QStringLiteral("record: unknown quality '%1'").arg(v));
                return cli::kExitUsage;
            }
        } else if (a == QLatin1String("--orientation")) {
            if (v == QLatin1String("portrait"))
                orientation = platform::DeviceOrientation::Portrait;
            else if (v == QLatin1String("landscape"))
                orientation = platform::DeviceOrientation::LandscapeRight;
            else {
                cli::err(QStringLiteral("record: --orientation is portrait or landscape"));
                return cli::kExitUsage;
            }
        } else if (a == QLatin1String("--camera-rotation")) {
            const auto degrees = TavrioCaptureManager::cameraRotationForArgument(v);
            if (!degrees) {
                cli::err(QStringLiteral("record: --camera-rotation is 0, 90, 180 or 270"));
                return cli::kExitUsage;
            }
            cameraRotation = *degrees;
        } else if (a == QLatin1String("--zoom")) {
            zoomText = v;
        } else {
            cli::err(usageLine());
            return cli::kExitUsage;
        }
    }
    if (seconds <= 0) {
        cli::err(usageLine());
        return cli::kExitUsage;
    }
    QString problem;
    auto steps = parseZooms(zoomText, &problem);
    if (!steps) {
        cli::err(QStringLiteral("record: ") + problem);
        return cli::kExitUsage;
    }
    cli::RecordRequest request;
    request.seconds = seconds;
    request.camera = camera;
    request.microphone = mic;
    request.preset = preset ? *preset : settings::getSessionPresetFromSettings();
    request.orientation = orientation;
    request.zooms = *steps;
    request.cameraRotation = cameraRotation;
    QString movie;
    const int status = cli::recordMovie(request, &movie);
    if (!movie.isEmpty()) cli::out(movie);
    return status;
}

}  // namespace

TAVRIO_CLI_COMMAND(record, "record", kSynopsis, "record a movie (and its zoom track) from a camera; Ctrl-C stops",
                   runRecord);

namespace cli {

int recordMovie(const RecordRequest& request, QString* moviePath, int* zoomEntries) {
    const int orientation = request.orientation;
    const auto* steps = &request.zooms;
    const double seconds = request.seconds;
    // An orientation given on the command line wins over a sensor.
    if (orientation != platform::DeviceOrientation::Unknown || !platform::DeviceOrientation::startSensor())
        platform::DeviceOrientation::setOrientation(orientation);

    RecordingController controller;
    controller.captureManager().setCameraID(request.camera);
    controller.captureManager().setMicrophoneID(request.microphone);
    if (request.cameraRotation >= 0) controller.captureManager().setCameraRotationOverride(request.cameraRotation);
    RecordDriver driver(controller, seconds, *steps);
    // The zoom shown before recording: the gesture's value at time 0, else unzoomed.
    float initial = 1.0f;
    if (!steps->empty() && steps->front().at <= 0) initial = steps->front().zoom;
    controller.zoomSliderChanged(ZoomSampler::sliderValueForZoom(initial));

    // Ctrl-C or SIGTERM stops the recording normally, keeping the movie and its track; so does
    // the system going to sleep, which waits for the movie to be finished.
    QObject::connect(&platform::SleepInhibitor::instance(), &platform::SleepInhibitor::preparingForSleep, &driver,
                     [&driver](bool start) {
                         if (!start) return;
                         cli::err(QStringLiteral("record: the computer is going to sleep; the recording ends here"));
                         driver.stop();
                     });
    {
        StopSignals stop([&driver] { driver.stop(); });
        controller.setUpSession(request.preset);
        QCoreApplication::exec();
    }
    *moviePath = driver.moviePath;
    if (driver.exitCode == kExitOk) {
        if (zoomEntries) *zoomEntries = int(controller.zooms().size());
    }
    return driver.exitCode;
}

}  // namespace cli
