#include "TavrioExportController.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

#include "Settings.h"
#include "ZoomTrack.h"
#include "MediaStore.h"
#include "media/capture/CaptureSession.h"
#include "platform/Defaults.h"
#include "platform/Background.h"
#include "platform/FileLock.h"
#include "platform/Logging.h"
#include "platform/MainThread.h"

using media::ExportSession;

namespace {

using Status = ExportSession::Status;
using media::VideoOrientation;

// The orientation recorded in a zoom track; 0 (none recorded) matches no orientation.
bool recordedIn(qint64 recorded, VideoOrientation o) {
    return recorded == static_cast<qint64>(o);
}

void logFailure(const media::Error& e) {
    qCWarning(lcExport).noquote() << QString::fromStdString(e.description);
    qCWarning(lcExport).noquote() << QString::fromStdString(e.failureReason);
    qCWarning(lcExport).noquote() << QString::fromStdString(e.recoverySuggestion);
}

void removeIfExists(const QString& path) {
    if (!path.isEmpty() && QFileInfo::exists(path)) QFile::remove(path);
}

QString rotationFilePath() {
    return MediaStore::baseDirForVideos() + QLatin1Char('/') + QLatin1String(MediaStore::kRotationFileName);
}

// The intermediate's folder stands for it: the intermediate itself comes and goes, and a lock
// file of its own would be one more file in Documents.
QString rotationLockPath() {
    return MediaStore::baseDirForVideos();
}

// The export's final name: claimed only when the movie is complete, and if another export took
// it meanwhile, the next free one then.
void chooseFreeExportNames(ExportSession& session) {
    session.setOutputPath(MediaStore::exportFilePath().toStdString());
    session.setOutputPathChooser([] { return MediaStore::exportFilePath().toStdString(); });
}

// Things a usable track can hold that the export quietly corrects or cannot honour; one line
// each, so that a strange result can be traced to its track.
void logTrackOddities(const QString& movie, const ZoomTrack& track, const media::ZoomCurve& curve) {
    const media::ZoomCurve::Notes& notes = curve.notes();
    if (notes.clamped > 0)
        qCWarning(lcExport).noquote() << "zoom track of" << movie << "has" << notes.clamped
                                      << "factor(s) outside 1.0 to 3.0; they are clamped";
    if (notes.firstAfterOthers)
        qCWarning(lcExport).noquote() << "zoom track of" << movie << ": entry 0 is timed at"
                                      << track.entries.front().atTime
                                      << "s, after every other entry, so the gesture is ignored"
                                      << "and only the last zoom applies";
}

}  // namespace

TavrioExportController::Source TavrioExportController::readSource(const QString& path) {
    Source source;
    source.path = path;
    source.zooms = zoomsForVideoFile(path);
    source.asset = media::Asset::open(path.toStdString(), &source.assetError);
    return source;
}

TavrioExportController::TavrioExportController(const QString& path, QObject* parent)
    : TavrioExportController(readSource(path), parent) {}

TavrioExportController::TavrioExportController(Source source, QObject* parent) : QObject(parent) {
    const QString path = source.path;
    mZooms = std::move(source.zooms);
    _inVideo = path;
    _videoOrientation = videoOrientationForZooms(mZooms);
    if (mZooms) {
        _zoomTrackProblem = zoomTrackProblem(*mZooms);
        // A damaged track must not turn into a division by zero or a wild transform: the movie
        // is exported unzoomed instead (its orientation still applies).
        if (!_zoomTrackProblem.isEmpty())
            qCWarning(lcExport).noquote() << "zoom track of" << QFileInfo(path).fileName()
                                          << "is unusable, exporting unzoomed:" << _zoomTrackProblem;
        _exportsZoom = _zoomTrackProblem.isEmpty() && !mZooms->isEmpty();
    }
    mAsset = std::move(source.asset);
    _assetError = std::move(source.assetError);
    if (!mAsset)
        qCWarning(lcExport).noquote() << "cannot open" << path << ":" << QString::fromStdString(_assetError.description)
                                      << "-" << QString::fromStdString(_assetError.failureReason);
    _zoomCurve = zoomCurveFor(mZooms.value_or(ZoomTrack{}), mAsset ? mAsset->duration() : media::Time::invalid());
    if (_exportsZoom) logTrackOddities(QFileInfo(path).fileName(), *mZooms, *_zoomCurve);
    // The desktop going away (minimized, hidden, locked, asleep) does not stop an export: the
    // process keeps running, or simply resumes after sleep, and the work is not thrown away.
}

TavrioExportController::~TavrioExportController() {
    if (auto session = std::move(_zoomExportSession)) {
        // The job goes while a pass still runs: nobody will hear its end, so wind it up here
        // (the engine removes what it wrote) and leave no intermediate file behind.
        session->cancelExport();
        session->waitUntilFinished();
    }
    // The intermediate is ours only while we hold its lock.
    if (_rotationLock) removeIfExists(rotationFilePath());
}

QString TavrioExportController::assetErrorText() const {
    if (mAsset) return {};
    QString text = QString::fromStdString(_assetError.description);
    if (!_assetError.failureReason.empty()) text += " (" + QString::fromStdString(_assetError.failureReason) + ")";
    return text;
}

QString TavrioExportController::errorText(const media::Error& error) {
    return QString::fromStdString(error.description + " " + error.failureReason).trimmed();
}

float TavrioExportController::rotationAngleForOrientation(qint64 orientation) {
    switch (orientation) {
    case static_cast<qint64>(VideoOrientation::Portrait): return static_cast<float>(M_PI / 2);
    case static_cast<qint64>(VideoOrientation::PortraitUpsideDown): return static_cast<float>(3 * M_PI / 2);
    case static_cast<qint64>(VideoOrientation::LandscapeLeft): return static_cast<float>(M_PI);
    default: return 0.0f;
    }
}

std::optional<media::Size> TavrioExportController::videoSize() const {
    std::vector<media::AssetTrack> video;
    if (mAsset) video = mAsset->tracksWithMediaType(media::MediaType::Video);
    if (video.empty()) return std::nullopt;
    return video.front().naturalSize;
}

std::optional<media::VideoComposition> TavrioExportController::zoomCompositionForPreview() {
    auto size = videoSize();
    if (!size) return std::nullopt;
    return media::makeRampComposition(*size, _zoomCurve);
}

std::optional<media::VideoComposition> TavrioExportController::zoomCompositionWithHighQualityRescaling() {
    auto size = videoSize();
    if (!size) return std::nullopt;
    return media::makeLayerComposition(*size, _zoomCurve);
}

void TavrioExportController::startExporting() {
    if (_zoomExportSession || _waitTimer || _started) return;  // one export per job
    if (!recordedIn(_videoOrientation, VideoOrientation::LandscapeRight) && !_rotationLock) {
        // Another export's rotation uses the one intermediate file: wait for it, as the engine's
        // "waiting" status does, rather than remove the file from under it.
        QString error;
        _rotationLock = platform::FileLock::tryLock(rotationLockPath(), &error);
        if (!_rotationLock && error.isEmpty()) {
            qCInfo(lcExport).noquote() << "waiting for another export to finish with" << rotationFilePath();
            _waitTimer = new QTimer(this);
            _waitTimer->setInterval(250);
            connect(_waitTimer, &QTimer::timeout, this, [this] {
                _rotationLock = platform::FileLock::tryLock(rotationLockPath());
                if (!_rotationLock) return;
                _waitTimer->deleteLater();
                _waitTimer = nullptr;
                startExporting();
            });
            _waitTimer->start();
            return;
        }
        if (!_rotationLock) qCWarning(lcExport).noquote() << "cannot lock the intermediate file:" << error;
    }
    _started = true;
    const media::ExportPreset preset = _exportOptOverride
                                           ? settings::exportPresetForOption(*_exportOptOverride, mAsset.get())
                                           : settings::getExportPresetFromSettings(mAsset.get());
    auto session = std::make_shared<ExportSession>(mAsset, preset);
    if (recordedIn(_videoOrientation, VideoOrientation::LandscapeRight)) {
        chooseFreeExportNames(*session);
        _outVideo = QString::fromStdString(session->outputPath());
    } else {
        _outVideo = MediaStore::exportFilePathForRotation();
        session->setOutputPath(_outVideo.toStdString());
    }
    session->setOutputFileType(media::FileType::QuickTimeMovie);

    const qint64 rescale = _rescaleOptOverride ? *_rescaleOptOverride
                                               : platform::Defaults::standard().integerForKey(settings::kRescaleOpt);
    auto composition =
        settings::rescaleIsBest(rescale) ? zoomCompositionWithHighQualityRescaling() : zoomCompositionForPreview();
    session->setVideoComposition(composition);
    QPointer<TavrioExportController> self(this);
    // The pass still runs (the sound is copied), but the user must hear that the pictures are
    // missing; telling is the screen's business.
    if (!composition && _delegate) _delegate->exportProblem(corruptMovieText());
    if (!self) return;
    if (_delegate) _delegate->exportDidStart();
    startProgressTimer(session);
    _zoomExportSession = session;
    exportAsynchronously(session, &TavrioExportController::exportDidFinish, _inVideo);
}

void TavrioExportController::cancelExporting() {
    if (_zoomExportSession) _zoomExportSession->cancelExport();
    if (_rotationPending) {
        // Between the passes no session runs: the rotation that was about to start ends as a
        // cancelled pass, and the intermediate goes with it.
        _rotationPending = false;
        removeIfExists(rotationFilePath());
        _rotationLock.reset();
        mZooms.reset();
        if (_delegate) _delegate->rotationFinished(Status::Cancelled, QString());
        return;
    }
    if (_waitTimer) {
        // Cancelled before the zoom pass could start: it ends as a cancelled pass, writing nothing.
        delete _waitTimer;
        _waitTimer = nullptr;
        _started = true;
        mZooms.reset();
        if (_delegate) _delegate->exportFinished(Status::Cancelled, rotationFilePath(), true);
    }
}

void TavrioExportController::exportAsynchronously(
    const std::shared_ptr<ExportSession>& session,
    void (TavrioExportController::*end)(const std::shared_ptr<ExportSession>&, const QString&), const QString& file) {
    QPointer<QObject> self(this);
    std::weak_ptr<ExportSession> weakSession = session;
    session->exportAsynchronously([this, self, weakSession, end, file] {
        // Engine thread: only hand the end over to the main thread, to a job that still exists.
        platform::Background::deliver(
            self,
            [this, weakSession, end, file] {
                if (auto s = weakSession.lock()) (this->*end)(s, file);
            },
            "export pass ended");
    });
}

void TavrioExportController::startProgressTimer(const std::shared_ptr<ExportSession>& session) {
    auto* timer = new QTimer(this);
    timer->setInterval(250);
    connect(timer, &QTimer::timeout, this, [this, timer, session] { progressTimer(timer, session); });
    timer->start();
}

void TavrioExportController::progressTimer(QTimer* timer, const std::shared_ptr<ExportSession>& session) {
    switch (session->status()) {
    case ExportSession::Status::Exporting:
        if (_delegate) _delegate->exportProgress(session->progress());
        break;
    case ExportSession::Status::Completed:
    case ExportSession::Status::Failed:
    case ExportSession::Status::Cancelled:
        timer->stop();
        timer->deleteLater();
        break;
    default: break;
    }
}

void TavrioExportController::exportDidFinish(const std::shared_ptr<ExportSession>& session, const QString&) {
    const Status status = session->status();
    const QString outputPath = QString::fromStdString(session->outputPath());
    const bool needsRotation = !recordedIn(_videoOrientation, VideoOrientation::LandscapeRight);
    if (status == Status::Failed) {
        _lastError = session->error();
        logFailure(_lastError);
    }

    if (_zoomExportSession == session) _zoomExportSession.reset();
    mZooms.reset();
    // A failed or cancelled pass left nothing (the engine removes its own temporary); a file at
    // the output path now is someone else's and stays.
    if (status == Status::Completed && !needsRotation) _outVideo = outputPath;
    if (status != Status::Completed) _rotationLock.reset();

    // From here until the rotation pass has its session, a cancel still has something to stop.
    _rotationPending = needsRotation && status == Status::Completed;
    QPointer<TavrioExportController> self(this);
    if (_delegate) _delegate->exportFinished(status, outputPath, needsRotation);
    if (!self) return;  // the delegate let go of the job
    if (_rotationPending) {
        const QString out = _outVideo;
        QTimer::singleShot(0, this, [this, out] {
            if (_rotationPending) performRotation(out);
        });
    }
}

void TavrioExportController::performRotation(const QString& path) {
    struct Opened {
        std::shared_ptr<const media::Asset> asset;
        media::Error error;
        QString toFile;
    };
    // Opening the intermediate reads its index, and a free name is looked for among the files:
    // off the UI thread. Until the answer a cancel finds the rotation still pending.
    platform::Background::run(
        this,
        [path] {
            Opened o;
            o.asset = media::Asset::open(path.toStdString(), &o.error);
            o.toFile = MediaStore::exportFilePath();
            return o;
        },
        [this, path](const Opened& o) {
            if (!_rotationPending) return;  // cancelled meanwhile, the intermediate gone with it
            _rotationPending = false;
            // Without it the pass fails at once; its end tells why it could not be opened.
            _rotationOpenError = o.error;
            if (!o.asset)
                qCWarning(lcExport).noquote() << "cannot open the intermediate" << path << ":" << errorText(o.error);
            rotateVideo(path, o.toFile, o.asset);
        },
        platform::Background::Lane::Normal, "intermediate opened");
}

void TavrioExportController::rotateVideo(const QString& source, const QString& toFile,
                                         std::shared_ptr<const media::Asset> asset) {
    media::AffineTransform rotation =
        media::AffineTransform::makeRotation(rotationAngleForOrientation(_videoOrientation));
    if (_videoOrientation == kNoRecordedOrientation && mAsset) {
        // Without a recorded orientation the zoom pass still dropped the source's own display
        // matrix; giving it back keeps a movie that played upright from coming out sideways.
        auto video = mAsset->tracksWithMediaType(media::MediaType::Video);
        if (!video.empty()) rotation = video.front().preferredTransform;
    }

    auto session = std::make_shared<ExportSession>(asset, media::ExportPreset::Passthrough);
    session->setOutputPath(toFile.toStdString());
    session->setOutputPathChooser([] { return MediaStore::exportFilePath().toStdString(); });
    session->setOutputFileType(media::FileType::QuickTimeMovie);
    session->setVideoTrackPreferredTransform(rotation);
    _zoomExportSession = session;
    QPointer<TavrioExportController> self(this);
    if (_delegate) _delegate->rotationDidStart();
    if (!self) return;
    startProgressTimer(session);
    exportAsynchronously(session, &TavrioExportController::rotateDidFinish, source);
}

void TavrioExportController::rotateDidFinish(const std::shared_ptr<ExportSession>& session, const QString& inFile) {
    const Status status = session->status();
    const QString outputPath = QString::fromStdString(session->outputPath());
    if (status == Status::Failed) {
        const media::Error e = _rotationOpenError ? _rotationOpenError : session->error();
        _lastError = e;
        qCWarning(lcExport).noquote() << QStringLiteral("Error Code=%1").arg(e.code);
        logFailure(e);
    }
    // The intermediate movie goes whatever the outcome, and with it our claim on its name.
    removeIfExists(inFile);
    _rotationLock.reset();
    if (_zoomExportSession == session) _zoomExportSession.reset();
    mZooms.reset();
    if (_delegate) _delegate->rotationFinished(status, outputPath);
}
