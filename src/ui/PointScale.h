#pragma once
// The screens are laid out in points on a 320 x 480 portrait screen. A window taller than wide
// shows that screen uniformly scaled to fit, centred, with black margins. A window wider than tall
// is a canvas 480 points high and as wide as the window: the camera screen lays itself out over
// all of it, the other screens take a readable width, centred (screenFrame()). PointScale is the
// one mapping between points and the window's pixels, in both directions, so every frame and
// every tap goes through the same numbers.

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

namespace ui {

class PointScale {
public:
    static constexpr double kScreenWidth = 320.0;
    static constexpr double kScreenHeight = 480.0;

    PointScale() = default;
    PointScale(double pixelsPerPoint, QPointF origin, double devicePixelRatio = 1.0);

    // The largest uniform scale at which the screen fits `windowSize` (logical pixels), centred.
    static PointScale fit(QSize windowSize, double devicePixelRatio = 1.0);
    // A landscape window: 480 points high, the canvas as wide as the window.
    static PointScale fill(QSize windowSize, double devicePixelRatio = 1.0);
    // fill() for a window wider than tall, else fit().
    static PointScale forWindow(QSize windowSize, double devicePixelRatio = 1.0);

    double pixelsPerPoint() const { return scale_; }
    QPointF origin() const { return origin_; }  // the screen's top left corner in the window
    double devicePixelRatio() const { return dpr_; }
    // Device pixels per point: the "screen scale" artwork is chosen by.
    double screenScale() const { return scale_ * dpr_; }

    // A frame in points (relative to the screen's corner, or to any container laid out in points)
    // to whole pixels of the same container. Edges are rounded, not sizes, so frames that touch
    // in points touch in pixels.
    QRect toPixels(const QRectF& points) const;
    // The same, in the window's coordinates (adds the screen's origin).
    QRect toWindowPixels(const QRectF& points) const;
    double toPixels(double points) const { return points * scale_; }
    // A position in the window's pixels back to the screen's points.
    QPointF toPoints(QPointF windowPixels) const;
    QRectF screenRectInWindow() const;
    // The points the window's screen root spans: 320 x 480, or wider in a landscape window.
    QSizeF canvasSize() const { return canvas_; }
    bool isLandscape() const { return canvas_.width() > kScreenWidth; }
    // How wide the screens other than the camera's are, in points: 320 on the phone-shaped
    // screen; in a landscape window a readable width (about kReadableWidth logical pixels), never
    // less than 320 points nor more than the canvas.
    double screenWidth() const;
    // Where such a screen sits on the canvas: centred across it, 480 points high.
    QRectF screenFrame() const;
    static constexpr double kReadableWidth = 680.0;

    // The scale of the window that shows the screen; every widget in it lays out by this one.
    static const PointScale& current();
    // Also publishes screenScale() as the platform's screen scale.
    static void setCurrent(const PointScale& scale);

private:
    double scale_ = 1.0;
    QPointF origin_;
    double dpr_ = 1.0;
    QSizeF canvas_{kScreenWidth, kScreenHeight};
};

}  // namespace ui
