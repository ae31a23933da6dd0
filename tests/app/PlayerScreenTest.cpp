#include "AVPlayerDemoPlaybackView.h"
#include "TavrioAVPlayerViewController.h"

#include <QLabel>
#include "ui/PointScale.h"

#include "media/Asset.h"
#include "support/TestPattern.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include "support/FocusRing.h"
#include "support/GuiApp.h"
#include "support/TestSupport.h"

#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>
#include <cmath>

namespace {

std::string makeMovie(const testsupport::TempDir& dir, int frames) {
    media::testpattern::MovieOptions o;
    o.writer.width = 160;
    o.writer.height = 120;
    o.frameCount = frames;
    const std::string path = (dir.path() / "movie.mov").string();
    media::Error e;
    if (!media::testpattern::makeMovie(path, o, &e)) ADD_FAILURE() << e.description;
    return path;
}

// The player screen pushed onto a navigation stack in a shown window, silent.
struct PlayerShown : testsupport::GuiAppFirst {
    explicit PlayerShown(int frames = 60) {
        window.resize(320, 480);
        root = new ui::ViewController();
        nav = new ui::NavigationController(root);
        window.setRootViewController(nav);
        window.show();
        auto item = media::PlayerItem::playerItemWithAsset(media::Asset::open(makeMovie(dir, frames)));
        screen = new TavrioAVPlayerViewController(std::move(item), nullptr);
        nav->pushViewController(screen, false);
        QApplication::setActiveWindow(&window);
    }
    bool spin(const std::function<bool()>& f) { return testsupport::spinUntil(f, 20000); }
    QToolButton* button(const QString& name) {
        for (auto* b : screen->findChildren<QToolButton*>())
            if (b->accessibleName() == name) return b;
        return nullptr;
    }
    media::Player& player() { return *screen->player(); }
    void waitPlaying() {
        ASSERT_TRUE(spin([&] { return player().rate() == 1; })) << "plays once ready";
    }

    testsupport::TempHome home;
    testsupport::TempDir dir;
    ui::Window window;
    ui::ViewController* root;
    ui::NavigationController* nav;
    QPointer<TavrioAVPlayerViewController> screen;
};

TEST(PlayerScreen, PlaysByItselfAndTheBarsFollowTheRate) {
    PlayerShown s;
    s.waitPlaying();
    ASSERT_TRUE(s.spin([&] { return s.screen->pauseBar()->isVisible(); }));
    EXPECT_FALSE(s.screen->playBar()->isVisible());

    QToolButton* pause = s.button("Pause");
    ASSERT_TRUE(pause);
    QTest::mouseClick(pause, Qt::LeftButton);
    EXPECT_EQ(s.player().rate(), 0);
    ASSERT_TRUE(s.spin([&] { return s.screen->playBar()->isVisible(); }));
    EXPECT_FALSE(s.screen->pauseBar()->isVisible());

    // Space plays and pauses.
    s.screen->setFocus();
    QTest::keyClick(s.screen, Qt::Key_Space);
    EXPECT_EQ(s.player().rate(), 1);
    ASSERT_TRUE(s.spin([&] { return s.screen->pauseBar()->isVisible(); }));
    QTest::keyClick(s.screen, Qt::Key_Space);
    EXPECT_EQ(s.player().rate(), 0);

    // The picture reaches the view, aspect-fit.
    ASSERT_TRUE(s.spin([&] { return s.screen->playbackView()->picturesShown() > 0; }));
    EXPECT_EQ(AVPlayerDemoPlaybackView::fitRect({160, 120}, {320, 480}), QRect(0, 120, 320, 240));
    EXPECT_EQ(AVPlayerDemoPlaybackView::fitRect({120, 160}, {400, 300}), QRect(87, 0, 225, 300));
    EXPECT_TRUE(s.button("Play"));
    EXPECT_EQ(s.screen->scrubber()->accessibleName(), "Position");
}

TEST(PlayerScreen, TimeObserverIntervalIsHalfAScrubberPoint) {
    PlayerShown s;
    s.waitPlaying();
    // 2 s over the scrubber's width in points.
    const double width = s.screen->scrubber()->width() / ui::PointScale::current().pixelsPerPoint();
    EXPECT_NEAR(s.screen->timeObserverInterval().seconds(), 0.5 * 2 / width, 1e-4);
    EXPECT_TRUE(s.screen->hasTimeObserver());
    // The scrubber follows playback.
    ASSERT_TRUE(s.spin([&] { return s.screen->scrubber()->value() > 0; }));
}

TEST(PlayerScreen, ScrubbingSavesAndRestoresTheRate) {
    PlayerShown s;
    s.waitPlaying();
    QSlider* scrubber = s.screen->scrubber();

    scrubber->setSliderDown(true);  // a finger on the scrubber
    EXPECT_EQ(s.player().rate(), 0);
    EXPECT_EQ(s.screen->restoreAfterScrubbingRate(), 1);
    EXPECT_FALSE(s.screen->hasTimeObserver());
    EXPECT_TRUE(s.screen->isPlaying()) << "the saved rate counts as playing";
    scrubber->setValue(scrubber->maximum() / 2);
    const double tolerance = 0.5 * 2 / (scrubber->width() / ui::PointScale::current().pixelsPerPoint()) + 1e-3;
    ASSERT_TRUE(s.spin([&] { return std::abs(s.player().currentTime().seconds() - 1.0) <= tolerance + 1e-6; }));
    scrubber->setSliderDown(false);
    EXPECT_EQ(s.player().rate(), 1);
    EXPECT_EQ(s.screen->restoreAfterScrubbingRate(), 0);
    EXPECT_TRUE(s.screen->hasTimeObserver());

    // A paused movie stays paused.
    s.screen->pause();
    scrubber->setSliderDown(true);
    scrubber->setValue(scrubber->maximum() / 4);
    scrubber->setSliderDown(false);
    EXPECT_EQ(s.player().rate(), 0);
    EXPECT_FALSE(s.screen->isPlaying());
    ASSERT_TRUE(s.spin([&] { return std::abs(s.player().currentTime().seconds() - 0.5) <= tolerance + 1e-6; }));
}

TEST(PlayerScreen, VerticalSwipesHideAndShowTheBarAndThePanel) {
    PlayerShown s;
    s.waitPlaying();
    QWidget* panel = s.screen->lowerUI();
    const QPointF lower(s.screen->width() / 2.0, s.screen->height() * 0.9);
    const QPointF upper(s.screen->width() / 2.0, s.screen->height() * 0.1);

    s.screen->handleSwipe(true, lower);  // visible already: nothing
    EXPECT_TRUE(panel->isVisible());
    s.screen->handleSwipe(false, lower);
    ASSERT_TRUE(s.spin([&] { return panel->isHidden(); }));
    s.screen->handleSwipe(false, lower);  // hidden already: nothing
    EXPECT_TRUE(panel->isHidden());
    s.screen->handleSwipe(true, lower);
    EXPECT_TRUE(panel->isVisible());
    ASSERT_TRUE(s.spin([&] { return panel->geometry().bottom() < s.screen->height(); })) << "slides back in";

    // A mouse drag up in the upper half hides the navigation bar; down shows it again.
    const QPoint a = upper.toPoint(), b = (upper + QPointF(0, -40)).toPoint();
    QTest::mousePress(s.screen, Qt::LeftButton, {}, b + QPoint(0, 40));
    QTest::mouseRelease(s.screen, Qt::LeftButton, {}, b);
    ASSERT_TRUE(s.spin([&] { return s.nav->isNavigationBarHidden() && s.nav->navigationBar()->isHidden(); }));
    QTest::mousePress(s.screen, Qt::LeftButton, {}, a);
    QTest::mouseRelease(s.screen, Qt::LeftButton, {}, a + QPoint(60, 10));  // sideways: not a swipe
    EXPECT_TRUE(s.nav->isNavigationBarHidden());
    QTest::mousePress(s.screen, Qt::LeftButton, {}, a);
    QTest::mouseRelease(s.screen, Qt::LeftButton, {}, a + QPoint(0, 40));
    ASSERT_TRUE(s.spin([&] { return s.nav->navigationBar()->isVisible(); }));
}

TEST(PlayerScreen, ArrowsSeekFiveSecondsAndEscapeGoesBack) {
    PlayerShown s(360);  // 12 s
    s.waitPlaying();
    s.screen->pause();
    s.player().seekToTime(media::Time(2, 1));
    ASSERT_TRUE(s.spin([&] { return s.player().currentTime() == media::Time(2, 1); }));
    s.screen->setFocus();
    QTest::keyClick(s.screen, Qt::Key_Right);
    ASSERT_TRUE(s.spin([&] { return std::abs(s.player().currentTime().seconds() - 7) < 1e-6; }));
    QTest::keyClick(s.screen, Qt::Key_Left);
    QTest::keyClick(s.screen, Qt::Key_Left);
    ASSERT_TRUE(s.spin([&] { return s.player().currentTime() == media::Time::zero(); })) << "not before the start";

    QTest::keyClick(s.screen, Qt::Key_Escape);
    ASSERT_TRUE(s.spin([&] { return s.screen.isNull(); })) << "back deletes the screen";
    EXPECT_EQ(s.nav->topViewController(), s.root);
}

TEST(PlayerScreen, TimesBesideTheScrubberAClickOnItsTrackSeeks) {
    PlayerShown s(1950);  // 65 s
    s.waitPlaying();
    s.screen->pause();
    ASSERT_TRUE(s.spin([&] { return s.screen->totalLabel()->text() == "1:05"; }));
    EXPECT_TRUE(s.screen->elapsedLabel()->isVisible());
    EXPECT_EQ(TavrioAVPlayerViewController::timeText(3723.9), "1:02:03");

    // A click three quarters along the track goes there, not a page step towards it.
    QSlider* scrubber = s.screen->scrubber();
    QTest::mouseClick(scrubber, Qt::LeftButton, {}, QPoint(scrubber->width() * 3 / 4, scrubber->height() / 2));
    ASSERT_TRUE(s.spin([&] { return std::abs(s.player().currentTime().seconds() - 48.75) < 2; }))
        << s.player().currentTime().seconds();
    EXPECT_EQ(s.player().rate(), 0) << "a paused movie stays paused";
    // The elapsed time says where.
    const QStringList shown = s.screen->elapsedLabel()->text().split(':');
    ASSERT_EQ(shown.size(), 2);
    EXPECT_NEAR(shown[0].toInt() * 60 + shown[1].toInt(), s.player().currentTime().seconds(), 1.5);
}

TEST(PlayerScreen, FullScreenByKeyButtonAndDoubleClickAndBack) {
    PlayerShown s;
    s.waitPlaying();
    AVPlayerDemoPlaybackView* picture = s.screen->playbackView();
    s.screen->setFocus();
    QTest::keyClick(s.screen, Qt::Key_F);
    ASSERT_TRUE(s.screen->isFullScreen());
    QWidget* host = picture->window();
    EXPECT_NE(host, &s.window);
    EXPECT_TRUE(host->isFullScreen());
    // Space still plays and pauses there; F comes back.
    QTest::keyClick(host, Qt::Key_Space);
    EXPECT_EQ(s.player().rate(), 0);
    QTest::keyClick(host, Qt::Key_F);
    EXPECT_FALSE(s.screen->isFullScreen());
    EXPECT_EQ(picture->window(), &s.window);
    EXPECT_TRUE(picture->isVisible());

    QTest::mouseClick(s.screen->fullScreenButton(), Qt::LeftButton);
    ASSERT_TRUE(s.screen->isFullScreen());
    QTest::mouseDClick(picture, Qt::LeftButton);
    EXPECT_FALSE(s.screen->isFullScreen());
    QTest::mouseDClick(picture, Qt::LeftButton, {}, picture->rect().center() - QPoint(0, picture->height() / 4));
    ASSERT_TRUE(s.screen->isFullScreen());
    QTest::keyClick(picture->window(), Qt::Key_Escape);
    EXPECT_FALSE(s.screen->isFullScreen());
    EXPECT_EQ(s.nav->topViewController(), s.screen) << "Escape leaves full screen first";

    // Closed by the window manager, the full-screen window gives the picture back.
    QTest::keyClick(s.screen, Qt::Key_F);
    ASSERT_TRUE(s.screen->isFullScreen());
    picture->window()->close();
    EXPECT_FALSE(s.screen->isFullScreen());
    EXPECT_EQ(picture->window(), &s.window);
    QTest::keyClick(s.screen, Qt::Key_Escape);
    ASSERT_TRUE(s.spin([&] { return s.screen.isNull(); }));
}

TEST(PlayerScreen, AnItemThatCannotPlayLeavesTheScreenOpen) {
    testsupport::GuiAppFirst app;
    ui::Window window;
    auto* root = new ui::ViewController();
    auto* nav = new ui::NavigationController(root);
    window.setRootViewController(nav);
    window.show();
    auto* screen = new TavrioAVPlayerViewController(media::PlayerItem{}, nullptr);
    nav->pushViewController(screen, false);
    QCoreApplication::processEvents();
    EXPECT_EQ(screen->player()->status(), media::Player::Status::Failed);
    EXPECT_TRUE(screen->playBar()->isVisible());
    screen->play();
    EXPECT_EQ(screen->player()->rate(), 0);
}

}  // namespace

TEST(PlayerScreen, TheKeyboardIsSeenOnThePictureAndOnEveryControl) {
    PlayerShown s;
    // The player starts by itself once ready, and its bar swaps Play for Pause then: paused
    // first, so that no control changes between the pictures the ring is measured by.
    s.waitPlaying();
    s.screen->pause();
    ASSERT_TRUE(s.spin([&] { return s.screen->playBar()->isVisible(); }));
    s.screen->focusFirstControl();
    const QStringList stops = testsupport::expectRingOnEveryTabStop(s.nav);
    for (const char* name : {"TavrioAVPlayerViewController", "Full screen", "Done"})
        EXPECT_TRUE(stops.join(' ').contains(QLatin1String(name))) << name << ": " << stops.join(", ").toStdString();
}
