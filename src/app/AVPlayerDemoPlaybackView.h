#pragma once
// Shows a player's newest picture, aspect-fit on black. It tells the player the size it paints
// at, so pictures arrive already fitted and painting is a copy.

#include <QImage>
#include <QWidget>

#include "media/Player.h"

class QPainter;

class AVPlayerDemoPlaybackView : public QWidget {
    Q_OBJECT
public:
    explicit AVPlayerDemoPlaybackView(QWidget* parent = nullptr);
    ~AVPlayerDemoPlaybackView() override;

    media::Player* player() const { return player_; }
    // Not owned; null detaches.
    void setPlayer(media::Player* player);

    // Pictures painted, each once (diagnostics, tests, benchmarks).
    qint64 picturesShown() const { return shown_; }
    // Where the picture lands inside the view (pixels), for its shown size.
    static QRect fitRect(QSize picture, QSize view);
    // A ring around the picture: the keyboard is on the player (Space plays, the arrows seek).
    void setFocusShown(bool shown);

signals:
    void pictureShown(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void paintPicture(QPainter& painter);
    void newPicture();
    void updateBox();

    media::Player* player_ = nullptr;
    media::PlayerPicture picture_;
    qint64 shown_ = 0;
    const void* lastPainted_ = nullptr;
    bool focusShown_ = false;
};
