#include "ui/Theme.h"

#include <QApplication>
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
