#include "ui/Indicators.h"

#include "ui/Fonts.h"
#include "ui/PointScale.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ui {

ProgressView::ProgressView(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 1000);
    setValue(0);
    setTextVisible(false);
    setAccessibleName(QStringLiteral("Progress"));
}

void ProgressView::setProgress(float progress) {
    progress_ = std::isfinite(progress) ? std::clamp(progress, 0.0f, 1.0f) : 0.0f;
    setValue(static_cast<int>(std::lround(progress_ * 1000)));
}

void ProgressView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = r.height() / 2;
    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRoundedRect(r, radius, radius);
    if (progress_ > 0) {
        QRectF fill = r;
        fill.setWidth(std::max(r.height(), r.width() * progress_));
        QLinearGradient g(fill.topLeft(), fill.bottomLeft());
        g.setColorAt(0, QColor(64, 160, 255));
        g.setColorAt(1, QColor(10, 110, 230));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(fill, radius, radius);
    }
}

ActivityIndicator::ActivityIndicator(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(QStringLiteral("Working"));
    timer_->setInterval(83);  // twelve spokes a second round
    connect(timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
    hide();
}

void ActivityIndicator::startAnimating() {
    timer_->start();
    show();
}

void ActivityIndicator::stopAnimating() {
    timer_->stop();
    if (hidesWhenStopped_) hide();
}

bool ActivityIndicator::isAnimating() const {
    return timer_->isActive();
}

void ActivityIndicator::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (hides && !isAnimating()) hide();
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    p.translate(width() / 2.0, height() / 2.0);
    const double inner = side * 0.24, outer = side * 0.48, thick = side * 0.09;
    for (int i = 0; i < 12; ++i) {
        const int age = (step_ - i + 12) % 12;  // 0: the newest spoke, brightest
        QColor c(255, 255, 255, 255 - age * 17);
        p.setPen(QPen(c, thick, Qt::SolidLine, Qt::RoundCap));
        p.save();
        p.rotate(i * 30.0);
        p.drawLine(QPointF(0, -inner), QPointF(0, -outer + thick / 2));
        p.restore();
    }
}

ShrinkLabel::ShrinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setFontPoints(17);
}

void ShrinkLabel::setFontPoints(double points, bool bold) {
    points_ = points;
    bold_ = bold;
    Fonts::set(this, points, bold);
    update();
}

double ShrinkLabel::fittedFontPoints() const {
    if (text().isEmpty()) return points_;
    const double s = PointScale::current().pixelsPerPoint();
    const QSizeF box(width() / s, height() / s);
    const bool wrap = wordWrap();
    for (double pt = points_; pt > minimum_; pt -= 0.5) {
        const QFontMetricsF fm(Fonts::systemInPoints(pt, bold_));
        if (!wrap) {
            if (fm.horizontalAdvance(text()) <= box.width()) return pt;
        } else {
            const QRectF need = fm.boundingRect(QRectF(0, 0, box.width(), 1e6), Qt::TextWordWrap, text());
            if (need.height() <= box.height()) return pt;
        }
    }
    return minimum_;
}

void ShrinkLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double s = PointScale::current().pixelsPerPoint();
    p.scale(s, s);
    const QFont f = Fonts::systemInPoints(fittedFontPoints(), bold_);
    p.setFont(f);
    p.setPen(palette().color(QPalette::WindowText));
    const QRectF box(0, 0, width() / s, height() / s);
    const int flags = static_cast<int>(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
    const QString shown = wordWrap() ? text() : QFontMetricsF(f).elidedText(text(), Qt::ElideRight, box.width());
    p.drawText(box, flags, shown);
}

}  // namespace ui
