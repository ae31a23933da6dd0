#include "ui/NavigationController.h"

#include "ui/FrameLayout.h"
#include "ui/PointScale.h"

#include <QEasingCurve>
#include <QKeySequence>
#include <QShortcut>
#include <QVariantAnimation>

namespace ui {

NavigationController::NavigationController(ViewController* root, QWidget* parent) : ViewController(parent) {
    setBackgroundColor(Qt::black);
    bar_ = new NavigationBar(this);
    addSubview(bar_, QRectF(0, 0, PointScale::kScreenWidth, NavigationBar::kHeight));
    connect(bar_, &NavigationBar::backRequested, this, &NavigationController::goBack);
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::ALT | Qt::Key_Left)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &NavigationController::goBack);
    }
    if (root) {
        root->navigation_ = this;
        stack_.append(root);
        addSubview(root, contentFrame());
        connect(root, &ViewController::titleChanged, this, &NavigationController::updateBar);
        connect(root, &ViewController::barItemsChanged, this, &NavigationController::updateBar);
    }
    bar_->raise();
    updateBar();
}

NavigationController::~NavigationController() = default;

QRectF NavigationController::contentFrame(double dx) const {
    const bool under = bar_->isTranslucent();
    const double top = under ? 0.0 : NavigationBar::kHeight;
    return QRectF(dx, top, PointScale::kScreenWidth, PointScale::kScreenHeight - top);
}

void NavigationController::setBarStyle(NavigationBar::Style style, bool translucent) {
    bar_->setBarStyle(style);
    bar_->setTranslucent(translucent);
    for (const auto& c : stack_)
        if (c) frames()->setFrame(c, contentFrame());
    bar_->raise();
}

void NavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    if (hidden == barHidden_) return;
    barHidden_ = hidden;
    if (barAnimation_) barAnimation_->stop();
    auto place = [this](double shown) {
        frames()->setFrame(
            bar_, QRectF(0, (shown - 1.0) * NavigationBar::kHeight, PointScale::kScreenWidth, NavigationBar::kHeight));
    };
    bar_->setVisible(true);
    bar_->raise();
    if (!animated) {
        place(hidden ? 0.0 : 1.0);
        bar_->setVisible(!hidden);
        return;
    }
    const double from = 1.0 + frames()->frame(bar_).y() / NavigationBar::kHeight;
    auto* anim = new QVariantAnimation(this);
    anim->setDuration(200);
    anim->setStartValue(from);
    anim->setEndValue(hidden ? 0.0 : 1.0);
    connect(anim, &QVariantAnimation::valueChanged, this, [place](const QVariant& v) { place(v.toDouble()); });
    connect(anim, &QVariantAnimation::finished, this, [this, hidden] {
        if (barHidden_ == hidden) bar_->setVisible(!hidden);
    });
    barAnimation_ = anim;
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

QList<ViewController*> NavigationController::viewControllers() const {
    QList<ViewController*> out;
    for (const auto& c : stack_)
        if (c) out.append(c);
    return out;
}

ViewController* NavigationController::topViewController() const {
    for (auto it = stack_.rbegin(); it != stack_.rend(); ++it)
        if (*it) return *it;
    return nullptr;
}

bool NavigationController::isAnimating() const {
    return animation_ != nullptr;
}

void NavigationController::updateBar() {
    ViewController* top = topViewController();
    if (!top) {
        bar_->setContent({}, nullptr, nullptr, {});
        return;
    }
    QString backTitle;
    if (stack_.size() > 1 && !top->hidesBackButton()) {
        ViewController* below = stack_.at(stack_.size() - 2);
        backTitle = below && !below->title().isEmpty() ? below->title() : QStringLiteral("Back");
    }
    bar_->setContent(top->title(), top->leftBarButtonItem(), top->rightBarButtonItem(), backTitle);
}

void NavigationController::goBack() {
    if (modalViewController()) return;
    if (stack_.size() == 1 && !isAnimating()) {
        emit backFromRoot();
        return;
    }
    popViewControllerAnimated(true);
}

bool NavigationController::fillsCanvas() const {
    const ViewController* top = topViewController();
    return top && top->fillsCanvas();
}

bool NavigationController::pushViewController(ViewController* controller, bool animated) {
    if (!controller || isAnimating()) return false;
    ViewController* from = topViewController();
    controller->navigation_ = this;
    stack_.append(controller);
    updatePresentedFrame();  // a screen that fills the window widens the stack as it comes in
    connect(controller, &ViewController::titleChanged, this, &NavigationController::updateBar);
    connect(controller, &ViewController::barItemsChanged, this, &NavigationController::updateBar);
    addSubview(controller, contentFrame(animated ? PointScale::kScreenWidth : 0));
    bar_->raise();
    updateBar();
    if (from) from->viewWillDisappear(animated);
    controller->viewWillAppear(animated);

    QPointer<ViewController> fromP(from), toP(controller);
    auto finish = [this, fromP, toP, animated] {
        animation_ = nullptr;
        if (fromP) {
            fromP->hide();
            fromP->viewDidDisappear(animated);
        }
        if (toP) {
            frames()->setFrame(toP, contentFrame());
            toP->viewDidAppear(animated);
            toP->focusFirstControl();
            logShown(toP);
        }
        emit transitionFinished();
    };
    if (!animated) {
        finish();
        return true;
    }
    slide(
        [this, fromP, toP](double t) {
            if (fromP) frames()->setFrame(fromP, contentFrame(-t * PointScale::kScreenWidth));
            if (toP) frames()->setFrame(toP, contentFrame((1.0 - t) * PointScale::kScreenWidth));
        },
        finish);
    return true;
}

bool NavigationController::popViewControllerAnimated(bool animated) {
    if (isAnimating() || stack_.size() < 2) return false;
    QPointer<ViewController> gone = stack_.takeLast();
    QPointer<ViewController> back = topViewController();
    if (back) {
        frames()->setFrame(back, contentFrame(animated ? -PointScale::kScreenWidth : 0));
        back->show();
    }
    if (gone) gone->raise();
    bar_->raise();
    updateBar();
    if (gone) gone->viewWillDisappear(animated);
    if (back) back->viewWillAppear(animated);

    auto finish = [this, gone, back, animated] {
        animation_ = nullptr;
        if (gone) {
            gone->viewDidDisappear(animated);
            gone->hide();
            gone->deleteLater();
        }
        updatePresentedFrame();  // and narrows it again once it has gone
        if (back) {
            frames()->setFrame(back, contentFrame());
            back->viewDidAppear(animated);
            back->focusFirstControl();
            logShown(back);
        }
        emit transitionFinished();
    };
    if (!animated) {
        finish();
        return true;
    }
    slide(
        [this, gone, back](double t) {
            if (gone) frames()->setFrame(gone, contentFrame(t * PointScale::kScreenWidth));
            if (back) frames()->setFrame(back, contentFrame((t - 1.0) * PointScale::kScreenWidth));
        },
        finish);
    return true;
}

// Push and pop share one eased 0.3 s run from 0 to 1; only where each screen sits differs.
void NavigationController::slide(std::function<void(double)> step, std::function<void()> finish) {
    auto* anim = new QVariantAnimation(this);
    anim->setDuration(kTransitionMs);
    anim->setEasingCurve(QEasingCurve::InOutCubic);
    anim->setStartValue(0.0);
    anim->setEndValue(1.0);
    connect(anim, &QVariantAnimation::valueChanged, this,
            [step = std::move(step)](const QVariant& v) { step(v.toDouble()); });
    connect(anim, &QVariantAnimation::finished, this, std::move(finish));
    animation_ = anim;
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void NavigationController::viewWillAppear(bool animated) {
    if (auto* top = topViewController()) top->viewWillAppear(animated);
}

void NavigationController::viewDidAppear(bool animated) {
    if (auto* top = topViewController()) top->viewDidAppear(animated);
}

void NavigationController::viewWillDisappear(bool animated) {
    if (auto* top = topViewController()) top->viewWillDisappear(animated);
}

void NavigationController::viewDidDisappear(bool animated) {
    if (auto* top = topViewController()) top->viewDidDisappear(animated);
}

}  // namespace ui

namespace ui {

void NavigationController::focusFirstControl() {
    // The content, not the bar: keyboard users land on what the screen is about.
    if (auto* top = topViewController())
        top->focusFirstControl();
    else
        ViewController::focusFirstControl();
}

}  // namespace ui
