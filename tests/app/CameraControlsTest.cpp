#include "CameraOverlays.h"
#include "RDButton.h"
#include "TavrioPreviewView.h"
#include "TavrioSlider.h"

#include "media/FFmpeg.h"
#include "media/capture/PreviewSlot.h"
#include "ui/PointScale.h"

#include "support/GuiApp.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Values : TavrioSliderViewDelegate {
    std::vector<float> got;
    void zoomSliderChanged(float v) override { got.push_back(v); }
};

struct SliderFixture : testsupport::GuiAppFirst, ::testing::Test {
    SliderFixture() {
        ui::PointScale::setCurrent(ui::PointScale(1.0, {}));
        slider.setDelegate(&values);
        slider.resize(300, 23);
    }
    float ballX() const { return float(slider.ballFrame().x()); }
    float ballCentre() const { return float(slider.ballFrame().center().x()); }
    Values values;
    TavrioSlider slider;
};

}  // namespace

TEST_F(SliderFixture, StartsAtZeroAndDragsTheBallByItsLeftEdge) {
    EXPECT_EQ(ballX(), TavrioSlider::kLeftMin);
    EXPECT_TRUE(values.got.empty());
    slider.touchesBegan(ballCentre());
    EXPECT_TRUE(values.got.empty()) << "the ball does not move at touch-down";
    slider.touchesMoved(140);
    ASSERT_EQ(values.got.size(), 1u);
    EXPECT_EQ(values.got.back(), 0.5f);
    EXPECT_EQ(ballX(), 140.0f);
    // Past either end: the ball stays where the finger last was inside the track.
    slider.touchesMoved(260);
    slider.touchesMoved(10);
    EXPECT_EQ(values.got.size(), 1u);
    EXPECT_EQ(ballX(), 140.0f);
    slider.touchesMoved(252);
    EXPECT_GT(values.got.back(), 0.99f);
    EXPECT_LT(values.got.back(), 1.0f);
    slider.touchesEnded();
    // A touch that begins and ends without moving reports nothing.
    slider.moveSliderBallToPoint(100);
    const size_t n = values.got.size();
    slider.touchesBegan(ballCentre());
    slider.touchesEnded();
    EXPECT_EQ(values.got.size(), n);
}

TEST_F(SliderFixture, APressOnTheTrackBringsTheBallThereToBeDragged) {
    const float at = ballCentre() + 100;
    slider.touchesBegan(at);
    ASSERT_EQ(values.got.size(), 1u);
    EXPECT_NEAR(ballCentre(), at, 1e-3);
    slider.touchesMoved(150);
    EXPECT_EQ(values.got.size(), 2u);
    EXPECT_NEAR(slider.ballFrame().x(), 150, 1e-3);
    slider.touchesEnded();
    // Near the ball a press only grabs it.
    slider.touchesBegan(ballCentre() + 29);
    EXPECT_EQ(values.got.size(), 2u);
    // Two fingers at once are ignored, whatever they do.
    slider.touchesMoved(100, 2);
    slider.touchesBegan(200, 2);
    EXPECT_EQ(values.got.size(), 2u);
}

TEST_F(SliderFixture, EndButtonsStepWithGrowingStepsUntilTheFingerMoves) {
    // Before any touch has ended the factor is 0: the first step is 5 points.
    slider.moveSliderBallToPoint(100);
    slider.touchesBegan(260);
    EXPECT_FLOAT_EQ(ballX(), 105.0f);
    EXPECT_TRUE(slider.isRepeating());
    slider.touchesEnded();
    EXPECT_FALSE(slider.isRepeating());

    slider.moveSliderBallToPoint(100);
    slider.touchesBegan(260);  // factor 1 after the touch end
    std::vector<float> steps;
    float last = 100;
    auto record = [&] {
        steps.push_back(ballX() - last);
        last = ballX();
    };
    record();
    for (int i = 0; i < 3; ++i) {
        slider.incrementButtonPressed();  // what the 0.1 s repeat does
        record();
    }
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_NEAR(steps[0], 6.0f, 1e-4);
    EXPECT_NEAR(steps[1], 7.4f, 1e-4);
    EXPECT_NEAR(steps[2], 9.36f, 1e-4);
    EXPECT_NEAR(steps[3], 12.104f, 1e-4);
    // Any movement stops the repeat; a step already due then does nothing.
    slider.touchesMoved(300);
    EXPECT_FALSE(slider.isRepeating());
    const float stopped = ballX();
    slider.incrementButtonPressed();
    EXPECT_EQ(ballX(), stopped);
    slider.touchesEnded();

    slider.moveSliderBallToPoint(200);
    slider.touchesBegan(0);
    last = 200;
    steps.clear();
    auto recordDown = [&] {
        steps.push_back(last - ballX());
        last = ballX();
    };
    recordDown();
    for (int i = 0; i < 3; ++i) {
        slider.decrementButtonPressed();
        recordDown();
    }
    EXPECT_NEAR(steps[0], 6.0f, 1e-4);
    EXPECT_NEAR(steps[1], 7.6f, 1e-4);
    EXPECT_NEAR(steps[2], 10.16f, 1e-4);
    EXPECT_NEAR(steps[3], 14.256f, 1e-4);
    slider.touchesEnded();
}

TEST_F(SliderFixture, HeldEndKeepsReportingTheEndValue) {
    slider.moveSliderBallToPoint(250);
    values.got.clear();
    slider.touchesBegan(TavrioSlider::kRightMax);
    slider.incrementButtonPressed();
    slider.incrementButtonPressed();
    EXPECT_EQ(values.got, (std::vector<float>{1.0f, 1.0f, 1.0f}));
    EXPECT_EQ(ballX(), TavrioSlider::kRightMax);
    EXPECT_TRUE(slider.isRepeating());
    slider.touchesEnded();
    slider.touchesBegan(TavrioSlider::kLeftMin);
    slider.touchesEnded();
    EXPECT_EQ(slider.acceleratingFactor(), 1.0f);
}

TEST_F(SliderFixture, WheelKeysAndMouseMoveTheSameBall) {
    slider.nudge(1);
    EXPECT_NEAR(values.got.back(), 0.05f, 1e-6);
    slider.nudge(-3);
    EXPECT_EQ(values.got.back(), 0.0f);
    slider.nudge(40);
    EXPECT_EQ(values.got.back(), 1.0f);
    // Wheel notches are 120 units; smaller deltas add up to one.
    const size_t before = values.got.size();
    slider.scrollBy(-60);
    EXPECT_EQ(values.got.size(), before);
    slider.scrollBy(-60);
    EXPECT_NEAR(values.got.back(), 0.95f, 1e-6);
    slider.moveSliderBallToPoint(TavrioSlider::kLeftMin);
    // A real mouse drag, at one pixel per point.
    slider.show();
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(int(ballCentre()), 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(140, 10), slider.mapToGlobal(QPointF(140, 10)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &move);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(140, 10));
    EXPECT_EQ(values.got.back(), 0.5f);
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_NEAR(values.got.back(), 0.55f, 1e-6);
}

TEST(RecordButton, HighlightBlinkAndDisableChangeOnlyTheirOwnPictures) {
    testsupport::guiApp();
    RDButton button;
    const qint64 idleBackground = button.backgroundImage().cacheKey();
    EXPECT_FALSE(button.backgroundImage().isNull());
    EXPECT_FALSE(button.dotImage().isNull());
    button.setHighlighted(true);
    EXPECT_NE(button.backgroundImage().cacheKey(), idleBackground);
    button.setHighlighted(false);
    EXPECT_EQ(button.backgroundImage().cacheKey(), idleBackground);

    // Stopping a button that is not blinking leaves the plain dot.
    button.stopRecordingAnimation();
    EXPECT_FALSE(button.isDotGlowing());
    button.animateRecordButton();
    EXPECT_TRUE(button.isBlinking());
    // Half a cycle later the dot glows.
    QTRY_VERIFY_WITH_TIMEOUT(button.isDotGlowing(), 5000);
    button.stopRecordingAnimation();
    EXPECT_FALSE(button.isBlinking());
    EXPECT_FALSE(button.isDotGlowing());

    const qint64 dot = button.dotImage().cacheKey();
    button.setEnabled(false);
    EXPECT_EQ(button.backgroundImage().cacheKey(), idleBackground);
    EXPECT_EQ(button.dotImage().cacheKey(), dot);

    button.setEnabled(true);
    button.resize(98, 38);
    QSignalSpy pressed(&button, &RDButton::pressed), clicked(&button, &RDButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(clicked.count(), 1);
}

namespace {

struct Taps : TavrioPreviewViewDelegate {
    std::vector<QPointF> focused;
    int doubleTaps = 0;
    void tapToFocus(QPointF p) override { focused.push_back(p); }
    void handleDoubleTap() override { ++doubleTaps; }
};

// A grey picture of one level, as the capture session puts them in the slot.
media::VideoSample greyPicture(int w, int h, uint8_t luma, int64_t timeNs) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    if (av_frame_get_buffer(f, 0) < 0) throw std::runtime_error("no memory");
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < (p ? h / 2 : h); ++y)
            memset(f->data[p] + y * f->linesize[p], p ? 128 : luma, p ? w / 2 : w);
    media::VideoSample s;
    s.frame = media::shareFrame(f);
    s.timeNs = timeNs;
    return s;
}

}  // namespace

TEST(PreviewTaps, SingleAndDoubleTapsAreToldApart) {
    testsupport::guiApp();
    ui::PointScale::setCurrent(ui::PointScale(1.0, {}));
    QWidget screen;
    screen.resize(320, 480);
    TavrioPreviewView view(&screen);
    view.setGeometry(0, 0, 320, 480);
    Taps taps;
    view.setDelegate(&taps);

    view.touchesBegan({100, 200}, 1);
    EXPECT_EQ(view.pendingTap(), TavrioPreviewView::PendingTap::Single);
    EXPECT_EQ(view.pendingTapDelayMs(), 300);
    EXPECT_TRUE(taps.focused.empty()) << "a single tap waits for a possible second";
    view.deliverPendingTap();
    ASSERT_EQ(taps.focused.size(), 1u);
    EXPECT_EQ(taps.focused[0], QPointF(100, 200));

    // A double tap drops the waiting single tap.
    view.touchesBegan({50, 60}, 1);
    view.touchesBegan({50, 60}, 2);
    EXPECT_EQ(view.pendingTap(), TavrioPreviewView::PendingTap::Double);
    EXPECT_EQ(view.pendingTapDelayMs(), 300);
    view.deliverPendingTap();
    EXPECT_EQ(taps.doubleTaps, 1);
    EXPECT_EQ(taps.focused.size(), 1u);

    // Two fingers, or a third click, do nothing.
    view.touchesBegan({50, 60}, 1, 2);
    view.touchesBegan({50, 60}, 3);
    EXPECT_EQ(view.pendingTap(), TavrioPreviewView::PendingTap::None);

    // A real click, in the superview's points; the timer delivers it.
    screen.show();
    view.move(0, 0);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(30, 40));
    EXPECT_EQ(view.pendingTap(), TavrioPreviewView::PendingTap::Single);
    QTRY_COMPARE_WITH_TIMEOUT(taps.focused.size(), size_t(2), 5000);
    EXPECT_EQ(taps.focused[1], QPointF(30, 40));
}

TEST(PreviewDrawing, ShowsTheNewestPictureUprightBetweenItsStrips) {
    testsupport::guiApp();
    ui::PointScale::setCurrent(ui::PointScale(1.0, {}));
    media::PreviewSlot slot;
    TavrioPreviewView view;
    view.resize(320, 480);
    view.setMounting(90);
    view.show();
    view.setPreviewSlot(&slot);
    // Two pictures before the UI runs: only the newest is ever drawn.
    slot.put(greyPicture(128, 72, 16, 1));
    slot.put(greyPicture(128, 72, 235, 2));
    QTRY_VERIFY_WITH_TIMEOUT(view.stats().paintedPictures >= 1, 5000);
    QImage shown = view.currentImage();
    ASSERT_EQ(shown.size(), QSize(320, 480));
    EXPECT_EQ(qGreen(shown.pixel(160, 240)), 255) << "the newest picture (white) is shown";
    // A 16:9 picture turned a quarter: 270 wide between 25-point strips.
    EXPECT_EQ(qGreen(shown.pixel(10, 240)), 0);
    EXPECT_EQ(qGreen(shown.pixel(310, 240)), 0);
    EXPECT_EQ(qGreen(shown.pixel(30, 240)), 255);
    EXPECT_EQ(view.pictureSize(), QSizeF(128, 72));

    // Zoom 2 about the centre: the picture now covers the strips.
    const uint64_t painted = view.stats().paintedPictures;
    view.setPreviewScale(2.0f);
    QTRY_VERIFY_WITH_TIMEOUT(view.stats().paintedPictures > painted, 5000);
    shown = view.currentImage();
    EXPECT_EQ(qGreen(shown.pixel(10, 240)), 255);
    EXPECT_EQ(view.stats().latenciesNs.size(), size_t(view.stats().paintedPictures));

    view.setPreviewSlot(nullptr);
    EXPECT_TRUE(view.currentImage().isNull());
}

TEST(FocusBox, FlashesAndDisappears) {
    testsupport::guiApp();
    QWidget screen;
    FocusBoxView box(&screen);
    EXPECT_FALSE(box.isVisible());
    screen.show();
    box.flash();
    EXPECT_TRUE(box.isVisibleTo(&screen));
    EXPECT_EQ(box.opacity(), 1.0);
    EXPECT_TRUE(box.isFlashing());
    QTRY_VERIFY_WITH_TIMEOUT(!box.isFlashing(), 5000);
    EXPECT_FALSE(box.isVisibleTo(&screen));
    EXPECT_EQ(box.opacity(), 0.0);
}
