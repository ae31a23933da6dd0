#include "ui/FrameLayout.h"
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
        EXPECT_EQ(button->geometry(), s.toPixels(QRectF(280, 446, 20, 20))) << size.width() << "x" << size.height();
        EXPECT_DOUBLE_EQ(PointScale::current().pixelsPerPoint(), s.pixelsPerPoint());
        // A click at the button's centre in window pixels lands on the button.
        const QPointF centreInWindow = s.screenRectInWindow().topLeft() + QPointF(290, 456) * s.pixelsPerPoint();
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
}  // namespace

TEST(PointScale, LandscapeWindowGivesTheRootTheWholeWindowAndCentresWhatIsPresented) {
    testsupport::guiApp();
    ui::Window window;
    auto* root = new FillingRoot();
    window.setRootViewController(root);
    window.resize(1280, 720);
    window.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(root->geometry(), QRect(0, 0, 1280, 720));
    auto* sheet = new ui::ViewController();
    ASSERT_TRUE(root->presentModalViewController(sheet, false));
    // 320 points at 1.5 pixels each, centred.
    const auto centred = [&] {
        const QRect g = sheet->geometry();
        return std::abs((window.width() - g.right() - 1) - g.left()) <= 2 && g.height() == window.height();
    };
    EXPECT_TRUE(centred()) << sheet->geometry().x() << " " << sheet->geometry().width();
    EXPECT_EQ(sheet->width(), 480);
    // Follows the window while shown; a portrait window is the phone's screen again.
    window.resize(1600, 720);
    QCoreApplication::processEvents();
    EXPECT_EQ(root->geometry(), QRect(0, 0, 1600, 720));
    EXPECT_TRUE(centred()) << sheet->geometry().x();
    window.resize(360, 720);
    QCoreApplication::processEvents();
    EXPECT_EQ(root->width(), 360);
    EXPECT_EQ(sheet->geometry(), root->geometry());
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
