#include "ui/BarButtonItem.h"
#include "ui/FrameLayout.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include "support/GuiApp.h"

#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class Screen : public ui::ViewController {
public:
    explicit Screen(const QString& title) {
        setTitle(title);
        button = new QPushButton(title);
        button->setFocusPolicy(Qt::StrongFocus);
        addSubview(button, QRectF(20, 20, 100, 40));
    }
    void viewWillAppear(bool) override { events << "willAppear"; }
    void viewDidAppear(bool) override { events << "didAppear"; }
    void viewWillDisappear(bool) override { events << "willDisappear"; }
    void viewDidDisappear(bool) override { events << "didDisappear"; }
    QPushButton* button;
    QStringList events;
};

struct Shown : testsupport::GuiAppFirst {
    Shown() {
        testsupport::guiApp();
        window.resize(320, 480);
        root = new Screen(QStringLiteral("Settings"));
        nav = new ui::NavigationController(root);
        window.setRootViewController(nav);
        window.show();
        QApplication::setActiveWindow(&window);
        QCoreApplication::processEvents();
    }
    ui::Window window;
    Screen* root;
    ui::NavigationController* nav;
};

bool settle(ui::NavigationController* nav) {
    return testsupport::spinUntil([nav] { return !nav->isAnimating(); }, 10000);
}

}  // namespace

TEST(Navigation, PushAndPopKeepTheStackTheBarAndTheScreensInStep) {
    Shown s;
    EXPECT_EQ(s.nav->navigationBar()->title(), "Settings");
    EXPECT_FALSE(s.nav->navigationBar()->backButton()->isVisible());

    auto* detail = new Screen(QStringLiteral("Detail"));
    ASSERT_TRUE(s.nav->pushViewController(detail, true));
    EXPECT_TRUE(s.nav->isAnimating());
    // A second push during the slide is refused, not stacked half-way.
    auto* refused = new Screen(QStringLiteral("Other"));
    EXPECT_FALSE(s.nav->pushViewController(refused, false));
    delete refused;
    ASSERT_TRUE(settle(s.nav));
    EXPECT_EQ(s.nav->viewControllers(), (QList<ui::ViewController*>{s.root, detail}));
    EXPECT_EQ(detail->navigationController(), s.nav);
    EXPECT_EQ(s.nav->navigationBar()->title(), "Detail");
    EXPECT_TRUE(s.nav->navigationBar()->backButton()->isVisible());
    EXPECT_EQ(s.nav->navigationBar()->backButton()->text(), "Settings");
    EXPECT_EQ(s.nav->frames()->frame(detail), QRectF(0, 44, 320, 436));
    EXPECT_FALSE(s.root->isVisible());  // covered screens leave the keyboard's reach
    EXPECT_TRUE(detail->button->hasFocus());
    EXPECT_EQ(s.root->events, (QStringList{"willDisappear", "didDisappear"}));
    EXPECT_EQ(detail->events, (QStringList{"willAppear", "didAppear"}));

    QPointer<Screen> gone(detail);
    s.nav->navigationBar()->backButton()->click();
    ASSERT_TRUE(settle(s.nav));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());  // a popped screen is released
    EXPECT_EQ(s.nav->viewControllers(), (QList<ui::ViewController*>{s.root}));
    EXPECT_EQ(s.nav->navigationBar()->title(), "Settings");
    EXPECT_TRUE(s.root->isVisible());
    EXPECT_EQ(s.nav->frames()->frame(s.root), QRectF(0, 44, 320, 436));
    // The root is never popped.
    EXPECT_FALSE(s.nav->popViewControllerAnimated(false));
}

TEST(Navigation, EscapeAndAltLeftGoBack) {
    Shown s;
    s.nav->pushViewController(new Screen(QStringLiteral("One")), false);
    s.nav->pushViewController(new Screen(QStringLiteral("Two")), false);
    ASSERT_EQ(s.nav->viewControllers().size(), 3);
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClick(focused, Qt::Key_Escape);
    ASSERT_TRUE(settle(s.nav));
    EXPECT_EQ(s.nav->viewControllers().size(), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left, Qt::AltModifier);
    ASSERT_TRUE(settle(s.nav));
    EXPECT_EQ(s.nav->viewControllers().size(), 1);
}

TEST(Navigation, BarButtonsFollowTheTopScreensItems) {
    Shown s;
    auto* done = new ui::BarButtonItem(ui::BarButtonItem::SystemItem::Done, ui::BarButtonItem::Style::Bordered, s.root);
    QSignalSpy taps(done, &ui::BarButtonItem::triggered);
    s.root->setRightBarButtonItem(done);
    ASSERT_NE(s.nav->navigationBar()->rightButton(), nullptr);
    EXPECT_EQ(s.nav->navigationBar()->rightButton()->text(), "Done");
    EXPECT_EQ(s.nav->navigationBar()->rightButton()->accessibleName(), "Done");
    s.nav->navigationBar()->rightButton()->click();
    EXPECT_EQ(taps.count(), 1);
    done->setEnabled(false);
    EXPECT_FALSE(s.nav->navigationBar()->rightButton()->isEnabled());

    auto* left = new ui::BarButtonItem(QStringLiteral("Edit"), ui::BarButtonItem::Style::Bordered);
    auto* detail = new Screen(QStringLiteral("Detail"));
    left->setParent(detail);
    detail->setLeftBarButtonItem(left);
    s.nav->pushViewController(detail, false);
    // A left item takes the back button's place; the root's right item is gone with the root.
    EXPECT_FALSE(s.nav->navigationBar()->backButton()->isVisible());
    EXPECT_EQ(s.nav->navigationBar()->leftButton()->text(), "Edit");
    EXPECT_EQ(s.nav->navigationBar()->rightButton(), nullptr);
}

TEST(Navigation, TranslucentBlackBarLetsContentRunUnderIt) {
    Shown s;
    s.nav->setBarStyle(ui::NavigationBar::Style::Black, true);
    EXPECT_EQ(s.nav->frames()->frame(s.root), QRectF(0, 0, 320, 480));
    EXPECT_EQ(s.nav->navigationBar()->barStyle(), ui::NavigationBar::Style::Black);
    s.nav->setBarStyle(ui::NavigationBar::Style::Default, false);
    EXPECT_EQ(s.nav->frames()->frame(s.root), QRectF(0, 44, 320, 436));
}

TEST(Navigation, ModalPresentationSlidesOverTheScreenAndDismissalReleasesIt) {
    testsupport::guiApp();
    ui::Window window;
    window.resize(640, 960);
    auto* camera = new Screen(QStringLiteral("Camera"));
    window.setRootViewController(camera);
    window.show();
    QApplication::setActiveWindow(&window);

    auto* list = new Screen(QStringLiteral("Settings"));
    auto* nav = new ui::NavigationController(list);
    QSignalSpy presented(camera, &ui::ViewController::modalPresented);
    ASSERT_TRUE(camera->presentModalViewController(nav, true));
    EXPECT_EQ(nav->parentWidget(), window.screen());
    EXPECT_FALSE(camera->presentModalViewController(new Screen(QStringLiteral("Second")), false));
    ASSERT_TRUE(testsupport::spinUntil([&] { return presented.count() == 1; }, 10000));
    EXPECT_EQ(ui::FrameLayout::of(window.screen())->frame(nav), QRectF(0, 0, 320, 480));
    EXPECT_EQ(nav->geometry(), QRect(0, 0, 640, 960));
    EXPECT_FALSE(camera->isVisible());
    EXPECT_EQ(camera->modalViewController(), nav);
    EXPECT_EQ(nav->presentingViewController(), camera);
    EXPECT_TRUE(list->button->hasFocus());  // the keyboard lands in the content, not the bar

    // Dismissal asked of the presented screen goes to its presenter.
    QPointer<ui::NavigationController> gone(nav);
    QSignalSpy dismissed(camera, &ui::ViewController::modalDismissed);
    ASSERT_TRUE(nav->dismissModalViewController(true));
    EXPECT_TRUE(camera->isVisible());  // uncovered while the sheet slides away
    ASSERT_TRUE(testsupport::spinUntil([&] { return dismissed.count() == 1; }, 10000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());
    EXPECT_EQ(camera->modalViewController(), nullptr);
    EXPECT_TRUE(camera->button->hasFocus());
    EXPECT_FALSE(camera->dismissModalViewController(false));
}
