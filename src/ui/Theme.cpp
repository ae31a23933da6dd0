#include "ui/Theme.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

namespace ui::theme {

namespace {
QString css(const QColor& c) {
    return c.alpha() == 255
               ? c.name()
               : QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}
}  // namespace

QString buttonStyleSheet(double) {
    return QStringLiteral(
               "QPushButton { color: %1; background: %2; border: 1px solid %3; border-radius: 10px; "
               "padding: 2px 8px; }"
               "QPushButton:pressed { background: %4; }"
               "QPushButton:focus { border: 2px solid %5; }")
        .arg(css(kText), css(kSurface), css(kSeparator), css(kSurfacePressed), css(kAccent));
}

QString flatButtonStyleSheet(const QColor& text) {
    return QStringLiteral(
               "QToolButton { color: %1; background: transparent; border: 2px solid transparent; border-radius: 8px; "
               "font-size: 20px; }"
               "QToolButton:pressed { background: %2; }"
               "QToolButton:focus { border: 2px solid %3; }")
        .arg(css(text), css(kSurfacePressed), css(kAccent));
}

namespace {
// Draws `shape` (given the ring's path, inset by half the pen so it stays inside `r`) in the
// accent, whatever the painter was set to.
template <typename Shape>
void paintRing(QPainter& p, const QRectF& r, double width, Shape shape) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(1.0);
    QPen pen(kAccent, width);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const double inset = width / 2;
    shape(r.adjusted(inset, inset, -inset, -inset));
    p.restore();
}
}  // namespace

void paintFocusRing(QPainter& p, const QRectF& r, double width, double radius) {
    paintRing(p, r, width, [&](const QRectF& ring) { p.drawRoundedRect(ring, radius, radius); });
}

void paintFocusEllipse(QPainter& p, const QRectF& r, double width) {
    paintRing(p, r, width, [&](const QRectF& ring) { p.drawEllipse(ring); });
}

void apply() {
    QPalette p;
    p.setColor(QPalette::Window, kBackground);
    p.setColor(QPalette::WindowText, kText);
    p.setColor(QPalette::Base, kSurface);
    p.setColor(QPalette::AlternateBase, kSurfacePressed);
    p.setColor(QPalette::Text, kText);
    p.setColor(QPalette::Button, kSurface);
    p.setColor(QPalette::ButtonText, kText);
    p.setColor(QPalette::Highlight, kAccent);
    p.setColor(QPalette::HighlightedText, kBackground);
    p.setColor(QPalette::ToolTipBase, kSurface);
    p.setColor(QPalette::ToolTipText, kText);
    p.setColor(QPalette::PlaceholderText, kSecondaryText);
    p.setColor(QPalette::Disabled, QPalette::Text, kSecondaryText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, kSecondaryText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, kSecondaryText);
    QApplication::setPalette(p);
}

}  // namespace ui::theme
