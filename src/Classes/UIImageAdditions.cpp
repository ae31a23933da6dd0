#include "UIImageAdditions.h"

#include "platform/ScreenScale.h"
#include "platform/Bundle.h"

namespace UIImageAdditions {

QString highResolutionVariantPath(const QString& path) {
    return platform::ScreenScale::highResolutionVariantPath(path);
}

QImage imageWithContentsOfResolutionIndependentFile(const QString& path, double screenScale) {
    return platform::ScreenScale::artwork(path, screenScale);
}

QImage imageWithContentsOfResolutionIndependentFile(const QString& path) {
    return imageWithContentsOfResolutionIndependentFile(path, platform::ScreenScale::scale());
}

QString pathForResource(const QString& name, const QString& type) {
    return platform::Bundle::pathForResource(name, type);
}

}  // namespace UIImageAdditions
