#pragma once
// The exports of recordings that are running, kept apart from the screens that show them: the
// details screen starts an export here and follows it while it shows, and leaving the screen
// leaves the export running; the library shows its progress in the recording's row. When an
// export completes, the recording it replaces goes to the Trash (where there is none, only after
// the user agreed to delete it for good), and everyone following hears how it ended.
//
// Main thread only. One export per recording at a time.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "TavrioExportController.h"

class RunningExports : public QObject {
    Q_OBJECT
public:
    using Status = media::ExportSession::Status;

    // The application's one instance, made on first use and owned by the application object.
    static RunningExports& shared();

    explicit RunningExports(QObject* parent = nullptr);
    ~RunningExports() override;

    // Starts exporting the recording with the stored settings. False when it is already being
    // exported (nothing new starts). The movie is opened and its zoom track read off the UI
    // thread first: until then the export is preparing (isPreparing), and a cancel ends it at
    // once. A movie that does not open ends the export as failed, with the reason.
    bool start(const QString& recordingPath);
    // Cancels the recording's export at whatever point it is; it then ends as cancelled.
    void cancel(const QString& recordingPath);
    // Until finished() is sent: after a completed export, that is once the recording has gone.
    bool isExporting(const QString& recordingPath) const;
    // Running, and its movie not yet opened (started() has not been sent).
    bool isPreparing(const QString& recordingPath) const;
    // The latest fraction done, 0 to 1 (0 before the first report or when none runs).
    float progress(const QString& recordingPath) const;
    // Whether the running export applies a recorded zoom (see TavrioExportController).
    bool exportsZoom(const QString& recordingPath) const;
    // How many exports run.
    int count() const { return static_cast<int>(_jobs.size()); }

    // A screen that shows the export's end itself (the details screen) registers here while it
    // exists; finished() says whether it was visible then, so no other notice is needed.
    void setShownBy(const QString& recordingPath, QObject* screen);

signals:
    void started(const QString& recordingPath);
    // Something about the recording the user must be told (TavrioExportControllerDelegate::
    // exportProblem); the export goes on.
    void problem(const QString& recordingPath, const QString& text);
    void progressChanged(const QString& recordingPath, float progress);
    // The export ended. Completed: `finalPath` is the exported movie, and the recording is in
    // the Trash, or gone, or (the user refused to delete it for good) still there. `zoomed` is
    // false for a movie exported without a recorded zoom. `toldOnScreen`: a screen that shows
    // the end itself was visible. Failed: `reason` says why in the user's words.
    void finished(const QString& recordingPath, RunningExports::Status status, const QString& finalPath, bool zoomed,
                  bool toldOnScreen, const QString& reason);

private:
    struct Job;
    // `reason`: why it failed, when the job cannot say it itself (its movie did not open).
    void ended(const QString& recordingPath, Status status, const QString& finalPath, QString reason = QString());

    // Threads: main thread only; the jobs post their ends here themselves.
    QHash<QString, std::shared_ptr<Job>> _jobs;
    QHash<QString, QPointer<QObject>> _shownBy;
};
