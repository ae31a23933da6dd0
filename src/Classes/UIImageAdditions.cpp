#include "UIImageAdditions.h"

#include "platform/ScreenScale.h"
#include "platform/Bundle.h"

#include <QFile>
#include <QFileInfo>

namespace UIImageAdditions {

QString highResolutionVariantPath(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot + 1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : path.left(slash + 1);
    return folder + base + QStringLiteral("@2x.") + ext;
}

QImage imageWithContentsOfResolutionIndependentFile(const QString& path, double screenScale) {
    if (screenScale >= 2.0) {
        const QString variant = highResolutionVariantPath(path);
        if (QFile::exists(variant)) {
            QImage image(variant);
            if (!image.isNull()) {
                image.setDevicePixelRatio(2.0);
                return image;
            }
        }
    }
    return QImage(path);
}

QImage imageWithContentsOfResolutionIndependentFile(const QString& path) {
    return imageWithContentsOfResolutionIndependentFile(path, platform::ScreenScale::scale());
}

QString pathForResource(const QString& name, const QString& type) {
    return platform::Bundle::pathForResource(name, type);
}

}  // namespace UIImageAdditions
