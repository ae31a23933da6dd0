#include "ui/ViewController.h"

#include "ui/BarButtonItem.h"
#include "ui/FrameLayout.h"
#include "ui/NavigationController.h"
#include "ui/PointScale.h"

#include "platform/Logging.h"

#include <QEasingCurve>
#include <QPalette>
#include <QVariantAnimation>

namespace ui {

namespace {
// Where a presented screen sits on its host: on a landscape window's canvas, centred at a readable
// width, or over all of it for a screen that fills it.
QRectF presentedFrame(const QWidget* host, const ViewController* controller) {
    if (host && host->property("tavrioScreenRoot").toBool())
        return controller->fillsCanvas() ? QRectF(QPointF(), PointScale::current().canvasSize())
                                         : PointScale::current().screenFrame();
    return QRectF(0, 0, PointScale::kScreenWidth, PointScale::kScreenHeight);
}
}  // namespace

ViewController::ViewController(QWidget* parent) : QWidget(parent) {
    FrameLayout::of(this);
    setBackgroundColor(Qt::white);
}

ViewController::~ViewController() = default;

void ViewController::setTitle(const QString& title) {
    if (title_ == title) return;
    title_ = title;
    setAccessibleName(title);
    emit titleChanged(title);
}

void ViewController::setLeftBarButtonItem(BarButtonItem* item) {
    left_ = item;
    emit barItemsChanged();
}

void ViewController::setRightBarButtonItem(BarButtonItem* item) {
    right_ = item;
    emit barItemsChanged();
}

void ViewController::setHidesBackButton(bool hides) {
    hidesBack_ = hides;
    emit barItemsChanged();
}

NavigationController* ViewController::navigationController() const {
    return navigation_;
}

void ViewController::addSubview(QWidget* view, const QRectF& frame) {
    frames()->addWidget(view, frame);
    view->show();
}

FrameLayout* ViewController::frames() {
    return FrameLayout::of(this);
}

void ViewController::setBackgroundColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
    setAutoFillBackground(true);
}

QWidget* ViewController::presentationHost() const {
    for (QWidget* w = const_cast<ViewController*>(this); w; w = w->parentWidget())
        if (w->property("tavrioScreenRoot").toBool()) return w;
    return const_cast<ViewController*>(this)->window();
}

QWidget* ViewController::coveredView(QWidget* host) const {
    QWidget* w = const_cast<ViewController*>(this);
    while (w && w->parentWidget() != host) w = w->parentWidget();
    return w;
}

void ViewController::updatePresentedFrame() {
    QWidget* host = parentWidget();
    if (!presenting_ || !host || !host->property("tavrioScreenRoot").toBool()) return;
    FrameLayout* layout = FrameLayout::of(host);
    if (!layout->contains(this)) return;
    const QRectF across = presentedFrame(host, this);
    QRectF f = layout->frame(this);
    f.setLeft(across.left());
    f.setWidth(across.width());
    layout->setFrame(this, f);
}

bool ViewController::isTransitioning() const {
    return transition_ && transition_->state() == QAbstractAnimation::Running;
}

bool ViewController::presentModalViewController(ViewController* controller, bool animated) {
    if (!controller || modal_ || isTransitioning()) return false;
    QWidget* host = presentationHost();
    covered_ = coveredView(host);
    modal_ = controller;
    controller->presenting_ = this;
    FrameLayout* layout = FrameLayout::of(host);
    const QRectF full = presentedFrame(host, controller);
    layout->addWidget(controller, animated ? full.translated(0, PointScale::kScreenHeight) : full);
    controller->show();
    controller->raise();
    viewWillDisappear(animated);
    controller->viewWillAppear(animated);

    QPointer<ViewController> self(this);
    QPointer<ViewController> shown(controller);
    auto finish = [self, shown, animated] {
        if (!self || !shown) return;
        if (self->covered_) self->covered_->hide();  // out of sight and out of the keyboard's reach
        self->viewDidDisappear(animated);
        shown->viewDidAppear(animated);
        shown->focusFirstControl();
        logShown(shown);
        emit self->modalPresented(shown);
    };
    if (!animated) {
        finish();
        return true;
    }
    auto* anim = new QVariantAnimation(this);
    anim->setDuration(kTransitionMs);
    anim->setEasingCurve(QEasingCurve::OutCubic);
    anim->setStartValue(PointScale::kScreenHeight);
    anim->setEndValue(0.0);
    connect(anim, &QVariantAnimation::valueChanged, controller, [layout, controller](const QVariant& y) {
        QRectF frame = layout->frame(controller);
        frame.moveTop(y.toDouble());
        layout->setFrame(controller, frame);
    });
    connect(anim, &QVariantAnimation::finished, this, finish);
    transition_ = anim;
    anim->start(QAbstractAnimation::DeleteWhenStopped);
    return true;
}

bool ViewController::dismissModalViewController(bool animated) {
    if (!modal_) {
        if (presenting_ && presenting_->modal_ == this) return presenting_->dismissModalViewController(animated);
        return false;
    }
    if (isTransitioning() || modal_->isTransitioning()) return false;
    ViewController* shown = modal_;
    QWidget* host = shown->parentWidget();
    if (covered_) covered_->show();
    shown->raise();
    shown->viewWillDisappear(animated);
    viewWillAppear(animated);

    QPointer<ViewController> self(this);
    QPointer<ViewController> gone(shown);
    auto finish = [self, gone, animated] {
        if (gone) {
            gone->viewDidDisappear(animated);
            gone->hide();
            gone->deleteLater();
        }
        if (!self) return;
        self->modal_ = nullptr;
        self->viewDidAppear(animated);
        self->focusFirstControl();
        logShown(self);
        emit self->modalDismissed();
    };
    if (!animated || !host) {
        finish();
        return true;
    }
    FrameLayout* layout = FrameLayout::of(host);
    auto* anim = new QVariantAnimation(this);
    anim->setDuration(kTransitionMs);
    anim->setEasingCurve(QEasingCurve::InCubic);
    anim->setStartValue(0.0);
    anim->setEndValue(PointScale::kScreenHeight);
    connect(anim, &QVariantAnimation::valueChanged, shown, [layout, shown](const QVariant& y) {
        QRectF frame = layout->frame(shown);
        frame.moveTop(y.toDouble());
        layout->setFrame(shown, frame);
    });
    connect(anim, &QVariantAnimation::finished, this, finish);
    transition_ = anim;
    anim->start(QAbstractAnimation::DeleteWhenStopped);
    return true;
}

void ViewController::focusFirstControl() {
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (!isAncestorOf(w)) continue;
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void ViewController::logShown(ViewController* controller) {
    while (auto* nav = qobject_cast<NavigationController*>(controller)) {
        if (!nav->topViewController()) break;
        controller = nav->topViewController();
    }
    if (controller) qCDebug(lcApp).noquote() << "screen shown:" << controller->title();
}

void ViewController::viewWillAppear(bool) {}
void ViewController::viewDidAppear(bool) {}
void ViewController::viewWillDisappear(bool) {}
void ViewController::viewDidDisappear(bool) {}

void ViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
}

}  // namespace ui
