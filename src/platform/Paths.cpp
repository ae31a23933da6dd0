#include "platform/Paths.h"

#include "platform/Logging.h"

#include <QDir>
#include <QtGlobal>

namespace platform {

namespace {

QString homeOverride() {
    return qEnvironmentVariable("TAVRIO_HOME");
}

// An XDG base folder: the variable if it holds an absolute path (the XDG rule: relative
// values are invalid and ignored), else the default under $HOME.
QString xdgBase(const char* variable, const QString& fallbackUnderHome) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + fallbackUnderHome;
}

// The path comes back even when the folder cannot be made: callers build file paths from it,
// and their writes then fail with a clear error, where an empty root would have sent them to
// the file system's root.
QString ensured(const QString& path) {
    if (!QDir(path).exists() && !QDir().mkpath(path)) qCWarning(lcPlatform) << "cannot create folder" << path;
    return path;
}

}  // namespace

QString Paths::dataRoot() {
    const QString home = homeOverride();
    if (!home.isEmpty()) return QDir::cleanPath(QDir(home).absolutePath());
    return xdgBase("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/Tavrio");
}

QString Paths::documentsRoot() {
    return ensured(dataRoot() + QStringLiteral("/Documents"));
}

QString Paths::libraryRoot() {
    return ensured(dataRoot() + QStringLiteral("/Library"));
}

QString Paths::settingsFile() {
    const QString home = homeOverride();
    if (!home.isEmpty()) return QDir::cleanPath(QDir(home).absolutePath()) + QStringLiteral("/settings.ini");
    return xdgBase("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/Tavrio/settings.ini");
}

}  // namespace platform
