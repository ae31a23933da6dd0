// tavrio-cli export: the details screen's export, from the command line.

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include "Command.h"
#include "TavrioExportController.h"
#include "VideoAssetsViewController.h"

namespace {

int usageError(const QString& message) {
    cli::err(message);
    return cli::kExitUsage;
}

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &c, 1);
}

class ExportReporter : public TavrioExportControllerDelegate {
public:
    explicit ExportReporter(bool terminal) : terminal_(terminal) {}

    void exportDidStart() override { show(0.0f, "zoom"); }
    void exportProgress(float p) override { show(p, rotating_ ? "rotate" : "zoom"); }
    void exportFinished(int status, const QString& path, bool needsFurtherProcessing) override {
        if (status == 3) show(1.0f, "zoom");
        if (status == 3 && needsFurtherProcessing) return;  // the rotation pass follows
        finish(status, path);
    }
    void rotationDidStart() override {
        rotating_ = true;
        if (terminal_) std::fputs("\n", stderr);
        show(0.0f, "rotate");
    }
    void rotationFinished(int status, const QString& path) override {
        if (status == 3) show(1.0f, "rotate");
        finish(status, path);
    }

    std::optional<int> status;
    QString finalPath;

private:
    void show(float p, const char* pass) {
        const int percent = static_cast<int>(p * 100.0f);
        if (terminal_) {
            const int width = 30, filled = std::clamp(percent * width / 100, 0, width);
            std::fprintf(stderr, "\r%-6s [%.*s%*s] %3d%%", pass, filled, "##############################",
                         width - filled, "", percent);
        } else if (percent != lastPercent_ || std::string(pass) != lastPass_) {
            std::fprintf(stderr, "%s %d%%\n", pass, percent);
        }
        lastPercent_ = percent;
        lastPass_ = pass;
        std::fflush(stderr);
    }
    void finish(int s, const QString& path) {
        if (terminal_) std::fputs("\n", stderr);
        status = s;
        finalPath = path;
        QCoreApplication::exit(0);
    }
    bool terminal_;
    bool rotating_ = false;
    int lastPercent_ = -1;
    std::string lastPass_;
};

std::optional<int> parseChoice(const QString& value, const QStringList& names) {
    const int i = names.indexOf(value.toLower());
    return i < 0 ? std::nullopt : std::optional<int>(i);
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
            rescale = parseChoice(value(), {"good", "best"});
            if (!rescale) return usageError("--rescale takes good or best");
        } else if (a == "--preset") {
            preset = parseChoice(value(), {"best", "good", "average", "low"});
            if (!preset) return usageError("--preset takes best, good, average or low");
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
    if (movie.isEmpty()) return usageError("usage: tavrio-cli export MOVIE [--rescale good|best] "
                                           "[--preset best|good|average|low] [--replace]");
    const QFileInfo info(movie);
    if (!info.isFile()) {
        std::fprintf(stderr, "tavrio-cli: %s: no such movie\n", qPrintable(movie));
        return 1;
    }
    movie = info.absoluteFilePath();

    TavrioExportController job(movie);
    if (!job.assetForPreview()) {
        std::fprintf(stderr, "tavrio-cli: %s: %s\n", qPrintable(movie), qPrintable(job.assetErrorText()));
        return 1;
    }
    job.setExportOptOverride(preset);
    job.setRescaleOptOverride(rescale);
    ExportReporter reporter(isatty(STDERR_FILENO));
    job.setDelegate(&reporter);

    // Ctrl-C cancels the running pass; the job removes what it wrote.
    bool interrupted = false;
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char buf[16];
        while (read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        interrupted = true;
        job.cancelExporting();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    job.startExporting();
    QCoreApplication::exec();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    close(signalPipe[0]);
    close(signalPipe[1]);

    const int status = reporter.status.value_or(4);
    if (status == 3) {
        // The recording goes only once its replacement is really there.
        const QFileInfo final(reporter.finalPath);
        if (replace && final.isFile() && final.size() > 0 && final.absoluteFilePath() != movie)
            VideoAssetsViewController::removeVideoAssetFiles(movie);
        std::printf("%s\n", qPrintable(reporter.finalPath));
        return 0;
    }
    if (status == 5) {
        std::fprintf(stderr, "tavrio-cli: export cancelled\n");
        return interrupted ? 130 : 1;
    }
    const media::Error e = job.lastError();
    std::fprintf(stderr, "tavrio-cli: export failed: %s%s%s\n", e.description.c_str(),
                 e.failureReason.empty() ? "" : " (", e.failureReason.empty() ? "" : (e.failureReason + ")").c_str());
    if (!e.recoverySuggestion.empty()) std::fprintf(stderr, "%s\n", e.recoverySuggestion.c_str());
    return 1;
}

}  // namespace

TAVRIO_CLI_COMMAND(export_, "export", "MOVIE [--rescale good|best] [--preset best|good|average|low] [--replace]",
                   "render the movie with its recorded zoom (and turn it upright)", runExport);
