#pragma once
// tavrio-cli's command table. Each command lives in its own file and registers itself with
// TAVRIO_CLI_COMMAND; main() only looks names up here.

#include <QString>
#include <QStringList>

#include <vector>

namespace cli {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command ran but found nothing / could not finish
inline constexpr int kExitUsage = 2;    // bad arguments
// Ended early by a signal: this plus the signal's number, as a shell reports it (130 for Ctrl-C).
inline constexpr int kExitSignalBase = 128;

struct Command {
    const char* name;
    const char* synopsis;  // arguments, for the usage line
    const char* summary;   // one line for --help
    int (*run)(const QStringList& args);
};

const std::vector<Command>& commands();
const Command* findCommand(const QString& name);

struct Registrar {
    explicit Registrar(const Command& command);
};

// Output helpers: UTF-8, one line each.
void out(const QString& line);
void err(const QString& line);
// Writes to stderr without ending the line: a progress bar redrawn in place with "\r".
void errInPlace(const QString& text);

}  // namespace cli

#define TAVRIO_CLI_COMMAND(id, name, synopsis, summary, fn) \
    static const ::cli::Registrar tavrioCliRegistrar_##id(::cli::Command{name, synopsis, summary, fn})
