#pragma once
// The application's window: taller than wide, it shows the 320 x 480 point screen uniformly
// scaled to fit, centred on black; wider than tall, its screen root is a canvas as wide as the
// window, over which a root screen that asks for it (the camera) lays itself out, while the
// screens presented over it take a readable width, centred. The point scale follows
// the window as it is resized, full-screened (F11) or moved to a display of another pixel ratio.
// On a phone-sized display it fills the screen.

#include <QPointer>
#include <QWidget>

#include <functional>

#include "ui/PointScale.h"

namespace ui {

class ViewController;

class Window : public QWidget {
    Q_OBJECT
public:
    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    // The screen root (the canvas); screens and modal presentations are its children.
    QWidget* screen() const { return screen_; }
    void setRootViewController(ViewController* controller);  // takes ownership
    ViewController* rootViewController() const { return root_; }

    // Shows the window at a size that suits the display: 80% of a landscape display in its
    // shape, about 80% of a portrait display's height in the screen's shape, or full screen on a
    // display no bigger than a phone.
    void makeKeyAndVisible();
    // The size makeKeyAndVisible() opens at for a display's available area; empty for full screen.
    static QSize preferredSize(const QSize& available);
    void toggleFullScreen();

    const PointScale& pointScale() const { return scale_; }

    // Runs `work` on the event loop once the window has been drawn, or soon when it has been or
    // is not shown: what the first picture does not need waits, so the window comes up sooner.
    // Nothing runs once `context` is gone.
    void afterFirstPaint(QObject* context, std::function<void()> work);

signals:
    // The first time the window has been painted (start-up measurements hook here).
    void firstPaint();
    void scaleChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void relayout();
    QRectF rootFrame() const;

    QWidget* screen_;
    QPointer<ViewController> root_;
    PointScale scale_;
    bool painted_ = false;
};

}  // namespace ui
