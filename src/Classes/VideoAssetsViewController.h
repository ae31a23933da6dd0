#pragma once
// The library list. For now: where a movie's thumbnail lives.

#include <QObject>
#include <QString>

class VideoAssetsViewController : public QObject {
    Q_OBJECT
public:
    explicit VideoAssetsViewController(QObject* parent = nullptr);
    ~VideoAssetsViewController() override;

    // Thumbs/<movie file name>.jpeg if that file exists, else a null string.
    static QString thumbnailPathForVideo(const QString& moviePath);
};
