#include "ui/FrameLayout.h"
#include "ui/NavigationController.h"
#include "ui/PointScale.h"
#include "ui/ViewController.h"
#include "ui/Window.h"

#include "platform/ScreenScale.h"

#include "support/GuiApp.h"

#include <QPushButton>
#include <cstdlib>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using ui::PointScale;

TEST(PointScale, FitsTheScreenUniformlyWithCentredMargins) {
    struct Case {
        QSize window;
        double scale;
        QPointF origin;
    };
    const Case cases[] = {
        {{320, 480}, 1.0, {0, 0}},      {{640, 960}, 2.0, {0, 0}},
        {{1000, 480}, 1.0, {340, 0}},    // wide: bars left and right
        {{300, 900}, 0.9375, {0, 225}},  // tall: bars above and below
        {{643, 960}, 2.0, {1, 0}},       // an odd pixel goes to the margins, rounded down
    };
    for (const Case& c : cases) {
        const PointScale s = PointScale::fit(c.window);
        EXPECT_DOUBLE_EQ(s.pixelsPerPoint(), c.scale) << c.window.width() << "x" << c.window.height();
        EXPECT_EQ(s.origin(), c.origin) << c.window.width() << "x" << c.window.height();
        EXPECT_LE(s.screenRectInWindow().right(), c.window.width() + 1e-9);
        EXPECT_LE(s.screenRectInWindow().bottom(), c.window.height() + 1e-9);
    }
    EXPECT_DOUBLE_EQ(PointScale::fit({0, 0}).pixelsPerPoint(), 1.0);
}

TEST(PointScale, MapsFramesToPixelsAndTapsBackToPoints) {
    const PointScale s(1.5, QPointF(40, 10));
    // Frames that touch in points touch in pixels: edges are rounded, not sizes.
    const QRect a = s.toPixels(QRectF(0, 0, 13, 10));
    const QRect b = s.toPixels(QRectF(13, 0, 13, 10));
    EXPECT_EQ(a.right() + 1, b.left());
    EXPECT_EQ(s.toPixels(QRectF(280, 446, 20, 20)), QRect(420, 669, 30, 30));
    EXPECT_EQ(s.toWindowPixels(QRectF(280, 446, 20, 20)), QRect(460, 679, 30, 30));
    const QPointF tap = s.toPoints(QPointF(460 + 15, 679 + 15));
    EXPECT_DOUBLE_EQ(tap.x(), 290.0);
    EXPECT_DOUBLE_EQ(tap.y(), 456.0);
    // Screen scale is device pixels per point: window scale times the pixel ratio.
    EXPECT_DOUBLE_EQ(PointScale(1.0, {}, 2.0).screenScale(), 2.0);
    EXPECT_DOUBLE_EQ(PointScale(1.25, {}, 2.0).screenScale(), 2.5);
    PointScale::setCurrent(PointScale(1.0, {}, 2.0));
    EXPECT_DOUBLE_EQ(platform::ScreenScale::scale(), 2.0);
    PointScale::setCurrent(PointScale());
}

TEST(PointScale, WindowKeepsEveryFrameAndTapInPointsAtAnySize) {
    testsupport::guiApp();
    ui::Window window;
    auto* root = new ui::ViewController();
    auto* button = new QPushButton(QStringLiteral("Info"));
    root->addSubview(button, QRectF(280, 446, 20, 20));
    window.setRootViewController(root);
    window.show();
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });

    for (const QSize size : {QSize(320, 480), QSize(640, 960), QSize(1200, 700), QSize(500, 1400)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        const PointScale& s = window.pointScale();
        EXPECT_EQ(window.screen()->geometry(), s.toWindowPixels(QRectF(QPointF(), s.canvasSize())));
        // The phone's frame; in a landscape window's wider screen, kept about the middle.
        const QRectF frame = root->frames()->placed(QRectF(280, 446, 20, 20), s.screenWidth());
        if (!s.isLandscape()) {
            EXPECT_EQ(frame, QRectF(280, 446, 20, 20));
        }
        EXPECT_EQ(button->geometry(), s.toPixels(frame)) << size.width() << "x" << size.height();
        EXPECT_DOUBLE_EQ(PointScale::current().pixelsPerPoint(), s.pixelsPerPoint());
        // A click at the button's centre in window pixels lands on the button.
        const QPointF centreInWindow = s.screenRectInWindow().topLeft() + frame.center() * s.pixelsPerPoint();
        QWidget* hit = window.childAt(centreInWindow.toPoint());
        EXPECT_EQ(hit, button) << size.width() << "x" << size.height();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    EXPECT_EQ(clicks, 4);
}

TEST(PointScale, WindowOpensAtEightyPercentOfTheDisplayOrFillsAPhone) {
    // A desktop's display: its own shape, where the camera fills the window.
    EXPECT_EQ(ui::Window::preferredSize(QSize(1920, 1050)), QSize(1536, 840));
    // A display too narrow for 80% of its height in the screen's shape gets 90% of its width.
    EXPECT_EQ(ui::Window::preferredSize(QSize(700, 1400)).width(), 630);
    // Phone-sized displays get the whole screen.
    EXPECT_TRUE(ui::Window::preferredSize(QSize(360, 720)).isEmpty());
    EXPECT_TRUE(ui::Window::preferredSize(QSize(480, 800)).isEmpty());
}

namespace {
struct FillingRoot : ui::ViewController {
    bool fillsCanvas() const override { return true; }
};

// A 1280 x 720 window whose root fills it, as the camera does.
struct LandscapeShown : testsupport::GuiAppFirst {
    LandscapeShown() {
        window.setRootViewController(root);
        window.resize(1280, 720);
        window.show();
        QCoreApplication::processEvents();
    }
    ui::Window window;
    FillingRoot* root = new FillingRoot();
};
}  // namespace

TEST(PointScale, LandscapeWindowGivesTheRootTheWholeWindowAndPresentedScreensAReadableWidth) {
    LandscapeShown shown;
    ui::Window& window = shown.window;
    FillingRoot* root = shown.root;
    EXPECT_EQ(root->geometry(), QRect(0, 0, 1280, 720));
    // A presented screen laid out for the phone: a list across it, a button in the middle and
    // one against its right edge.
    auto* sheet = new ui::ViewController();
    auto* list = new QWidget();
    auto* middle = new QPushButton();
    auto* corner = new QPushButton();
    sheet->addSubview(list, QRectF(0, 44, 320, 300));
    sheet->addSubview(middle, QRectF(110, 360, 100, 40));
    sheet->addSubview(corner, QRectF(270, 430, 50, 50));
    ASSERT_TRUE(root->presentModalViewController(sheet, false));
    // A readable width, centred; the list spans it, the buttons keep their size, the one in the
    // middle stays there, the other against the edge.
    const auto laidOut = [&] {
        const QRect g = sheet->geometry();
        const double ppp = window.pointScale().pixelsPerPoint();
        EXPECT_LE(std::abs((window.width() - g.right() - 1) - g.left()), 2) << g.x() << " " << g.width();
        EXPECT_EQ(g.height(), window.height());
        EXPECT_NEAR(g.width(), std::max(ui::PointScale::kReadableWidth, 320 * ppp), ppp + 1);
        EXPECT_EQ(list->geometry().left(), 0);
        EXPECT_NEAR(list->width(), g.width(), 1);
        EXPECT_NEAR(middle->width(), 100 * ppp, 1);
        EXPECT_NEAR(middle->geometry().center().x(), g.width() / 2.0, 2);
        EXPECT_NEAR(corner->geometry().right() + 1, g.width(), 1);
    };
    laidOut();
    // Follows the window while shown, also to a size where 320 points are already readable.
    window.resize(1600, 720);
    QCoreApplication::processEvents();
    EXPECT_EQ(root->geometry(), QRect(0, 0, 1600, 720));
    laidOut();
    window.resize(1920, 1080);
    QCoreApplication::processEvents();
    laidOut();
    EXPECT_EQ(sheet->width(), 720);
    // A portrait window is the phone's screen again, every frame as the phone has it.
    window.resize(360, 720);
    QCoreApplication::processEvents();
    EXPECT_EQ(root->width(), 360);
    EXPECT_EQ(sheet->geometry(), root->geometry());
    const ui::PointScale& s = window.pointScale();
    EXPECT_EQ(list->geometry(), s.toPixels(QRectF(0, 44, 320, 300)));
    EXPECT_EQ(middle->geometry(), s.toPixels(QRectF(110, 360, 100, 40)));
    EXPECT_EQ(corner->geometry(), s.toPixels(QRectF(270, 430, 50, 50)));
}

TEST(PointScale, AScreenThatFillsTheWindowWidensItsStackWhileOnTop) {
    LandscapeShown shown;
    ui::Window& window = shown.window;
    FillingRoot* root = shown.root;
    auto* nav = new ui::NavigationController(new ui::ViewController());
    ASSERT_TRUE(root->presentModalViewController(nav, false));
    const int readable = nav->width();
    EXPECT_LT(readable, 1280);
    // The player over the library: the whole window, also after a resize, then the readable
    // width again once it has gone.
    ASSERT_TRUE(nav->pushViewController(new FillingRoot(), false));
    QCoreApplication::processEvents();
    EXPECT_EQ(nav->geometry(), QRect(0, 0, 1280, 720));
    EXPECT_EQ(nav->topViewController()->width(), 1280);
    window.resize(1600, 720);
    QCoreApplication::processEvents();
    EXPECT_EQ(nav->geometry(), QRect(0, 0, 1600, 720));
    ASSERT_TRUE(nav->popViewControllerAnimated(false));
    QCoreApplication::processEvents();
    EXPECT_EQ(nav->width(), readable);
    EXPECT_LE(std::abs((window.width() - nav->geometry().right() - 1) - nav->geometry().left()), 2);
}

TEST(PointScale, FullScreenTogglesWithF11) {
    testsupport::guiApp();
    ui::Window window;
    window.setRootViewController(new ui::ViewController());
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_FALSE(window.isFullScreen());
    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_TRUE(window.windowState() & Qt::WindowFullScreen);
    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_FALSE(window.windowState() & Qt::WindowFullScreen);
}

// Work held back for the first picture: never run inline, run after the window has been painted
// (not before), run soon for a window that is not shown or has painted already, and dropped with
// its context.
TEST(PointScale, WorkHeldForTheFirstPaintRunsAfterIt) {
    testsupport::guiApp();
    ui::Window window;
    window.setRootViewController(new ui::ViewController());
    bool hiddenRan = false;
    window.afterFirstPaint(&window, [&] { hiddenRan = true; });
    EXPECT_FALSE(hiddenRan);
    EXPECT_TRUE(QTest::qWaitFor([&] { return hiddenRan; }, 5000));

    bool painted = false, ran = false, ranAfterPaint = false;
    QObject::connect(&window, &ui::Window::firstPaint, [&] { painted = true; });
    window.show();
    {
        QObject gone;
        window.afterFirstPaint(&gone, [] { ADD_FAILURE() << "ran for a context that was gone"; });
    }
    window.afterFirstPaint(&window, [&] {
        ran = true;
        ranAfterPaint = painted;
    });
    EXPECT_FALSE(ran);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran; }, 5000));
    EXPECT_TRUE(ranAfterPaint);

    bool later = false;
    window.afterFirstPaint(&window, [&] { later = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 5000));
}
