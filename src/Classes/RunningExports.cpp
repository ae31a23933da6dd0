#include "RunningExports.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "VideoAssetsViewController.h"
#include "platform/Background.h"
#include "platform/Logging.h"

// Hears one job and hands its events on with the recording they belong to.
struct RunningExports::Job : TavrioExportControllerDelegate {
    RunningExports* owner = nullptr;
    QString recording;
    std::unique_ptr<TavrioExportController> controller;  // null while the movie is being opened
    float progress = 0;
    bool started = false;
    bool ending = false;  // ended; running still until the recording it replaces is dealt with

    void exportProblem(const QString& text) override { emit owner->problem(recording, text); }
    void exportDidStart() override {
        qCInfo(lcLibrary).noquote() << "export of" << QFileInfo(recording).fileName() << "started";
        started = true;
        emit owner->started(recording);
    }
    void exportProgress(float p) override {
        progress = p;
        emit owner->progressChanged(recording, p);
    }
    void exportFinished(Status status, const QString& outputPath, bool needsFurtherProcessing) override {
        if (needsFurtherProcessing && status == Status::Completed) return;  // the rotation pass follows
        owner->ended(recording, status, outputPath);
    }
    void rotationFinished(Status status, const QString& outputPath) override {
        owner->ended(recording, status, outputPath);
    }
};

RunningExports& RunningExports::shared() {
    static QPointer<RunningExports> instance;
    if (!instance) instance = new RunningExports(QCoreApplication::instance());
    return *instance;
}

RunningExports::RunningExports(QObject* parent) : QObject(parent) {}

RunningExports::~RunningExports() {
    // Each job winds its pass up as it goes; what it wrote is removed, the recording stays.
    auto jobs = std::move(_jobs);
    for (auto& job : jobs)
        if (job->controller) job->controller->setDelegate(nullptr);
}

bool RunningExports::start(const QString& recordingPath) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (_jobs.contains(recordingPath)) return false;
    auto job = std::make_shared<Job>();
    job->owner = this;
    job->recording = recordingPath;
    _jobs.insert(recordingPath, job);
    std::weak_ptr<Job> weak = job;
    platform::Background::run(
        this, [recordingPath] { return TavrioExportController::readSource(recordingPath); },
        [this, weak](TavrioExportController::Source source) {
            std::shared_ptr<Job> job = weak.lock();
            if (!job || _jobs.value(job->recording) != job) return;  // cancelled while opening
            if (!source.asset) {
                qCWarning(lcLibrary).noquote()
                    << "export of" << QFileInfo(job->recording).fileName()
                    << "cannot start:" << TavrioExportController::errorText(source.assetError);
                ended(job->recording, Status::Failed, QString(), TavrioExportController::errorText(source.assetError));
                return;
            }
            job->controller = std::make_unique<TavrioExportController>(std::move(source));
            job->controller->setDelegate(job.get());
            job->controller->startExporting();
        },
        platform::Background::Lane::Normal, "export source read");
    return true;
}

void RunningExports::cancel(const QString& recordingPath) {
    TAVRIO_ASSERT_MAIN_THREAD();
    std::shared_ptr<Job> job = _jobs.value(recordingPath);
    if (!job) return;
    if (job->controller)
        job->controller->cancelExporting();
    else
        ended(recordingPath, Status::Cancelled, QString());  // nothing was written yet
}

bool RunningExports::isExporting(const QString& recordingPath) const {
    return _jobs.contains(recordingPath);
}

bool RunningExports::isPreparing(const QString& recordingPath) const {
    auto job = _jobs.value(recordingPath);
    return job && !job->started;
}

float RunningExports::progress(const QString& recordingPath) const {
    auto job = _jobs.value(recordingPath);
    return job ? job->progress : 0.0f;
}

bool RunningExports::exportsZoom(const QString& recordingPath) const {
    auto job = _jobs.value(recordingPath);
    return job && job->controller && job->controller->exportsZoom();
}

void RunningExports::setShownBy(const QString& recordingPath, QObject* screen) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (screen)
        _shownBy.insert(recordingPath, screen);
    else
        _shownBy.remove(recordingPath);
}

void RunningExports::ended(const QString& recordingPath, Status status, const QString& finalPath, QString reason) {
    TAVRIO_ASSERT_MAIN_THREAD();
    std::shared_ptr<Job> job = _jobs.value(recordingPath);
    if (!job || job->ending) return;
    job->ending = true;
    const bool zoomed = job->controller && job->controller->exportsZoom();
    if (job->controller) {
        if (status == Status::Failed && reason.isEmpty())
            reason = TavrioExportController::errorText(job->controller->lastError());
        // The job is still inside the call that reported its end.
        job->controller->setDelegate(nullptr);
        job->controller.release()->deleteLater();
    }

    QPointer<RunningExports> self(this);
    // Running until then: the recording is still there while it goes to the Trash, and must not
    // be exported again meanwhile.
    auto tell = [self, job, recordingPath, status, finalPath, zoomed, reason] {
        if (!self) return;
        if (self->_jobs.value(recordingPath) == job) self->_jobs.remove(recordingPath);
        const QPointer<QObject> screen = self->_shownBy.value(recordingPath);
        const bool shown = screen && screen->property("visible").toBool();
        qCInfo(lcLibrary).noquote() << "export of" << QFileInfo(recordingPath).fileName() << "ended:" << int(status)
                                    << finalPath;
        emit self->finished(recordingPath, status, finalPath, zoomed, shown, reason);
    };
    if (status != Status::Completed) {
        tell();
        return;
    }
    // The export replaces the recording; the recording goes only where it can be restored,
    // or with the user's consent.
    VideoAssetsViewController::deleteVideoAsset(recordingPath, [tell](bool) { tell(); });
}
