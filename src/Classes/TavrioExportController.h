#pragma once
// The export job: renders one library movie through its recorded zoom into a new movie in the
// Documents folder, then, for a movie not recorded in landscape-right, re-wraps that movie with
// a display rotation so that it plays upright. One job runs one export.
//
// All of its state lives on the main thread: the engine's sessions run on their own threads and
// only post their ends back here.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

#include "TavrioExportControllerDelegate.h"
#include "ZoomComposition.h"
#include "ZoomTrack.h"
#include "media/Asset.h"
#include "media/ExportSession.h"

class TavrioExportController : public QObject {
    Q_OBJECT
public:
    // Opens the movie and reads its zoom track and recording orientation.
    explicit TavrioExportController(const QString& path, QObject* parent = nullptr);
    ~TavrioExportController() override;

    TavrioExportControllerDelegate* delegate() const { return delegate_; }
    void setDelegate(TavrioExportControllerDelegate* delegate) { delegate_ = delegate; }

    const std::optional<ZoomTrack>& zooms() const { return zooms_; }
    QString inVideo() const { return inVideo_; }
    QString outVideo() const { return outVideo_; }
    qint64 videoOrientation() const { return videoOrientation_; }
    // Why the track cannot be rendered (empty when it can or when there is none).
    QString zoomTrackProblemText() const { return zoomTrackProblem_; }

    // Overrides of the "exportOpt" and "rescaleOpt" settings for this job (the command line's
    // options); without them the stored settings are read when the export starts.
    void setExportOptOverride(std::optional<int> value) { exportOptOverride_ = value; }
    void setRescaleOptOverride(std::optional<int> value) { rescaleOptOverride_ = value; }

    void startExporting();
    void cancelExporting();

    // The transform-ramp form (bilinear; also what playback shows) and the layer-animation form
    // (high-quality rescaling). nullopt, after an alert, when the movie has no video track.
    std::optional<media::VideoComposition> zoomCompositionForPreview();
    std::optional<media::VideoComposition> zoomCompositionWithHighQualityRescaling();
    std::shared_ptr<const media::Asset> assetForPreview() const { return asset_; }

    // Why the movie could not be opened (empty when it could).
    QString assetErrorText() const;
    // The error of the last pass that failed.
    media::Error lastError() const { return lastError_; }

    // The segments the compositions are built from (empty without a usable track).
    std::vector<tavrio::ZoomSegment> zoomSegments() const;

    // The display rotation the rotation pass gives a movie recorded in `orientation`.
    static float rotationAngleForOrientation(qint64 orientation);

private:
    void tavrioExportControllerWillEnterBackground();
    void startProgressTimer(const std::shared_ptr<media::ExportSession>& session);
    void progressTimer(QTimer* timer, const std::shared_ptr<media::ExportSession>& session);
    void exportDidFinish(const std::shared_ptr<media::ExportSession>& session, const QString& fromFile);
    void performRotation(const QString& path);
    void rotateVideo(const QString& source, const QString& toFile);
    void rotateDidFinish(const std::shared_ptr<media::ExportSession>& session, const QString& inFile);
    // Hands a session's end, which the engine reports on its own thread, to the main thread;
    // dropped if this job is gone by then.
    void exportAsynchronously(const std::shared_ptr<media::ExportSession>& session,
                              void (TavrioExportController::*end)(const std::shared_ptr<media::ExportSession>&,
                                                                  const QString&),
                              const QString& file);
    std::optional<tavrio::VideoTrackFacts> videoTrackFacts(const QString& corruptMessage) const;

    // Threads: every field belongs to the main thread. The engine's sessions end on their own
    // threads and reach the job only through a main-thread dispatch guarded by alive_.
    std::optional<ZoomTrack> zooms_;
    qint64 videoOrientation_ = 0;
    QString inVideo_;
    QString outVideo_;
    bool holdsIntermediate_ = false;  // outVideo_ is a completed zoom pass awaiting its rotation
    std::shared_ptr<const media::Asset> asset_;
    media::Error assetError_;
    media::Error lastError_;
    TavrioExportControllerDelegate* delegate_ = nullptr;
    std::shared_ptr<media::ExportSession> zoomExportSession_;
    QString zoomTrackProblem_;
    std::optional<int> exportOptOverride_;
    std::optional<int> rescaleOptOverride_;
    // Lives exactly as long as the job; engine completions check it on the main thread.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
