#include "ui/Fonts.h"

#include "ui/PointScale.h"

#include <QFontDatabase>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace ui {

namespace {
constexpr char kPointsProperty[] = "tavrioFontPoints";
constexpr char kBoldProperty[] = "tavrioFontBold";
}  // namespace

QString Fonts::family() {
    // DejaVu Sans is installed with the application, so text measures and renders the same on
    // every machine; the general sans-serif family stands in where it is missing.
    static const QString chosen = QFontDatabase::families().contains(QStringLiteral("DejaVu Sans"))
                                      ? QStringLiteral("DejaVu Sans")
                                      : QStringLiteral("Sans Serif");
    return chosen;
}

QFont Fonts::systemInPoints(double points, bool bold) {
    QFont f(family());
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(points))));
    f.setBold(bold);
    return f;
}

QFont Fonts::system(double points, bool bold) {
    QFont f(family());
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(points * PointScale::current().pixelsPerPoint()))));
    f.setBold(bold);
    return f;
}

void Fonts::set(QWidget* widget, double points, bool bold) {
    widget->setProperty(kPointsProperty, points);
    widget->setProperty(kBoldProperty, bold);
    widget->setFont(system(points, bold));
}

void Fonts::rescale(QWidget* root) {
    auto apply = [](QWidget* w) {
        const QVariant points = w->property(kPointsProperty);
        if (points.isValid()) w->setFont(system(points.toDouble(), w->property(kBoldProperty).toBool()));
    };
    apply(root);
    for (QWidget* w : root->findChildren<QWidget*>()) apply(w);
}

}  // namespace ui
