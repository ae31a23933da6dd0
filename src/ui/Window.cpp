#include "ui/Window.h"

#include "platform/Logging.h"
#include "ui/FrameLayout.h"
#include "ui/Fonts.h"
#include "ui/ViewController.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace ui {

Window::Window(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Tavrio"));
    setAccessibleName(QStringLiteral("Tavrio"));
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
    setMinimumSize(160, 240);
    screen_ = new QWidget(this);
    screen_->setObjectName(QStringLiteral("screen"));
    screen_->setProperty("tavrioScreenRoot", true);
    // The canvas is laid out by its real width: the root fills it, presented screens are centred.
    FrameLayout::of(screen_)->setStretchesAcross(false);
    auto* fullScreen = new QShortcut(QKeySequence(Qt::Key_F11), this);
    fullScreen->setContext(Qt::WindowShortcut);
    connect(fullScreen, &QShortcut::activated, this, &Window::toggleFullScreen);
    relayout();
}

Window::~Window() = default;

void Window::setRootViewController(ViewController* controller) {
    if (root_) root_->deleteLater();
    root_ = controller;
    FrameLayout::of(screen_)->addWidget(controller, rootFrame());
    controller->show();
    Fonts::rescale(controller);
}

QSize Window::preferredSize(const QSize& available) {
    if (available.isEmpty()) return QSize(320, 480);
    // A display that is itself phone-sized gets the whole screen.
    if (available.width() <= 600 && available.height() >= available.width()) return QSize();
    // A desktop's display: the window in its shape, where the camera fills it.
    if (available.width() > available.height())
        return QSize(static_cast<int>(std::lround(available.width() * 0.8)),
                     static_cast<int>(std::lround(available.height() * 0.8)));
    const int height = static_cast<int>(std::lround(available.height() * 0.8));
    const int width = static_cast<int>(std::lround(height * PointScale::kScreenWidth / PointScale::kScreenHeight));
    if (width > available.width()) {
        const int w = static_cast<int>(std::lround(available.width() * 0.9));
        return QSize(w, static_cast<int>(std::lround(w * PointScale::kScreenHeight / PointScale::kScreenWidth)));
    }
    return QSize(width, height);
}

void Window::makeKeyAndVisible() {
    const QScreen* display = QGuiApplication::primaryScreen();
    const QSize size = preferredSize(display ? display->availableGeometry().size() : QSize());
    if (size.isEmpty()) {
        showFullScreen();
    } else {
        resize(size);
        if (display) move(display->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
        show();
    }
    raise();
    activateWindow();
    if (root_) {
        root_->viewWillAppear(false);
        root_->viewDidAppear(false);
        root_->focusFirstControl();
        ViewController::logShown(root_);
    }
}

void Window::toggleFullScreen() {
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

QRectF Window::rootFrame() const {
    if (root_ && root_->fillsCanvas()) return QRectF(QPointF(), PointScale::current().canvasSize());
    return PointScale::current().screenFrame();
}

void Window::relayout() {
    const PointScale before = scale_;
    scale_ = PointScale::forWindow(size(), devicePixelRatioF());
    PointScale::setCurrent(scale_);
    screen_->setGeometry(scale_.toWindowPixels(QRectF(QPointF(), scale_.canvasSize())));
    Fonts::rescale(screen_);
    // The root follows the canvas; whatever is presented over it keeps its place down it (a
    // sheet sliding in keeps sliding), centred anew at the new screen width.
    FrameLayout* layout = FrameLayout::of(screen_);
    const QRectF was = before.screenFrame(), now = scale_.screenFrame();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* w = layout->itemAt(i)->widget();
        if (!w) continue;
        QRectF f = layout->frame(w);
        if (w == root_) {
            layout->setFrame(w, rootFrame());
        } else if (auto* presented = qobject_cast<ViewController*>(w)) {
            presented->updatePresentedFrame();
        } else if (qFuzzyCompare(f.x() + 1, was.x() + 1) && qFuzzyCompare(f.width(), was.width())) {
            f.setX(now.x());
            f.setWidth(now.width());
            layout->setFrame(w, f);
        } else if (now.x() != was.x()) {
            layout->setFrame(w, f.translated(now.x() - was.x(), 0));
        }
    }
    layout->setGeometry(screen_->rect());
    emit scaleChanged();
}

void Window::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void Window::afterFirstPaint(QObject* context, std::function<void()> work) {
    if (painted_ || !isVisible()) {
        QTimer::singleShot(0, context, std::move(work));
        return;
    }
    // Queued past the paint, so that a quit asked for at the first paint comes first.
    connect(
        this, &Window::firstPaint, context, [context, work = std::move(work)] { QTimer::singleShot(0, context, work); },
        Qt::SingleShotConnection);
}

bool Window::event(QEvent* e) {
    // A move to a display of another pixel ratio changes which artwork is sharp; so does a
    // display whose own ratio changed, which is seen at the latest when the window is painted.
    if (e->type() == QEvent::ScreenChangeInternal || e->type() == QEvent::WindowActivate ||
        e->type() == QEvent::UpdateRequest) {
        if (!qFuzzyCompare(scale_.devicePixelRatio(), devicePixelRatioF())) relayout();
    }
    // The keyboard is the window's from here: scripts that bring the window back wait for this
    // before they type.
    if (e->type() == QEvent::WindowActivate) qCDebug(lcApp) << "window active";
    // An update request paints the whole window, children included, and hands it to the
    // display; once the first has been handled, the user sees the window.
    const bool firstFrame = e->type() == QEvent::UpdateRequest && !painted_ && isVisible();
    const bool handled = QWidget::event(e);
    if (firstFrame) {
        painted_ = true;
        emit firstPaint();
    }
    return handled;
}

}  // namespace ui
