#include "AVPlayerDemoPlaybackView.h"

#include <QPainter>
#include <QPointer>
#include <QResizeEvent>

#include "platform/MainThread.h"
#include "ui/Theme.h"

AVPlayerDemoPlaybackView::AVPlayerDemoPlaybackView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(tr("Movie"));
}

AVPlayerDemoPlaybackView::~AVPlayerDemoPlaybackView() {
    setPlayer(nullptr);
}

void AVPlayerDemoPlaybackView::setPlayer(media::Player* player) {
    if (player_ == player) return;
    if (player_) player_->pictures().setNewFrameHandler({}, {});
    player_ = player;
    picture_ = {};
    if (player_) {
        QPointer<AVPlayerDemoPlaybackView> self(this);
        player_->pictures().setNewFrameHandler(platform::MainThread::dispatcher(), [self] {
            if (self) self->newPicture();
        });
        updateBox();
        newPicture();
    }
    update();
}

QRect AVPlayerDemoPlaybackView::fitRect(QSize picture, QSize view) {
    if (picture.isEmpty() || view.isEmpty()) return {};
    const QSize fitted = picture.scaled(view, Qt::KeepAspectRatio);
    return QRect(QPoint((view.width() - fitted.width()) / 2, (view.height() - fitted.height()) / 2), fitted);
}

void AVPlayerDemoPlaybackView::newPicture() {
    if (!player_) return;
    media::PlayerPicture p = player_->pictures().latest();
    if (!p || (picture_ && p.rgb == picture_.rgb)) return;
    picture_ = std::move(p);
    update();
}

void AVPlayerDemoPlaybackView::updateBox() {
    if (!player_) return;
    const qreal dpr = devicePixelRatioF();
    player_->setPictureBox(qRound(width() * dpr), qRound(height() * dpr));
}

void AVPlayerDemoPlaybackView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateBox();
}

void AVPlayerDemoPlaybackView::setFocusShown(bool shown) {
    if (focusShown_ == shown) return;
    focusShown_ = shown;
    update();
}

void AVPlayerDemoPlaybackView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ui::theme::kPictureGround);
    if (picture_) paintPicture(painter);
    if (focusShown_) ui::theme::paintFocusRing(painter, rect(), 2.0, 4);
}

void AVPlayerDemoPlaybackView::paintPicture(QPainter& painter) {
    // The picture's pixels stay the player's; the image only borrows them while painting.
    const QImage image(picture_.rgb.get(), picture_.width, picture_.height, picture_.bytesPerLine,
                       QImage::Format_RGB32);
    const bool sideways = picture_.rotation == 90 || picture_.rotation == 270;
    const QSize shown = sideways ? QSize(image.height(), image.width()) : image.size();
    const qreal dpr = devicePixelRatioF();
    const QRect target = fitRect(shown, size() * dpr);
    painter.save();
    painter.scale(1 / dpr, 1 / dpr);
    painter.translate(target.center() + QPointF(0.5, 0.5));
    painter.rotate(picture_.rotation);
    const QSize drawn = sideways ? QSize(target.height(), target.width()) : target.size();
    const QRectF box(-drawn.width() / 2.0, -drawn.height() / 2.0, drawn.width(), drawn.height());
    // Pictures arrive fitted to this view: a plain copy, smoothing only when sizes still differ.
    if (drawn != image.size()) painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(box, image);
    painter.restore();
    // A repaint of the same picture (an expose, a resize) is not a new picture shown.
    if (picture_.rgb.get() == lastPainted_) return;
    lastPainted_ = picture_.rgb.get();
    ++shown_;
    emit pictureShown(picture_.time.seconds());
}
