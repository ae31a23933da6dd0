#include "ZoomBand.h"

#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

ZoomBand::ZoomBand(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(tr("Zoom over time"));
}

void ZoomBand::setSegments(std::vector<tavrio::ZoomSegment> segments, double durationSeconds) {
    segments_ = std::move(segments);
    duration_ = durationSeconds > 0 ? durationSeconds : 0;
    update();
}

void ZoomBand::setInset(int pixels) {
    inset_ = std::max(0, pixels);
    update();
}

float ZoomBand::zoomAt(double seconds) const {
    return tavrio::zoomAtTime(segments_, media::Time::fromSeconds(seconds, 600));
}

void ZoomBand::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), ui::theme::kZoomBand);
    const int x0 = inset_, x1 = width() - inset_;
    if (duration_ <= 0 || segments_.empty() || x1 <= x0) return;
    const double h = height();
    auto yFor = [h](float z) {
        const double level =
            std::clamp((double(z) - tavrio::kMinZoom) / (tavrio::kMaxZoom - tavrio::kMinZoom), 0.0, 1.0);
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
