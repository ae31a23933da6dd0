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
#include "ZoomTrack.h"
#include "media/Asset.h"
#include "media/ExportSession.h"

namespace platform {
class FileLock;
}

class TavrioExportController : public QObject {
    Q_OBJECT
public:
    // What a job reads before it can start: the movie opened (its whole index) and its zoom
    // track. readSource does both; it reads files, so screens call it off the UI thread.
    struct Source {
        QString path;
        std::optional<ZoomTrack> zooms;
        std::shared_ptr<const media::Asset> asset;  // null: it did not open, assetError says why
        media::Error assetError;
    };
    static Source readSource(const QString& path);

    explicit TavrioExportController(Source source, QObject* parent = nullptr);
    // Reads the source on the calling thread: for callers that wait by contract (the command
    // line, tests).
    explicit TavrioExportController(const QString& path, QObject* parent = nullptr);
    ~TavrioExportController() override;

    TavrioExportControllerDelegate* delegate() const { return _delegate; }
    void setDelegate(TavrioExportControllerDelegate* delegate) { _delegate = delegate; }

    const std::optional<ZoomTrack>& zooms() const { return mZooms; }
    // The zoom pass's output: chosen when the export starts, and for a movie without rotation
    // the name it finally took (another export may have claimed the first choice meanwhile).
    QString outVideo() const { return _outVideo; }
    qint64 videoOrientation() const { return _videoOrientation; }
    // Why the track cannot be rendered (empty when it can or when there is none).
    QString zoomTrackProblemText() const { return _zoomTrackProblem; }
    // Whether the export applies a recorded zoom: false for a movie without a usable zoom track,
    // which is exported unzoomed and must not be taken for a zoomed result.
    bool exportsZoom() const { return _exportsZoom; }
    // What the user is told about such a movie.
    static QString noZoomText() { return QStringLiteral("No zoom was recorded with this movie"); }
    // What the user is told when a movie to export has no pictures (exportProblem()).
    static QString corruptMovieText() { return QStringLiteral("The Video File is Corrupted"); }

    // Overrides of the "exportOpt" and "rescaleOpt" settings for this job (the command line's
    // options); without them the stored settings are read when the export starts.
    void setExportOptOverride(std::optional<int> value) { _exportOptOverride = value; }
    void setRescaleOptOverride(std::optional<int> value) { _rescaleOptOverride = value; }

    void startExporting();
    // Cancels the running pass, or the rotation about to follow a completed zoom pass; the
    // delegate then hears a cancelled end. Nothing happens once the last pass has ended.
    void cancelExporting();
    // Whether a pass runs, waits to start, or is about to follow the last one.
    bool isExporting() const { return _zoomExportSession || _waitTimer || _rotationPending; }

    // The movie's zoom through the ramp form (bilinear, as playback shows it) and the layer form
    // (high-quality rescaling). nullopt when the movie has no video track.
    std::optional<media::VideoComposition> zoomCompositionForPreview();
    std::optional<media::VideoComposition> zoomCompositionWithHighQualityRescaling();
    std::shared_ptr<const media::Asset> assetForPreview() const { return mAsset; }

    // Why the movie could not be opened (empty when it could).
    QString assetErrorText() const;
    // The error of the last pass that failed.
    media::Error lastError() const { return _lastError; }
    // An engine error as the user reads it: what went wrong, then why.
    static QString errorText(const media::Error& error);

    // The zoom the compositions render: the track's curve over the movie, unzoomed without a
    // usable track or a movie.
    const std::shared_ptr<const media::ZoomCurve>& zoomCurve() const { return _zoomCurve; }

    // The display rotation the rotation pass gives a movie recorded in `orientation`.
    static float rotationAngleForOrientation(qint64 orientation);

private:
    void startProgressTimer(const std::shared_ptr<media::ExportSession>& session);
    void progressTimer(QTimer* timer, const std::shared_ptr<media::ExportSession>& session);
    void exportDidFinish(const std::shared_ptr<media::ExportSession>& session, const QString& fromFile);
    void performRotation(const QString& path);
    void rotateVideo(const QString& source, const QString& toFile, std::shared_ptr<const media::Asset> asset);
    void rotateDidFinish(const std::shared_ptr<media::ExportSession>& session, const QString& inFile);
    // Hands a session's end, which the engine reports on its own thread, to the main thread;
    // dropped if this job is gone by then.
    void exportAsynchronously(const std::shared_ptr<media::ExportSession>& session,
                              void (TavrioExportController::*end)(const std::shared_ptr<media::ExportSession>&,
                                                                  const QString&),
                              const QString& file);
    std::optional<media::Size> videoSize() const;

    // Threads: every field belongs to the main thread. The engine's sessions end on their own
    // threads and reach the job only through platform::Background::deliver, the job its context.
    std::optional<ZoomTrack> mZooms;
    std::shared_ptr<const media::ZoomCurve> _zoomCurve;
    qint64 _videoOrientation = 0;
    QString _inVideo;
    QString _outVideo;
    std::shared_ptr<const media::Asset> mAsset;
    media::Error _assetError;
    media::Error _lastError;
    media::Error _rotationOpenError;  // why the intermediate did not open for the rotation pass
    TavrioExportControllerDelegate* _delegate = nullptr;
    std::shared_ptr<media::ExportSession> _zoomExportSession;
    QString _zoomTrackProblem;
    bool _exportsZoom = false;
    std::optional<int> _exportOptOverride;
    std::optional<int> _rescaleOptOverride;
    // Held from the start of a zoom pass that writes the intermediate until the rotation pass
    // has removed it: no other export removes or rewrites it meanwhile.
    std::unique_ptr<platform::FileLock> _rotationLock;
    QTimer* _waitTimer = nullptr;  // polls for that lock while another export holds it
    bool _started = false;
    bool _rotationPending = false;  // the zoom pass completed; its rotation has not started yet
};
