#pragma once
// The library list. For now: where a movie's thumbnail lives, how it is made, and how a movie
// leaves the library with its side files.

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

class VideoAssetsViewController : public QObject {
    Q_OBJECT
public:
    explicit VideoAssetsViewController(QObject* parent = nullptr);
    ~VideoAssetsViewController() override;

    // Thumbs/<movie file name>.jpeg if that file exists, else a null string.
    static QString thumbnailPathForVideo(const QString& moviePath);

    // The movie's first frame, upright, scaled down to fit `size` (pixels). Writes the movie's
    // duration file first whenever its duration is known, picture or not. A null image when the
    // movie has no video track or none of it decodes; then `*reason` (when given) says why in a
    // sentence or two a user can read.
    static QImage generateThumbImageForVideo(const QString& moviePath, const QSize& size, QString* reason = nullptr);
    // Stores a thumbnail as JPEG of quality 0.9, atomically; false when it cannot be written.
    static bool writeThumbnailFile(const QImage& image, const QString& thumbnailPath);
    // Removes the movie, its thumbnail, its zoom track and its duration file, those that exist.
    static void removeVideoAssetFiles(const QString& moviePath);
};
