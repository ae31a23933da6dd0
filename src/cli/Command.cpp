#include "Command.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {

std::vector<Command>& table() {
    static std::vector<Command> commands;  // built during static initialisation
    return commands;
}

}  // namespace

Registrar::Registrar(const Command& command) {
    auto& t = table();
    const auto at = std::lower_bound(t.begin(), t.end(), command, [](const Command& a, const Command& b) {
        return QLatin1String(a.name) < QLatin1String(b.name);
    });
    t.insert(at, command);
}

const std::vector<Command>& commands() {
    return table();
}

const Command* findCommand(const QString& name) {
    for (const Command& c : table()) {
        if (name == QLatin1String(c.name)) return &c;
    }
    return nullptr;
}

void out(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
}

void err(const QString& line) {
    std::fflush(stdout);
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

void errInPlace(const QString& text) {
    std::fflush(stdout);
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

}  // namespace cli
