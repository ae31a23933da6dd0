#pragma once
// A screen: a widget laid out in points (FrameLayout) with a title and navigation bar items,
// which can present another screen modally over itself. The base of every screen and of the
// navigation controller.

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QWidget>

class QVariantAnimation;

#include "ui/BarButtonItem.h"

namespace ui {

class FrameLayout;
class NavigationController;

class ViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTransitionMs = 300;

    explicit ViewController(QWidget* parent = nullptr);
    ~ViewController() override;

    QString title() const { return title_; }
    void setTitle(const QString& title);

    // The bar buttons this screen wants while it is on top of a navigation stack; not owned
    // by the bar (the screen usually parents them to itself).
    BarButtonItem* leftBarButtonItem() const { return left_; }
    BarButtonItem* rightBarButtonItem() const { return right_; }
    void setLeftBarButtonItem(BarButtonItem* item);
    void setRightBarButtonItem(BarButtonItem* item);
    bool hidesBackButton() const { return hidesBack_; }
    void setHidesBackButton(bool hides);

    // The navigation controller whose stack holds this screen, if any.
    NavigationController* navigationController() const;

    // Adds a subview at a frame in this screen's points.
    void addSubview(QWidget* view, const QRectF& frame);
    FrameLayout* frames();
    void setBackgroundColor(const QColor& color);

    // Slides `controller` up over this screen (0.3 s when animated) and takes ownership of it.
    // Refused (false) while this screen already presents one or a transition runs.
    bool presentModalViewController(ViewController* controller, bool animated);
    // Slides the presented screen down and deletes it. Sent to the presented screen itself, it
    // asks its presenter. False when nothing is presented.
    bool dismissModalViewController(bool animated);
    ViewController* modalViewController() const { return modal_; }
    ViewController* presentingViewController() const { return presenting_; }
    bool isTransitioning() const;

    // Logs (tavrio.app, debug) which screen the user now sees, for diagnostics and for the
    // end-to-end tests that wait on it.
    static void logShown(ViewController* controller);

    // Whether this screen, as the window's root or presented over it, takes a landscape window's
    // whole canvas rather than the centred screen of a readable width (the camera, the player).
    virtual bool fillsCanvas() const { return false; }
    // Where this screen, presented over the window's screen root, belongs across it now (its
    // place down it, while it slides, is kept); nothing when it is not presented there.
    void updatePresentedFrame();

    // Moves keyboard focus to the first control of the screen that takes it.
    virtual void focusFirstControl();

    // Called around appearing and disappearing (push, pop, present, dismiss, first show).
    virtual void viewWillAppear(bool animated);
    virtual void viewDidAppear(bool animated);
    virtual void viewWillDisappear(bool animated);
    virtual void viewDidDisappear(bool animated);

signals:
    void titleChanged(const QString& title);
    void barItemsChanged();
    void modalPresented(ViewController* controller);
    void modalDismissed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class NavigationController;
    // The widget modal screens are laid over: the window's 320 x 480 screen, else the top-level.
    QWidget* presentationHost() const;
    QWidget* coveredView(QWidget* host) const;

    QString title_;
    QPointer<BarButtonItem> left_;
    QPointer<BarButtonItem> right_;
    bool hidesBack_ = false;
    QPointer<NavigationController> navigation_;
    QPointer<ViewController> modal_;
    QPointer<ViewController> presenting_;
    QPointer<QWidget> covered_;
    QPointer<QVariantAnimation> transition_;
};

}  // namespace ui
