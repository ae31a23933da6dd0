#include "ui/PointScale.h"

#include "platform/ScreenScale.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {
PointScale& currentScale() {
    static PointScale scale;
    return scale;
}
}  // namespace

PointScale::PointScale(double pixelsPerPoint, QPointF origin, double devicePixelRatio)
    : scale_(pixelsPerPoint > 0 ? pixelsPerPoint : 1.0),
      origin_(origin),
      dpr_(devicePixelRatio > 0 ? devicePixelRatio : 1.0) {}

PointScale PointScale::fit(QSize windowSize, double devicePixelRatio) {
    if (windowSize.width() <= 0 || windowSize.height() <= 0) return PointScale(1.0, {}, devicePixelRatio);
    const double s = std::min(windowSize.width() / kScreenWidth, windowSize.height() / kScreenHeight);
    // The margins are whole pixels so the screen's edges stay crisp.
    const QPointF origin(std::floor((windowSize.width() - kScreenWidth * s) / 2.0),
                         std::floor((windowSize.height() - kScreenHeight * s) / 2.0));
    return PointScale(s, origin, devicePixelRatio);
}

PointScale PointScale::fill(QSize windowSize, double devicePixelRatio) {
    if (windowSize.width() <= 0 || windowSize.height() <= 0) return PointScale(1.0, {}, devicePixelRatio);
    PointScale scale(windowSize.height() / kScreenHeight, {}, devicePixelRatio);
    scale.canvas_ = QSizeF(std::max(kScreenWidth, windowSize.width() / scale.scale_), kScreenHeight);
    return scale;
}

PointScale PointScale::forWindow(QSize windowSize, double devicePixelRatio) {
    return windowSize.width() > windowSize.height() ? fill(windowSize, devicePixelRatio)
                                                    : fit(windowSize, devicePixelRatio);
}

double PointScale::screenWidth() const {
    if (!isLandscape()) return kScreenWidth;
    // Whole points, so the screen's edges land on the same pixels as the canvas's.
    return std::floor(std::clamp(kReadableWidth / scale_, kScreenWidth, canvas_.width()));
}

QRectF PointScale::screenFrame() const {
    const double width = screenWidth();
    return QRectF(std::floor((canvas_.width() - width) / 2.0), 0, width, kScreenHeight);
}

QRect PointScale::toPixels(const QRectF& p) const {
    const int left = static_cast<int>(std::lround(p.left() * scale_));
    const int top = static_cast<int>(std::lround(p.top() * scale_));
    const int right = static_cast<int>(std::lround((p.left() + p.width()) * scale_));
    const int bottom = static_cast<int>(std::lround((p.top() + p.height()) * scale_));
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

QRect PointScale::toWindowPixels(const QRectF& points) const {
    return toPixels(points).translated(static_cast<int>(origin_.x()), static_cast<int>(origin_.y()));
}

QPointF PointScale::toPoints(QPointF px) const {
    return (px - origin_) / scale_;
}

QRectF PointScale::screenRectInWindow() const {
    return QRectF(origin_ + screenFrame().topLeft() * scale_, screenFrame().size() * scale_);
}

const PointScale& PointScale::current() {
    return currentScale();
}

void PointScale::setCurrent(const PointScale& scale) {
    currentScale() = scale;
    platform::ScreenScale::setScale(scale.screenScale());
}

}  // namespace ui
