// tavrio-cli demo: the whole road once, without a camera or a screen. Records six seconds from
// the virtual camera while zooming in, holding and zooming out, then exports the recording with
// the high-quality ("Best") zoom rendering, as the details screen would.

#include "Command.h"
#include "Settings.h"
#include "Recording.h"

#include "ZoomTrack.h"
#include "TavrioCaptureManager.h"
#include "TavrioExportController.h"

#include "platform/DeviceOrientation.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

class DemoExport : public TavrioExportControllerDelegate {
public:
    void exportFinished(Status status, const QString& path, bool needsFurtherProcessing) override {
        if (status == Status::Completed && needsFurtherProcessing) return;  // the rotation pass follows
        done(status, path);
    }
    void rotationDidStart() override { rotated = true; }
    void rotationFinished(Status status, const QString& path) override { done(status, path); }

    Status status = Status::Unknown;
    QString path;
    bool rotated = false;

private:
    void done(Status s, const QString& p) {
        status = s;
        path = p;
        QCoreApplication::exit(0);
    }
};

int runDemo(const QStringList& args) {
    cli::RecordRequest request;
    request.seconds = 6;
    request.camera = TavrioCaptureManager::cameraIDForArgument(QStringLiteral("virtual"));
    request.microphone = TavrioCaptureManager::microphoneIDForArgument(QStringLiteral("virtual"));
    request.preset = settings::getSessionPresetFromSettings();
    request.orientation = platform::DeviceOrientation::LandscapeRight;
    for (int i = 0; i < args.size(); ++i) {
        // A smaller picture, for a quick run: the same choices as `record --quality`.
        if (args[i] == QLatin1String("--quality") && i + 1 < args.size()) {
            const QString q = args[++i];
            const settings::Option* o = settings::optionForWord(settings::resolutionOptions(), q);
            if (!o) {
                cli::err(QStringLiteral("demo: unknown quality '%1'").arg(q));
                return cli::kExitUsage;
            }
            request.preset = o->capturePreset;
        } else {
            cli::err(QStringLiteral("usage: tavrio-cli demo [--quality high|640x480|medium|low]"));
            return cli::kExitUsage;
        }
    }
    // In over two seconds, hold for two, out over one and a half.
    request.zooms = {{0.0, 1.0f},  {0.5, 1.25f}, {1.0, 1.5f},  {1.5, 1.75f}, {2.0, 2.0f},
                     {2.5, 2.25f}, {4.5, 1.75f}, {5.0, 1.25f}, {5.5, 1.0f}};

    QString movie;
    int entries = 0;
    const int recorded = cli::recordMovie(request, &movie, &entries);
    if (recorded != cli::kExitOk) return recorded;
    cli::out(QStringLiteral("recorded %1 (6 s from the virtual camera at %2, zoom track of %3 entries: "
                            "in to 2.25x, hold, out to 1x)")
                 .arg(movie, QLatin1String(media::capturePresetName(request.preset)))
                 .arg(entries));

    TavrioExportController job(QFileInfo(movie).absoluteFilePath());
    if (!job.assetForPreview()) {
        cli::err(QStringLiteral("demo: %1: %2").arg(movie, job.assetErrorText()));
        return cli::kExitFailure;
    }
    job.setRescaleOptOverride(settings::kRescaleBest);
    DemoExport reporter;
    job.setDelegate(&reporter);
    job.startExporting();
    QCoreApplication::exec();
    if (reporter.status != TavrioExportControllerDelegate::Status::Completed) {
        const media::Error e = job.lastError();
        cli::err(QStringLiteral("demo: export failed: %1 %2")
                     .arg(QString::fromStdString(e.description), QString::fromStdString(e.failureReason)));
        return cli::kExitFailure;
    }
    cli::out(QStringLiteral("exported %1 (zoom applied with \"Best\" rescaling%2)")
                 .arg(reporter.path, reporter.rotated ? QStringLiteral(", turned upright") : QString()));
    return cli::kExitOk;
}

}  // namespace

TAVRIO_CLI_COMMAND(demo, "demo", "[--quality high|640x480|medium|low]",
                   "record 6 s from the virtual camera with a zoom, export it (Best)", runDemo);
