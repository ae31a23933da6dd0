#include "ZoomBand.h"

#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

ZoomBand::ZoomBand(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(tr("Zoom over time"));
}

void ZoomBand::setCurve(std::shared_ptr<const media::ZoomCurve> curve, double durationSeconds) {
    curve_ = std::move(curve);
    duration_ = durationSeconds > 0 ? durationSeconds : 0;
    update();
}

void ZoomBand::setInset(int pixels) {
    inset_ = std::max(0, pixels);
    update();
}

float ZoomBand::zoomAt(double seconds) const {
    return curve_ ? curve_->zoomAt(media::Time::fromSeconds(seconds, media::ZoomCurve::kTimescale)) : 1.0f;
}

void ZoomBand::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), ui::theme::kZoomBand);
    const int x0 = inset_, x1 = width() - inset_;
    if (duration_ <= 0 || !curve_ || curve_->isEmpty() || x1 <= x0) return;
    const double h = height();
    auto yFor = [h](float z) {
        const double level = std::clamp(
            (double(z) - media::ZoomCurve::kMinZoom) / (media::ZoomCurve::kMaxZoom - media::ZoomCurve::kMinZoom), 0.0,
            1.0);
        return h - level * h;
    };
    QPainterPath area(QPointF(x0, h));
    for (int x = x0; x <= x1; ++x) area.lineTo(x, yFor(zoomAt(duration_ * (x - x0) / (x1 - x0))));
    area.lineTo(x1, h);
    area.closeSubpath();
    QColor fill = ui::theme::kAccent;
    fill.setAlpha(200);
    p.fillPath(area, fill);
}
