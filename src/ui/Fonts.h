#pragma once
// Text on the screen is sized in points and scales with the screen. A widget's font is given
// once in points; when the window's scale changes, rescale() sets every such font again.

#include <QFont>

class QWidget;

namespace ui {

class Fonts {
public:
    // The system font at `points` (scaled to the current screen), bold or not.
    static QFont system(double points, bool bold = false);
    // The system font at `points` in screen points, unscaled: for measuring in points and for
    // painting under a painter that is already scaled.
    static QFont systemInPoints(double points, bool bold = false);
    // Gives `widget` the system font at `points` and keeps it at that size in points.
    static void set(QWidget* widget, double points, bool bold = false);
    // Re-applies every point font under `root` (root included) at the current scale.
    static void rescale(QWidget* root);
    static QString family();
};

}  // namespace ui
