#include "CameraOverlays.h"
#include "ui/Theme.h"

#include "ui/Fonts.h"
#include "ui/PointScale.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QVariantAnimation>

#include <cmath>

FocusBoxView::FocusBoxView(QWidget* parent) : QWidget(parent), animation_(new QVariantAnimation(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    animation_->setStartValue(0.0);
    animation_->setEndValue(1.0);
    animation_->setDuration(2 * kFlashHalfMs);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        // 1 -> 0 -> 1, one way each half.
        const double t = v.toDouble();
        opacity_ = t < 0.5 ? 1.0 - 2.0 * t : 2.0 * t - 1.0;
        update();
    });
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        opacity_ = 0.0;
        hide();
    });
    hide();
}

void FocusBoxView::flash() {
    animation_->stop();
    opacity_ = 1.0;
    show();
    raise();
    animation_->start();
    update();
}

bool FocusBoxView::isFlashing() const {
    return animation_->state() == QAbstractAnimation::Running;
}

void FocusBoxView::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0.0) return;
    QPainter p(this);
    p.setOpacity(opacity_);
    const double border = 3.0 * ui::PointScale::current().pixelsPerPoint();
    p.setPen(QPen(ui::theme::kFocusBox, border, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(rect()).adjusted(border / 2, border / 2, -border / 2, -border / 2));
}

ClockLabel::ClockLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(QStringLiteral("Recording time"));
}

void ClockLabel::setText(const QString& text) {
    text_ = text;
    setAccessibleDescription(text);
    update();
}

QSizeF ClockLabel::textSize(const QString& text) {
    const QFontMetricsF metrics(ui::Fonts::systemInPoints(18, true));
    return QSizeF(std::ceil(metrics.horizontalAdvance(text)) + 4, std::ceil(metrics.height()));
}

void ClockLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double k = ui::PointScale::current().pixelsPerPoint();
    p.scale(k, k);
    const QSizeF box = QSizeF(size()) / k;
    p.setFont(ui::Fonts::systemInPoints(18, true));
    p.setPen(ui::theme::kOverPictureText);
    p.drawText(QRectF(QPointF(0, 0), box), Qt::AlignCenter, text_);
}
