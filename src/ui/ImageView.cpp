#include "ui/ImageView.h"
#include "platform/ScreenScale.h"

#include "ui/PointScale.h"

#include <QPainter>

namespace ui {

ImageView::ImageView(const QImage& image, QWidget* parent) : QWidget(parent), image_(image) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageView::setImage(const QImage& image) {
    image_ = image;
    update();
}

void ImageView::setContentMode(ContentMode mode) {
    mode_ = mode;
    update();
}

void ImageView::setOpacity(double opacity) {
    opacity_ = opacity;
    update();
}

void ImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    image_ = platform::ScreenScale::repick(image_);
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setOpacity(opacity_);
    const QRectF r = rect();
    QRectF target = r;
    if (mode_ == ContentMode::AspectFit) {
        QSizeF size = image_.size();
        size.scale(r.size(), Qt::KeepAspectRatio);
        target = QRectF(r.center() - QPointF(size.width() / 2, size.height() / 2), size);
    } else if (mode_ == ContentMode::Center) {
        const QSizeF size = image_.deviceIndependentSize() * PointScale::current().pixelsPerPoint();
        target = QRectF(r.center() - QPointF(size.width() / 2, size.height() / 2), size);
    }
    p.drawImage(target, image_);
}

}  // namespace ui
