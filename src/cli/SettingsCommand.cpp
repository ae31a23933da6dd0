#include "Command.h"

#include "Settings.h"
#include "platform/Defaults.h"

#include <QHash>

namespace {

int runSettings(const QStringList& args) {
    platform::Defaults& defaults = platform::Defaults::standard();
    if (args.isEmpty()) {
        for (const QString& key : settings::optionKeys()) {
            const qint64 v = defaults.integerForKey(key);
            cli::out(QStringLiteral("%1=%2 (%3)").arg(key).arg(v).arg(settings::listLabel(key, v)));
        }
        return cli::kExitOk;
    }

    // Every argument is checked before anything is stored, so a typo stores nothing.
    QList<QPair<QString, qint64>> updates;
    for (const QString& arg : args) {
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? arg : arg.left(eq);
        if (!settings::optionsFor(key)) {
            cli::err(QStringLiteral("settings: unknown key '%1' (keys: %2)")
                         .arg(key, settings::optionKeys().join(QStringLiteral(", "))));
            return cli::kExitUsage;
        }
        if (eq < 0) {
            cli::err(QStringLiteral("settings: '%1' needs a value, as in %1=0").arg(key));
            return cli::kExitUsage;
        }
        bool ok = false;
        const qint64 value = arg.mid(eq + 1).trimmed().toLongLong(&ok);
        if (!ok) {
            cli::err(QStringLiteral("settings: '%1' is not an integer for %2").arg(arg.mid(eq + 1), key));
            return cli::kExitUsage;
        }
        if (!settings::isInTable(key, value)) {
            cli::err(QStringLiteral("settings: %1=%2 is not a choice of %1; valid values: %3")
                         .arg(key)
                         .arg(value)
                         .arg(settings::validValues(key)));
            return cli::kExitUsage;
        }
        updates.append({key, value});
    }
    for (const auto& [key, value] : updates) defaults.setInteger(value, key);
    if (!defaults.synchronize()) {
        cli::err(QStringLiteral("settings: cannot write %1").arg(defaults.fileName()));
        return cli::kExitFailure;
    }
    for (const auto& [key, value] : updates)
        cli::out(QStringLiteral("%1=%2 (%3)").arg(key).arg(value).arg(settings::listLabel(key, value)));
    return cli::kExitOk;
}

}  // namespace

TAVRIO_CLI_COMMAND(settings, "settings", "[KEY=N...]", "print the settings, or store new values", runSettings);
