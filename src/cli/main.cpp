// tavrio-cli: a headless front over the app's classes, for scripts, tests and sandboxes.

#include "Command.h"

#include "Tavrio4AppDelegate.h"
#include "media/LibraryLog.h"
#include "platform/AlertService.h"
#include "platform/Background.h"
#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <csignal>

namespace {

void printUsage() {
    cli::out(QStringLiteral("usage: tavrio-cli [-h | --help | --version] COMMAND [ARGS...]"));
    cli::out(QStringLiteral("       tavrio-cli COMMAND --help"));
    cli::out(QString());
    cli::out(QStringLiteral("commands:"));
    constexpr int kSummaryColumn = 34;
    constexpr int kWidth = 100;
    for (const cli::Command& c : cli::commands()) {
        // A long synopsis is wrapped between its bracketed options, continuing under the
        // command's first argument, and its summary goes under it rather than out of column.
        static const QRegularExpression beforeOption(QStringLiteral("(?= \\[)"));
        const QString indent(2 + int(qstrlen(c.name)), QLatin1Char(' '));
        QStringList lines;
        QString line = QStringLiteral("  ") + QLatin1String(c.name);
        for (QString group : QString::fromLatin1(c.synopsis).split(beforeOption, Qt::SkipEmptyParts)) {
            if (!group.startsWith(QLatin1Char(' '))) group.prepend(QLatin1Char(' '));
            if (line.size() + group.size() > kWidth && line.size() > indent.size()) {
                lines << line;
                line = indent;
            }
            line += group;
        }
        if (lines.isEmpty() && line.size() < kSummaryColumn) {
            lines << line.leftJustified(kSummaryColumn) + QLatin1String(c.summary);
        } else {
            lines << line << QString(kSummaryColumn, QLatin1Char(' ')) + QLatin1String(c.summary);
        }
        for (const QString& l : lines) cli::out(l);
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
        cli::out(platform::Bundle::copyrightNotice());
        return cli::kExitOk;
    }
    const cli::Command* command = cli::findCommand(first);
    if (!command) {
        cli::err(QStringLiteral("tavrio-cli: unknown command '%1' (try --help)").arg(first));
        return cli::kExitUsage;
    }
    if (args == QStringList{QStringLiteral("--help")}) {
        cli::out(QStringLiteral("usage: tavrio-cli %1 %2")
                     .arg(QLatin1String(command->name), QLatin1String(command->synopsis))
                     .trimmed());
        cli::out(QLatin1String(command->summary));
        return cli::kExitOk;
    }

    // Alerts have no window here; they go to stderr so that stdout stays machine-readable.
    platform::AlertService::setPresenter([](const platform::Alert& alert) {
        cli::err(QStringLiteral("%1: %2").arg(alert.title, alert.message));
        if (alert.dismissed) alert.dismissed(0);
    });
    Tavrio4AppDelegate delegate;
    delegate.didFinishLaunching();

    const int status = command->run(args);
    // Work a command left running in the background (a take's thumbnail, a device listing) ends
    // before the process unloads its libraries, which a library loaded meanwhile would abort.
    platform::Background::drain();
    return status;
}
