// tavrio-cli record: the camera screen's recording cycle without a screen. It builds the capture
// manager as the screen does, records, plays the zoom gesture given on the command line through
// the same zoom sampler, stores the zoom track when the manager asks, and makes the thumbnail and
// duration file.

#include "Command.h"
#include "Settings.h"
#include "Recording.h"
#include "StopSignals.h"

#include "TavrioCameraController.h"
#include "TavrioCaptureManager.h"
#include "VideoAssetsViewController.h"
#include "ZoomSampler.h"

#include "media/CapturePresets.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/MovieFileOutput.h"
#include "platform/DeviceOrientation.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QFile>
#include <QFileInfo>
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

class RecordDriver : public QObject, public TavrioCaptureManagerDelegate {
public:
    RecordDriver(TavrioCaptureManager& manager, double seconds, std::vector<ZoomStep> steps)
        : manager_(manager), seconds_(seconds), steps_(std::move(steps)) {}

    ZoomSampler sampler;
    int exitCode = cli::kExitFailure;
    QString moviePath;

    void stop() {
        stopRequested_ = true;
        if (manager_.isRecording()) manager_.stopRecording();
    }

    void recordingBegan() override {
        // The track is kept beside the movie from the start, as the movie is, so a crash keeps
        // both up to the last second.
        const QString movie = QString::fromStdString(manager_.movieFileOutput()->outputPath());
        sampler.recordingBegan(manager_.recordingOrientation(),
                               TavrioCaptureManager::zoomsArchiveFilePath(QFileInfo(movie).fileName()));
        for (const ZoomStep& s : steps_) {
            if (s.at <= 0) continue;  // the zoom shown at the start is entry 0
            // A precise timer: a coarse one may fire 5% early, which on a long gesture is a visible
            // shift of the recorded zoom.
            QTimer::singleShot(int(s.at * 1000), Qt::PreciseTimer, this,
                               [this, z = s.zoom] { sampler.sliderChanged(ZoomSampler::sliderValueForZoom(z)); });
        }
        QTimer::singleShot(int(seconds_ * 1000), Qt::PreciseTimer, this, [this] { stop(); });
        // Ctrl-C while the start was pending.
        if (stopRequested_) stop();
    }

    void backupData(const QString& movieFileName) override {
        if (!writeZoomTrackFile(TavrioCaptureManager::zoomsArchiveFilePath(movieFileName), sampler.zooms())) {
            cli::err(QStringLiteral("record: cannot store the zoom track of %1").arg(movieFileName));
            sideFilesFailed_ = true;
        }
    }

    void recordingFinished(const QUrl& url) override {
        sampler.recordingEnded();
        const QString path = url.toLocalFile();
        if (!makeThumbnail(path)) sideFilesFailed_ = true;
        moviePath = path;
        // The movie is there, but a library without its zoom track or thumbnail is not what
        // the user asked for: say so in the status too.
        exitCode = sideFilesFailed_ ? cli::kExitFailure : cli::kExitOk;
        if (sideFilesFailed_) cli::err(QStringLiteral("record: the movie is kept in %1").arg(path));
        QCoreApplication::quit();
    }

    // As the camera screen does after a recording: a thumbnail within 40 x 40 (which also
    // writes the duration file), kept if one is there already. There is no library list here to
    // have made the thumbnails folder, so it is made as the list would on opening.
    static bool makeThumbnail(const QString& moviePath) {
        const QString folder = TavrioCaptureManager::baseDirForThumbnails();
        QDir().mkpath(folder);
        const QString thumb = QDir(folder).filePath(QFileInfo(moviePath).fileName() + QStringLiteral(".jpeg"));
        const bool existed = QFileInfo::exists(thumb) || QFileInfo(thumb).isSymLink();
        if (existed) cli::err(QStringLiteral(" Error ! thumbnail=%1 already exists").arg(thumb));
        const QImage image = VideoAssetsViewController::generateThumbImageForVideo(moviePath, QSize(40, 40));
        if (image.isNull()) {
            cli::err(QStringLiteral("Error generating thumbnail"));
            return false;
        }
        if (!existed && !VideoAssetsViewController::writeThumbnailFile(image, thumb)) {
            cli::err(QStringLiteral("record: cannot store the thumbnail %1").arg(thumb));
            return false;
        }
        return true;
    }

    void someOtherError(const media::Error& error) override {
        // What was recorded up to the failure keeps its gesture: the track is brought up to date.
        sampler.recordingEnded();
        cli::err(QStringLiteral("record: %1 (%2)")
                     .arg(QString::fromStdString(error.description), QString::fromStdString(error.failureReason)));
        const QString path = QString::fromStdString(manager_.movieFileOutput()->outputPath());
        if (QFileInfo::exists(path))
            cli::err(QStringLiteral("record: what was recorded is kept in %1").arg(path));
        else if (!sampler.trackFile().isEmpty())
            QFile::remove(sampler.trackFile());  // written by this recording, for a movie that is not there
        exitCode = cli::kExitFailure;
        QCoreApplication::quit();
    }

    void acquiringDeviceLockFailedWithError(const media::Error& error) override {
        cli::err(
            QStringLiteral("Device Configuration Lock Failure: %1").arg(QString::fromStdString(error.description)));
    }

private:
    TavrioCaptureManager& manager_;
    double seconds_;
    std::vector<ZoomStep> steps_;
    bool stopRequested_ = false;
    bool sideFilesFailed_ = false;
};

QString presetForQuality(const QString& q) {
    const settings::Option* o = settings::optionForWord(settings::resolutionOptions(), q);
    return o ? QString::fromLatin1(o->preset) : QString();
}

// A microphone by id, or by its name as `devices` prints it.
QString microphoneID(const QString& arg) {
    if (arg == QLatin1String("virtual")) return QString::fromLatin1(media::CaptureDevice::kVirtualMicrophoneID);
    if (arg == QLatin1String("none") || arg.contains(QLatin1Char(':'))) return arg;
    for (const auto& d : media::CaptureDevice::devices(media::MediaType::Audio))
        if (QString::fromStdString(d->localizedName()) == arg) return QString::fromStdString(d->uniqueID());
    return arg;
}

constexpr char kUsage[] =
    "usage: tavrio-cli record --seconds N [--camera virtual|/dev/videoN|file:PATH] [--mic virtual|none|NAME] "
    "[--quality high|640x480|medium|low] [--orientation portrait|landscape] [--zoom \"T:Z,...\"]";

int runRecord(const QStringList& args) {
    double seconds = -1;
    QString camera, mic, preset, zoomText;
    int orientation = platform::DeviceOrientation::Unknown;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (i + 1 >= args.size()) {
            cli::err(QString::fromLatin1(kUsage));
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
            camera = v == QLatin1String("virtual") ? QString::fromLatin1(media::CaptureDevice::kVirtualCameraID) : v;
        } else if (a == QLatin1String("--mic")) {
            mic = microphoneID(v);
        } else if (a == QLatin1String("--quality")) {
            preset = presetForQuality(v);
            if (preset.isEmpty()) {
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
        } else if (a == QLatin1String("--zoom")) {
            zoomText = v;
        } else {
            cli::err(QString::fromLatin1(kUsage));
            return cli::kExitUsage;
        }
    }
    if (seconds <= 0) {
        cli::err(QString::fromLatin1(kUsage));
        return cli::kExitUsage;
    }
    QString problem;
    auto steps = parseZooms(zoomText, &problem);
    if (!steps) {
        cli::err(QStringLiteral("record: ") + problem);
        return cli::kExitUsage;
    }
    if (preset.isEmpty()) preset = TavrioCameraController().getSessionPresetFromSettings();
    cli::RecordRequest request;
    request.seconds = seconds;
    request.camera = camera;
    request.microphone = mic;
    request.preset = preset;
    request.orientation = orientation;
    request.zooms = *steps;
    QString movie;
    const int status = cli::recordMovie(request, &movie);
    if (!movie.isEmpty()) cli::out(movie);
    return status;
}

}  // namespace

TAVRIO_CLI_COMMAND(record, "record", "--seconds N [OPTIONS]",
                   "record a movie (and its zoom track) from a camera; Ctrl-C stops", runRecord);

namespace cli {

int recordMovie(const RecordRequest& request, QString* moviePath, int* zoomEntries) {
    const int orientation = request.orientation;
    const auto* steps = &request.zooms;
    const double seconds = request.seconds;
    // An orientation given on the command line wins over a sensor.
    if (orientation != platform::DeviceOrientation::Unknown || !platform::DeviceOrientation::startSensor())
        platform::DeviceOrientation::setOrientation(orientation);

    TavrioCaptureManager manager;
    manager.setCameraID(request.camera);
    manager.setMicrophoneID(request.microphone);
    RecordDriver driver(manager, seconds, *steps);
    // The zoom shown before recording: the gesture's value at time 0, else unzoomed.
    float initial = 1.0f;
    if (!steps->empty() && steps->front().at <= 0) initial = steps->front().zoom;
    driver.sampler.sliderChanged(ZoomSampler::sliderValueForZoom(initial));

    media::Error error;
    manager.setupSessionWithPreset(request.preset, &error);
    if (!manager.session()->isRunning() || !manager.videoInput()) {
        cli::err(QStringLiteral("Failure: the camera did not start%1")
                     .arg(error ? QStringLiteral(" (%1)").arg(QString::fromStdString(error.description)) : QString()));
        return cli::kExitFailure;
    }
    manager.setDelegate(&driver);

    // Ctrl-C or SIGTERM stops the recording normally, keeping the movie and its track.
    {
        StopSignals stop([&driver] { driver.stop(); });
        manager.startRecording();
        QCoreApplication::exec();
    }
    *moviePath = driver.moviePath;
    if (driver.exitCode == kExitOk) {
        if (zoomEntries) *zoomEntries = int(driver.sampler.zooms().size());
    }
    return driver.exitCode;
}

}  // namespace cli
