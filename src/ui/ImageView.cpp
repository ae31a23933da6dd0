#include "ui/ImageView.h"
#include "platform/ScreenScale.h"

#include <QPainter>

namespace ui {

ImageView::ImageView(const QImage& image, QWidget* parent) : QWidget(parent), image_(image) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageView::setImage(const QImage& image) {
    image_ = image;
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
    p.drawImage(QRectF(rect()), image_);
}

}  // namespace ui
