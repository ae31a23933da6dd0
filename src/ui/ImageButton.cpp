#include "ui/ImageButton.h"
#include "platform/ScreenScale.h"

#include "ui/Fonts.h"
#include "ui/Theme.h"

#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

namespace ui {

namespace {
// Return and Enter press a focused picture button, as Space does.
bool pressOnReturn(QAbstractButton* b, QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (b->isEnabled()) b->animateClick();
        e->accept();
        return true;
    }
    return false;
}
}  // namespace

ImageButton::ImageButton(const QImage& image, QWidget* parent) : QAbstractButton(parent), image_(image) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void ImageButton::setImage(const QImage& image) {
    image_ = image;
    update();
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    image_ = platform::ScreenScale::repick(image_);
    if (!isEnabled()) p.setOpacity(0.45);
    if (!image_.isNull()) p.drawImage(QRectF(rect()), image_);
    if (isDown()) {
        p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        p.fillRect(rect(), QColor(0, 0, 0, 90));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (hasFocus()) theme::paintFocusRing(p, rect());
}

void ImageButton::keyPressEvent(QKeyEvent* event) {
    if (!pressOnReturn(this, event)) QAbstractButton::keyPressEvent(event);
}

InfoButton::InfoButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Settings"));
    setToolTip(QStringLiteral("Settings and instructions"));
}

void InfoButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    const QRectF r((width() - side) / 2, (height() - side) / 2, side, side);
    const QColor ink = isDown() ? QColor(190, 190, 196) : QColor(255, 255, 255);
    p.setPen(QPen(ink, std::max(1.0, side * 0.09)));
    p.setBrush(isDown() ? QColor(255, 255, 255, 50) : Qt::NoBrush);
    p.drawEllipse(r.adjusted(side * 0.06, side * 0.06, -side * 0.06, -side * 0.06));
    // The "i": a dot and a stem, drawn so it stays centred at any size.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const QPointF c = r.center();
    p.drawEllipse(QPointF(c.x(), c.y() - side * 0.22), side * 0.07, side * 0.07);
    p.drawRoundedRect(QRectF(c.x() - side * 0.06, c.y() - side * 0.08, side * 0.12, side * 0.34), side * 0.04,
                      side * 0.04);
    if (hasFocus()) theme::paintFocusEllipse(p, r);
}

void InfoButton::keyPressEvent(QKeyEvent* event) {
    if (!pressOnReturn(this, event)) QAbstractButton::keyPressEvent(event);
}

}  // namespace ui
