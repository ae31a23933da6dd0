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

}  // namespace platform
