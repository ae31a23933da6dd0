#include "TavrioSlider.h"
#include "platform/ScreenScale.h"

#include <algorithm>

#include "UIImageAdditions.h"
#include "platform/Logging.h"
#include "ui/PointScale.h"
#include "ui/Theme.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

TavrioSlider::TavrioSlider(QWidget* parent) : QWidget(parent), repeat_(new QTimer(this)) {
    using namespace UIImageAdditions;
    track_ = imageWithContentsOfResolutionIndependentFile(
        pathForResource(QStringLiteral("tavrio-slider"), QStringLiteral("png")));
    ballImage_ = imageWithContentsOfResolutionIndependentFile(
        pathForResource(QStringLiteral("sliderbal"), QStringLiteral("png")));
    ball_ = QRectF(QPointF(kLeftMin, 4.0), ballImage_.deviceIndependentSize());
    repeat_->setSingleShot(true);
    repeat_->setInterval(kRepeatMs);
    connect(repeat_, &QTimer::timeout, this, [this] { step(repeatUp_); });
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Zoom"));
    setToolTip(QStringLiteral("Zoom: drag the ball, hold an end, or use the wheel, + and -"));
}

bool TavrioSlider::isRepeating() const {
    return repeat_->isActive();
}

void TavrioSlider::touchesBegan(float x, int touches) {
    if (touches != 1) return;
    cancelAction_ = false;
    if (x >= kRightMax) {
        incrementButtonPressed();
    } else if (x <= kLeftMin) {
        decrementButtonPressed();
    } else if (std::fabs(x - float(ball_.center().x())) > kGrabDistance) {
        // A press on the track away from the ball brings the ball there, held from then on.
        moveSliderBallToPoint(x - float(ball_.width()) / 2);
    }
}

void TavrioSlider::touchesMoved(float x, int touches) {
    if (touches != 1) return;
    cancelAction_ = true;
    repeat_->stop();
    if (x >= kRightMax || x <= kLeftMin) return;
    ball_.moveLeft(x);
    update();
    if (delegate_) delegate_->zoomSliderChanged(valueAt(x));
}

void TavrioSlider::touchesEnded(int touches) {
    if (touches != 1) return;
    cancelAction_ = true;
    repeat_->stop();
    acceleratingFactor_ = 1.0f;
}

void TavrioSlider::incrementButtonPressed() {
    step(true);
}

void TavrioSlider::decrementButtonPressed() {
    step(false);
}

void TavrioSlider::step(bool up) {
    if (cancelAction_) return;
    const float f = acceleratingFactor_;
    const float bx = float(ball_.x());
    const float target = up ? bx + 5.0f + f : bx - 5.0f - f;
    acceleratingFactor_ = float(double(f) * (up ? 1.4 : 1.6) + 1.0);
    moveSliderBallToPoint(target);
    repeatUp_ = up;
    repeat_->start();
}

void TavrioSlider::moveSliderBallToPoint(float x) {
    if (x >= kRightMax)
        x = kRightMax;
    else if (x <= kLeftMin)
        x = kLeftMin;
    ball_.moveLeft(x);
    update();
    if (delegate_) delegate_->zoomSliderChanged(valueAt(x));
}

void TavrioSlider::setValue(float value) {
    const float x = kLeftMin + std::clamp(value, 0.0f, 1.0f) * (kRightMax - kLeftMin);
    if (x == float(ball_.x())) return;
    moveSliderBallToPoint(x);
}

void TavrioSlider::showValue(float value) {
    ball_.moveLeft(kLeftMin + std::clamp(value, 0.0f, 1.0f) * (kRightMax - kLeftMin));
    update();
}

void TavrioSlider::nudge(int steps) {
    if (steps == 0) return;
    moveSliderBallToPoint(float(ball_.x()) + float(steps) * kNudge);
}

float TavrioSlider::toPoints(double pixels) const {
    return float(pixels / ui::PointScale::current().pixelsPerPoint());
}

void TavrioSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const double k = ui::PointScale::current().pixelsPerPoint();
    p.scale(k, k);
    track_ = platform::ScreenScale::repick(track_);
    ballImage_ = platform::ScreenScale::repick(ballImage_);
    if (!track_.isNull()) p.drawImage(QRectF(QPointF(0, 0), track_.deviceIndependentSize()), track_);
    if (!ballImage_.isNull()) p.drawImage(ball_, ballImage_);
    if (hasFocus()) ui::theme::paintFocusEllipse(p, ball_.adjusted(-2, -2, 2, 2));
}

void TavrioSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    touchesBegan(toPoints(event->position().x()));
}

void TavrioSlider::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) touchesMoved(toPoints(event->position().x()));
}

void TavrioSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) touchesEnded();
}

void TavrioSlider::scrollBy(int angleDelta) {
    wheelAngle_ += angleDelta;
    const int notches = wheelAngle_ / 120;
    wheelAngle_ -= notches * 120;
    nudge(notches);
}

void TavrioSlider::wheelEvent(QWheelEvent* event) {
    scrollBy(event->angleDelta().y());
    event->accept();
}

void TavrioSlider::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Up: nudge(1); break;
    case Qt::Key_Left:
    case Qt::Key_Down: nudge(-1); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}
