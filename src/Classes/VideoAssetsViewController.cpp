#include "VideoAssetsViewController.h"

#include "TavrioCaptureManager.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

#include <cmath>

#include "ZoomTrack.h"
#include "media/Asset.h"
#include "media/ImageGenerator.h"
#include "platform/Logging.h"

namespace {

// "What went wrong. Why." from an engine error, for a message line.
QString errorText(const media::Error& error) {
    QString text = QString::fromStdString(error.description);
    if (!error.failureReason.empty()) text += QLatin1Char(' ') + QString::fromStdString(error.failureReason);
    return text;
}

}  // namespace

VideoAssetsViewController::VideoAssetsViewController(QObject* parent) : QObject(parent) {}

VideoAssetsViewController::~VideoAssetsViewController() = default;

QString VideoAssetsViewController::thumbnailPathForVideo(const QString& moviePath) {
    const QString path = TavrioCaptureManager::baseDirForThumbnails() + QLatin1Char('/') +
                         QFileInfo(moviePath).fileName() + QStringLiteral(".jpeg");
    return QFileInfo::exists(path) ? path : QString();
}

QImage VideoAssetsViewController::generateThumbImageForVideo(const QString& path, const QSize& size, QString* reason) {
    auto fail = [&](const QString& why) {
        if (reason) *reason = why;
        return QImage();
    };
    media::Error error;
    auto asset = media::Asset::open(path.toStdString(), &error);
    if (!asset) {
        qCWarning(lcLibrary).noquote() << "cannot open" << path << ":" << QString::fromStdString(error.failureReason);
        return fail(errorText(error));
    }
    const double seconds = asset->duration().seconds();
    if (std::isfinite(seconds)) writeDurationFile(QFileInfo(path).fileName(), seconds);
    if (asset->tracksWithMediaType(media::MediaType::Video).empty())
        return fail(QStringLiteral("The movie has no pictures."));

    media::ImageGenerator generator(path.toStdString());
    generator.setAppliesPreferredTrackTransform(true);
    generator.setMaximumSize({size.width(), size.height()});
    media::RgbImage rgb = generator.copyFirstImage(&error);
    if (rgb.isNull()) {
        qCWarning(lcLibrary).noquote() << "no picture from" << path << ":" << QString::fromStdString(error.description);
        return fail(errorText(error));
    }
    QImage wrapped(rgb.bytes.data(), rgb.width, rgb.height, rgb.stride, QImage::Format_RGB888);
    return wrapped.copy();  // detach from the engine's buffer
}

bool VideoAssetsViewController::writeThumbnailFile(const QImage& image, const QString& thumbnailPath) {
    if (image.isNull()) return false;
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 90)) return false;
    QString error;
    if (!writeSideFile(thumbnailPath, jpeg, &error)) {
        qCWarning(lcLibrary).noquote() << "cannot write thumbnail" << thumbnailPath << error;
        return false;
    }
    return true;
}

void VideoAssetsViewController::removeVideoAssetFiles(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const QString thumb = thumbnailPathForVideo(path);
    for (const QString& p : {path, thumb, TavrioCaptureManager::zoomsArchiveFilePath(name),
                             TavrioCaptureManager::timingFilePathForVideo(name)})
        if (!p.isEmpty() && QFileInfo::exists(p)) QFile::remove(p);
}
