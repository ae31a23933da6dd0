// tavrio-cli export: the details screen's export, from the command line.

#include <QCoreApplication>
#include <QFileInfo>
#include <optional>
#include <unistd.h>

#include "Command.h"
#include "Settings.h"
#include "StopSignals.h"
#include "TavrioExportController.h"
#include "VideoAssetsViewController.h"

namespace {

int usageError(const QString& message) {
    cli::err(message);
    return cli::kExitUsage;
}

class ExportReporter : public TavrioExportControllerDelegate {
public:
    ExportReporter(bool terminal, const QString& movie) : terminal_(terminal), movie_(movie) {}

    void exportProblem(const QString& text) override {
        cli::err(QStringLiteral("tavrio-cli: %1: %2").arg(movie_, text));
    }
    void exportDidStart() override { show(0.0f, "zoom"); }
    void exportProgress(float p) override { show(p, rotating_ ? "rotate" : "zoom"); }
    void exportFinished(Status status, const QString& path, bool needsFurtherProcessing) override {
        if (status == Status::Completed) show(1.0f, "zoom");
        if (status == Status::Completed && needsFurtherProcessing) return;  // the rotation pass follows
        finish(status, path);
    }
    void rotationDidStart() override {
        rotating_ = true;
        if (terminal_) cli::errInPlace(QStringLiteral("\n"));
        show(0.0f, "rotate");
    }
    void rotationFinished(Status status, const QString& path) override {
        if (status == Status::Completed) show(1.0f, "rotate");
        finish(status, path);
    }

    Status status = Status::Unknown;
    QString finalPath;

private:
    void show(float p, const char* pass) {
        const int percent = static_cast<int>(p * 100.0f);
        if (terminal_) {
            const int width = 30, filled = std::clamp(percent * width / 100, 0, width);
            cli::errInPlace(QStringLiteral("\r%1 [%2%3] %4%")
                                .arg(QLatin1String(pass), -6)
                                .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char(' ')))
                                .arg(percent, 3));
        } else if (percent != lastPercent_ || std::string(pass) != lastPass_) {
            cli::err(QStringLiteral("%1 %2%").arg(QLatin1String(pass)).arg(percent));
        }
        lastPercent_ = percent;
        lastPass_ = pass;
    }
    void finish(Status s, const QString& path) {
        if (terminal_) cli::errInPlace(QStringLiteral("\n"));
        status = s;
        finalPath = path;
        QCoreApplication::exit(0);
    }
    bool terminal_;
    QString movie_;
    bool rotating_ = false;
    int lastPercent_ = -1;
    std::string lastPass_;
};

// The stored value of the option the word names.
std::optional<int> parseChoice(const QString& word, const QList<settings::Option>& options) {
    const settings::Option* o = settings::optionForWord(options, word);
    return o ? std::optional<int>(o->value) : std::nullopt;
}

}  // namespace

namespace {

int runExport(const QStringList& args) {
    QString movie;
    std::optional<int> rescale, preset;
    bool replace = false;
    bool namesOnly = false;  // after "--", a name may start with a dash
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        if (namesOnly) {
            if (!movie.isEmpty()) return usageError("export takes one movie");
            movie = a;
        } else if (a == "--") {
            namesOnly = true;
        } else if (a == "--rescale") {
            rescale = parseChoice(value(), settings::rescaleOptions());
            if (!rescale) return usageError("--rescale takes " + settings::optionWords(settings::rescaleOptions()));
        } else if (a == "--preset") {
            preset = parseChoice(value(), settings::exportOptions());
            if (!preset) return usageError("--preset takes " + settings::optionWords(settings::exportOptions()));
        } else if (a == "--replace") {
            replace = true;
        } else if (a.startsWith("-")) {
            return usageError(QStringLiteral("unknown option %1").arg(a));
        } else if (movie.isEmpty()) {
            movie = a;
        } else {
            return usageError("export takes one movie");
        }
    }
    if (movie.isEmpty())
        return usageError(
            "usage: tavrio-cli export MOVIE [--rescale good|best] "
            "[--preset best|good|average|low] [--replace]");
    const QFileInfo info(movie);
    if (!info.isFile()) {
        cli::err(QStringLiteral("tavrio-cli: %1: no such movie").arg(movie));
        return cli::kExitFailure;
    }
    movie = info.absoluteFilePath();

    TavrioExportController job(movie);
    if (!job.assetForPreview()) {
        cli::err(QStringLiteral("tavrio-cli: %1: %2").arg(movie, job.assetErrorText()));
        return cli::kExitFailure;
    }
    job.setExportOptOverride(preset);
    job.setRescaleOptOverride(rescale);
    ExportReporter reporter(isatty(STDERR_FILENO), movie);
    job.setDelegate(&reporter);

    std::optional<int> interruptedStatus;  // the exit status a stop signal asks for
    {
        // Ctrl-C or SIGTERM cancels the running pass; the job removes what it wrote.
        cli::StopSignals stop([&job] { job.cancelExporting(); });
        job.startExporting();
        QCoreApplication::exec();
        if (stop.received()) interruptedStatus = stop.exitStatus();
    }

    using Status = TavrioExportControllerDelegate::Status;
    if (reporter.status == Status::Completed) {
        if (!job.exportsZoom()) cli::err(QStringLiteral("tavrio-cli: %1; exported unzoomed").arg(job.noZoomText()));
        cli::out(reporter.finalPath);
        // The recording goes only once its replacement is really there, and only where it can
        // be restored: without a Trash it stays, since nobody can be asked here.
        const QFileInfo final(reporter.finalPath);
        QString reason;
        if (replace && final.isFile() && final.size() > 0 && final.absoluteFilePath() != movie &&
            !VideoAssetsViewController::moveVideoAssetToTrash(movie, &reason)) {
            cli::err(QStringLiteral("tavrio-cli: %1 kept: it cannot be moved to the Trash (%2)").arg(movie, reason));
            return cli::kExitFailure;
        }
        return cli::kExitOk;
    }
    if (reporter.status == Status::Cancelled) {
        cli::err(QStringLiteral("tavrio-cli: export cancelled"));
        return interruptedStatus.value_or(cli::kExitFailure);
    }
    const media::Error e = job.lastError();
    QString line = QStringLiteral("tavrio-cli: export failed: %1").arg(QString::fromStdString(e.description));
    if (!e.failureReason.empty()) line += QStringLiteral(" (%1)").arg(QString::fromStdString(e.failureReason));
    cli::err(line);
    if (!e.recoverySuggestion.empty()) cli::err(QString::fromStdString(e.recoverySuggestion));
    return cli::kExitFailure;
}

}  // namespace

TAVRIO_CLI_COMMAND(export_, "export", "MOVIE [--rescale good|best] [--preset best|good|average|low] [--replace]",
                   "render the movie with its recorded zoom (and turn it upright)", runExport);
