#include "Command.h"

#include "platform/Paths.h"

namespace {

int runPaths(const QStringList& args) {
    if (!args.isEmpty()) {
        cli::err(QStringLiteral("paths: takes no arguments"));
        return cli::kExitUsage;
    }
    cli::out(QStringLiteral("documents: ") + platform::Paths::documentsRoot());
    cli::out(QStringLiteral("library: ") + platform::Paths::libraryRoot());
    cli::out(QStringLiteral("settings: ") + platform::Paths::settingsFile());
    return cli::kExitOk;
}

}  // namespace

TAVRIO_CLI_COMMAND(paths, "paths", "", "print where movies, side files and settings live", runPaths);
