#pragma once
// What an export job tells its client. Every operation has a do-nothing default, so a client
// hears only the events it overrides.

#include <QString>

#include "media/ExportSession.h"

class TavrioExportControllerDelegate {
public:
    virtual ~TavrioExportControllerDelegate() = default;
    // Something the user must be told before the zoom pass starts (the movie has no pictures);
    // the pass still runs. The job raises no alert itself: the front end tells it its own way.
    virtual void exportProblem(const QString& text) { (void)text; }
    // The zoom pass is set up and about to start.
    virtual void exportDidStart() {}
    // Every 0.25 s while a pass (zoom or rotation) is exporting: its fraction done, 0 to 1.
    virtual void exportProgress(float progress) { (void)progress; }
    using Status = media::ExportSession::Status;
    // The zoom pass ended with `status` (Completed, Failed or Cancelled). The flag says whether
    // the movie needs the rotation pass; that pass follows only after a completed one.
    virtual void exportFinished(Status status, const QString& outputPath, bool needsFurtherProcessing) {
        (void)status, (void)outputPath, (void)needsFurtherProcessing;
    }
    virtual void rotationDidStart() {}
    // The rotation pass ended; when Completed, `outputPath` is the final movie.
    virtual void rotationFinished(Status status, const QString& outputPath) { (void)status, (void)outputPath; }
};
