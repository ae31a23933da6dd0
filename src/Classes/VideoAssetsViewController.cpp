#include "VideoAssetsViewController.h"

#include "TavrioCaptureManager.h"

#include <QFileInfo>

VideoAssetsViewController::VideoAssetsViewController(QObject* parent) : QObject(parent) {}

VideoAssetsViewController::~VideoAssetsViewController() = default;

QString VideoAssetsViewController::thumbnailPathForVideo(const QString& moviePath) {
    const QString path = TavrioCaptureManager::baseDirForThumbnails() + QLatin1Char('/') +
                         QFileInfo(moviePath).fileName() + QStringLiteral(".jpeg");
    return QFileInfo::exists(path) ? path : QString();
}
