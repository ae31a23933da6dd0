#pragma once
// A stack of screens under a navigation bar. Pushing slides the new screen in from the right,
// popping slides it out again (0.3 s when animated); a popped screen is deleted. Escape and
// Alt+Left go back.

#include "ui/NavigationBar.h"
#include "ui/ViewController.h"

#include <QList>
#include <QPointer>
#include <functional>

class QVariantAnimation;

namespace ui {

class NavigationController : public ViewController {
    Q_OBJECT
public:
    explicit NavigationController(ViewController* root, QWidget* parent = nullptr);
    ~NavigationController() override;

    // Takes ownership. Refused (false) while a transition runs.
    bool pushViewController(ViewController* controller, bool animated);
    // Removes the top screen (never the root) and deletes it. False when there is nothing to pop
    // or a transition runs.
    bool popViewControllerAnimated(bool animated);

    QList<ViewController*> viewControllers() const;
    ViewController* topViewController() const;
    NavigationBar* navigationBar() const { return bar_; }
    bool isAnimating() const;
    void focusFirstControl() override;
    // The stack fills the canvas while its top screen does (the player over the library).
    bool fillsCanvas() const override;

    // Slides the bar up out of sight (or back), over 0.2 s when animated. The screens keep
    // their frames: a full-screen one (the player) runs under the bar anyway.
    void setNavigationBarHidden(bool hidden, bool animated);
    bool isNavigationBarHidden() const { return barHidden_; }

    // Black and translucent styles: content then runs under the bar.
    void setBarStyle(NavigationBar::Style style, bool translucent = false);

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

signals:
    void transitionFinished();
    // Escape or Alt+Left on the root screen, where there is nothing to go back to: the presenter
    // may close the stack.
    void backFromRoot();

private:
    void slide(std::function<void(double)> step, std::function<void()> finish);
    QRectF contentFrame(double dx = 0) const;
    void updateBar();
    void goBack();

    NavigationBar* bar_;
    QList<QPointer<ViewController>> stack_;
    QPointer<QObject> animation_;
    QPointer<QVariantAnimation> barAnimation_;
    bool barHidden_ = false;
};

}  // namespace ui
