#include "TavrioExportController.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>

#include "Settings.h"
#include "TavrioCameraController.h"
#include "TavrioCaptureManager.h"
#include "media/capture/CaptureSession.h"
#include "platform/AlertService.h"
#include "platform/Defaults.h"
#include "platform/Logging.h"
#include "platform/MainThread.h"
#include "platform/Notifications.h"

using media::ExportSession;

namespace {

using Status = ExportSession::Status;
using media::VideoOrientation;

// The orientation recorded in a zoom track; 0 (none recorded) matches no orientation.
bool recordedIn(qint64 recorded, VideoOrientation o) { return recorded == static_cast<qint64>(o); }

bool endedWithoutMovie(Status s) { return s == Status::Failed || s == Status::Cancelled; }

void logFailure(const media::Error& e) {
    qCWarning(lcExport).noquote() << QString::fromStdString(e.description);
    qCWarning(lcExport).noquote() << QString::fromStdString(e.failureReason);
    qCWarning(lcExport).noquote() << QString::fromStdString(e.recoverySuggestion);
}

void removeIfExists(const QString& path) {
    if (!path.isEmpty() && QFileInfo::exists(path)) QFile::remove(path);
}

}  // namespace

TavrioExportController::TavrioExportController(const QString& path, QObject* parent) : QObject(parent) {
    zooms_ = TavrioCameraController::zoomsForVideoFile(path);
    inVideo_ = path;
    videoOrientation_ = TavrioCameraController::videoOrientationForZooms(zooms_);
    if (zooms_) {
        zoomTrackProblem_ = zoomTrackProblem(*zooms_);
        // A damaged track must not turn into a division by zero or a wild transform: the movie
        // is exported unzoomed instead (its orientation still applies).
        if (!zoomTrackProblem_.isEmpty())
            qCWarning(lcExport).noquote() << "zoom track of" << QFileInfo(path).fileName()
                                          << "is unusable, exporting unzoomed:" << zoomTrackProblem_;
    }
    asset_ = media::Asset::open(path.toStdString(), &assetError_);
    if (!asset_)
        qCWarning(lcExport).noquote() << "cannot open" << path << ":"
                                      << QString::fromStdString(assetError_.description) << "-"
                                      << QString::fromStdString(assetError_.failureReason);
    platform::Notifications::center().addObserver(this, platform::kWillResignActive,
                                                  [this](const QString&, const QVariantMap&) {
                                                      tavrioExportControllerWillEnterBackground();
                                                  });
}

TavrioExportController::~TavrioExportController() {
    platform::Notifications::center().removeObserver(this);
    alive_.reset();
    if (auto session = std::move(zoomExportSession_)) {
        // The job goes while a pass still runs: nobody will hear its end, so wind it up here and
        // leave no partial or intermediate file behind.
        session->cancelExport();
        session->waitUntilFinished();
        if (session->status() != Status::Completed) removeIfExists(QString::fromStdString(session->outputPath()));
        if (!recordedIn(videoOrientation_, VideoOrientation::LandscapeRight)) removeIfExists(outVideo_);
    } else if (holdsIntermediate_) {
        // The zoom pass completed but the rotation that would consume its movie never ran.
        removeIfExists(outVideo_);
    }
}

QString TavrioExportController::assetErrorText() const {
    if (asset_) return {};
    QString text = QString::fromStdString(assetError_.description);
    if (!assetError_.failureReason.empty()) text += " (" + QString::fromStdString(assetError_.failureReason) + ")";
    return text;
}

float TavrioExportController::rotationAngleForOrientation(qint64 orientation) {
    if (recordedIn(orientation, VideoOrientation::Portrait)) return static_cast<float>(M_PI / 2);
    if (recordedIn(orientation, VideoOrientation::PortraitUpsideDown)) return static_cast<float>(3 * M_PI / 2);
    if (recordedIn(orientation, VideoOrientation::LandscapeLeft)) return static_cast<float>(M_PI);
    return 0.0f;
}

std::vector<tavrio::ZoomSegment> TavrioExportController::zoomSegments() const {
    if (!zooms_ || !zoomTrackProblem_.isEmpty() || !asset_) return {};
    std::vector<tavrio::ZoomSample> samples;
    samples.reserve(zooms_->size());
    for (const ZoomEntry& e : *zooms_) samples.push_back({zoomOf(e), atTimeOf(e)});
    return tavrio::buildZoomSegments(samples, asset_->duration());
}

std::optional<tavrio::VideoTrackFacts> TavrioExportController::videoTrackFacts(const QString& corruptMessage) const {
    std::vector<media::AssetTrack> video;
    if (asset_) video = asset_->tracksWithMediaType(media::MediaType::Video);
    if (video.empty()) {
        platform::AlertService::show(QStringLiteral("Error"), corruptMessage, QStringLiteral("Okay"));
        return std::nullopt;
    }
    return tavrio::VideoTrackFacts{video.front().trackID, video.front().naturalSize};
}

std::optional<media::VideoComposition> TavrioExportController::zoomCompositionForPreview() {
    auto track = videoTrackFacts(
        QStringLiteral("The Video File looks Corrupted, try saving the original file in Camera Roll."));
    if (!track) return std::nullopt;
    return tavrio::makeRampComposition(*track, asset_->duration(), zoomSegments());
}

std::optional<media::VideoComposition> TavrioExportController::zoomCompositionWithHighQualityRescaling() {
    auto track = videoTrackFacts(QStringLiteral("The Video File is Corrupted"));
    if (!track) return std::nullopt;
    return tavrio::makeLayerComposition(*track, asset_->duration(), zoomSegments());
}

void TavrioExportController::startExporting() {
    if (zoomExportSession_) return;  // one export per job
    const std::string preset =
        exportOptOverride_ ? TavrioCameraController::exportPresetForOption(*exportOptOverride_, asset_.get())
                           : TavrioCameraController::getExportPresetFromSettings(asset_.get());
    auto session = std::make_shared<ExportSession>(asset_, preset);
    outVideo_ = recordedIn(videoOrientation_, VideoOrientation::LandscapeRight)
                    ? TavrioCaptureManager::exportFilePath()
                    : TavrioCaptureManager::exportFilePathForRotation();
    session->setOutputPath(outVideo_.toStdString());
    session->setOutputFileType(media::kFileTypeQuickTimeMovie);

    const qint64 rescale = rescaleOptOverride_ ? *rescaleOptOverride_
                                               : platform::Defaults::standard().integerForKey(settings::kRescaleOpt);
    session->setVideoComposition(settings::rescaleIsBest(rescale) ? zoomCompositionWithHighQualityRescaling()
                                                                  : zoomCompositionForPreview());
    if (delegate_) delegate_->exportDidStart();
    startProgressTimer(session);
    zoomExportSession_ = session;
    exportAsynchronously(session, &TavrioExportController::exportDidFinish, inVideo_);
}

void TavrioExportController::cancelExporting() {
    if (zoomExportSession_) zoomExportSession_->cancelExport();
}

void TavrioExportController::tavrioExportControllerWillEnterBackground() { cancelExporting(); }

void TavrioExportController::exportAsynchronously(
    const std::shared_ptr<ExportSession>& session,
    void (TavrioExportController::*end)(const std::shared_ptr<ExportSession>&, const QString&), const QString& file) {
    std::weak_ptr<int> alive = alive_;
    std::weak_ptr<ExportSession> weakSession = session;
    session->exportAsynchronously([this, alive, weakSession, end, file] {
        // Engine thread: only hand the end over to the main thread.
        platform::MainThread::dispatchAsync([this, alive, weakSession, end, file] {
            auto s = weakSession.lock();
            if (alive.expired() || !s) return;
            (this->*end)(s, file);
        });
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
        if (delegate_) delegate_->exportProgress(session->progress());
        break;
    case ExportSession::Status::Completed:
    case ExportSession::Status::Failed:
    case ExportSession::Status::Cancelled:
        timer->stop();
        timer->deleteLater();
        break;
    default:
        break;
    }
}

void TavrioExportController::exportDidFinish(const std::shared_ptr<ExportSession>& session, const QString&) {
    const Status status = session->status();
    const QString outputPath = QString::fromStdString(session->outputPath());
    const bool needsRotation = !recordedIn(videoOrientation_, VideoOrientation::LandscapeRight);
    if (status == Status::Failed) {
        lastError_ = session->error();
        logFailure(lastError_);
    }

    if (zoomExportSession_ == session) zoomExportSession_.reset();
    zooms_.reset();
    if (endedWithoutMovie(status)) removeIfExists(outputPath);
    holdsIntermediate_ = needsRotation && status == Status::Completed;

    QPointer<TavrioExportController> self(this);
    if (delegate_) delegate_->exportFinished(status, outputPath, needsRotation);
    if (!self) return;  // the delegate let go of the job
    if (needsRotation && status == Status::Completed) {
        std::weak_ptr<int> alive = alive_;
        const QString out = outVideo_;
        platform::MainThread::afterDelay(0, [this, alive, out] {
            if (!alive.expired()) performRotation(out);
        });
    }
}

void TavrioExportController::performRotation(const QString& path) {
    rotateVideo(path, TavrioCaptureManager::exportFilePath());
}

void TavrioExportController::rotateVideo(const QString& source, const QString& toFile) {
    media::Error openError;
    std::shared_ptr<const media::Asset> asset = media::Asset::open(source.toStdString(), &openError);
    if (!asset) qCWarning(lcExport) << "Failed Inserting";

    media::AffineTransform rotation = media::AffineTransform::makeRotation(rotationAngleForOrientation(videoOrientation_));
    if (videoOrientation_ == TavrioCameraController::kNoRecordedOrientation && asset_) {
        // Without a recorded orientation the zoom pass still dropped the source's own display
        // matrix; giving it back keeps a movie that played upright from coming out sideways.
        auto video = asset_->tracksWithMediaType(media::MediaType::Video);
        if (!video.empty()) rotation = video.front().preferredTransform;
    }

    auto session = std::make_shared<ExportSession>(asset, media::kExportPresetPassthrough);
    session->setOutputPath(toFile.toStdString());
    session->setOutputFileType(media::kFileTypeQuickTimeMovie);
    session->setVideoTrackPreferredTransform(rotation);
    zoomExportSession_ = session;
    QPointer<TavrioExportController> self(this);
    if (delegate_) delegate_->rotationDidStart();
    if (!self) return;
    startProgressTimer(session);
    exportAsynchronously(session, &TavrioExportController::rotateDidFinish, source);
}

void TavrioExportController::rotateDidFinish(const std::shared_ptr<ExportSession>& session, const QString& inFile) {
    const Status status = session->status();
    const QString outputPath = QString::fromStdString(session->outputPath());
    if (status == Status::Failed) {
        const media::Error e = session->error();
        lastError_ = e;
        qCWarning(lcExport).noquote() << QStringLiteral("Error Code=%1").arg(e.code);
        logFailure(e);
    }
    // The intermediate movie goes whatever the outcome.
    removeIfExists(inFile);
    holdsIntermediate_ = false;
    if (zoomExportSession_ == session) zoomExportSession_.reset();
    zooms_.reset();
    if (endedWithoutMovie(status)) removeIfExists(outputPath);
    if (delegate_) delegate_->rotationFinished(status, outputPath);
}
