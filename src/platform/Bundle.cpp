#include "platform/Bundle.h"

#include "platform/StringTable.h"

#include <QUrl>

namespace platform {

QString Bundle::pathForResource(const QString& name, const QString& type) {
    QString file = name;
    if (!type.isEmpty()) file += QLatin1Char('.') + type;
    return StringTable::resourcesDir() + QLatin1Char('/') + file;
}

QString Bundle::urlForResource(const QString& name, const QString& type) {
    const QString path = pathForResource(name, type);
    if (path.startsWith(QLatin1String(":/"))) return QStringLiteral("qrc") + path;
    return QUrl::fromLocalFile(path).toString();
}

QString Bundle::copyrightNotice() {
    return QStringLiteral(
        "Copyright (C) 2026 The Tavrio developers\n"
        "License GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>: free software,\n"
        "with NO WARRANTY, to the extent permitted by law.");
}

}  // namespace platform
