// tavrio-cli: a headless front over the app's classes, for scripts, tests and sandboxes.

#include "Command.h"

#include "Tavrio4AppDelegate.h"
#include "media/LibraryLog.h"
#include "platform/AlertService.h"

#include <QCoreApplication>

#include <csignal>

namespace {

void printUsage() {
    cli::out(QStringLiteral("usage: tavrio-cli [--help | --version] COMMAND [ARGS...]"));
    cli::out(QString());
    cli::out(QStringLiteral("commands:"));
    for (const cli::Command& c : cli::commands()) {
        const QString head = QStringLiteral("  %1 %2").arg(QLatin1String(c.name), QLatin1String(c.synopsis));
        cli::out(head.leftJustified(34) + QLatin1String(c.summary));
    }
    cli::out(QString());
    cli::out(QStringLiteral("TAVRIO_HOME, when set, holds all data and settings."));
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit must end a write with an error the export reports and cleans up after,
    // not kill the process halfway through a movie.
    std::signal(SIGXFSZ, SIG_IGN);
    // The libraries' own lines ("stream 0, offset ...: partial file") mean nothing to a user, who
    // hears of failures through the commands' messages; TAVRIO_FFMPEG_LOG=1 brings them back
    // when chasing a file's trouble.
    media::setLibraryLogLevel(qEnvironmentVariableIntValue("TAVRIO_FFMPEG_LOG") == 1 ? media::LibraryLogLevel::Verbose
                                                                                     : media::LibraryLogLevel::Quiet);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrio-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIO_VERSION));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        printUsage();
        return cli::kExitUsage;
    }
    const QString first = args.takeFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        printUsage();
        return cli::kExitOk;
    }
    if (first == QLatin1String("--version")) {
        cli::out(QStringLiteral("tavrio-cli %1").arg(QStringLiteral(TAVRIO_VERSION)));
        return cli::kExitOk;
    }
    const cli::Command* command = cli::findCommand(first);
    if (!command) {
        cli::err(QStringLiteral("tavrio-cli: unknown command '%1' (try --help)").arg(first));
        return cli::kExitUsage;
    }

    // Alerts have no window here; they go to stderr so that stdout stays machine-readable.
    platform::AlertService::setPresenter([](const platform::Alert& alert) {
        cli::err(QStringLiteral("%1: %2").arg(alert.title, alert.message));
        if (alert.dismissed) alert.dismissed(0);
    });
    Tavrio4AppDelegate delegate;
    delegate.didFinishLaunching();

    return command->run(args);
}
