#include "platform/ScreenScale.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cmath>

namespace platform {

namespace {
std::atomic<double> current{1.0};
// Text keys the picked image carries: where it was read from, and whether for a scale of 2.
const QString kSource = QStringLiteral("tavrio-artwork");
const QString kPickedDouble = QStringLiteral("tavrio-artwork-2x");
}  // namespace

double ScreenScale::scale() {
    return current.load(std::memory_order_relaxed);
}

void ScreenScale::setScale(double scale) {
    current.store(std::isfinite(scale) && scale > 0 ? scale : 1.0, std::memory_order_relaxed);
}

QString ScreenScale::highResolutionVariantPath(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot + 1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : path.left(slash + 1);
    return folder + base + QStringLiteral("@2x.") + ext;
}

QImage ScreenScale::artwork(const QString& path, double scale) {
    const bool forDouble = scale >= 2.0;
    QImage image;
    if (forDouble) {
        const QString variant = highResolutionVariantPath(path);
        if (QFile::exists(variant)) {
            image = QImage(variant);
            if (!image.isNull()) image.setDevicePixelRatio(2.0);
        }
    }
    if (image.isNull()) image = QImage(path);
    if (image.isNull()) return image;
    image.setText(kSource, path);
    image.setText(kPickedDouble, forDouble ? QStringLiteral("1") : QStringLiteral("0"));
    return image;
}

QImage ScreenScale::repick(const QImage& image) {
    const QString source = image.text(kSource);
    if (source.isEmpty()) return image;
    const bool forDouble = scale() >= 2.0;
    if ((image.text(kPickedDouble) == QLatin1String("1")) == forDouble) return image;
    const QImage picked = artwork(source, scale());
    return picked.isNull() ? image : picked;
}

void ScreenScale::forget(QImage& image) {
    image.setText(kSource, QString());
}

}  // namespace platform
