#include "CameraOverlays.h"
#include "LaunchOptions.h"
#include "VideoAssetsScreen.h"
#include "ZoomSettingsController.h"
#include "RDButton.h"
#include "TavrioCameraController.h"
#include "MediaStore.h"
#include "TavrioPreviewView.h"
#include "TavrioSlider.h"
#include "ZoomTrack.h"

#include "media/capture/CaptureDevice.h"
#include "media/capture/CaptureSession.h"
#include "media/capture/DeviceBackends.h"
#include "Settings.h"
#include "platform/Defaults.h"
#include "platform/DeviceOrientation.h"
#include "ui/FrameLayout.h"
#include "ui/ImageButton.h"
#include "ui/Indicators.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include "support/FocusRing.h"
#include "support/GuiApp.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFileInfo>
#include <unistd.h>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The camera screen in a shown window, filming the virtual camera without sound.
struct CameraShown : testsupport::GuiAppFirst, ::testing::Test {
    CameraShown() {
        LaunchOptions options;
        options.camera = QString::fromLatin1(media::CaptureDevice::kVirtualCameraID);
        options.microphone = QStringLiteral("none");
        LaunchOptions::setCurrent(options);
        platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::Portrait);
        camera = new TavrioCameraController();
        window.setRootViewController(camera);
        window.resize(320, 480);
        window.show();
    }
    ~CameraShown() override { LaunchOptions::setCurrent({}); }

    // Up and running: the preview follows the session and the automatic full screen is done.
    void waitUntilRunning() {
        ASSERT_TRUE(
            testsupport::spinUntil([this] { return camera->videoPreviewView()->previewSlot() != nullptr; }, 30000));
        ASSERT_TRUE(testsupport::spinUntil(
            [this] { return camera->isFullScreen() && !camera->cleanAperture().isEmpty(); }, 30000));
        ASSERT_TRUE(testsupport::spinUntil([this] { return camera->videoPreviewView()->previewScale() == 4.0f / 3.0f; },
                                           30000));
    }
    QRectF frameOf(QWidget* w) { return camera->frames()->frame(w); }

    testsupport::TempHome home;
    ui::Window window;
    TavrioCameraController* camera;
};

}  // namespace

TEST_F(CameraShown, SetsUpAfterTheFirstPaintThenShowsThePreviewFullScreen) {
    // Nothing opens the camera before the event loop has turned once: the spinner turns.
    ASSERT_NE(camera->spinner(), nullptr);
    EXPECT_TRUE(camera->spinner()->isAnimating());
    EXPECT_EQ(camera->videoPreviewView()->previewSlot(), nullptr);
    waitUntilRunning();
    EXPECT_EQ(camera->spinner(), nullptr);
    EXPECT_EQ(camera->cleanAperture(), QSizeF(1920, 1080));  // the test picture's best mode
    // The upright 16:9 picture (320 x 180 points across the screen) sits between bars filling
    // the rest, slid off the screen in full screen.
    const QRectF screen(0, 0, 320, 480);
    EXPECT_EQ(camera->blackBarHeight(), (480 - 180) / 2);
    ASSERT_TRUE(testsupport::spinUntil(
        [&] { return !frameOf(camera->leftView()).intersects(screen) && frameOf(camera->leftView()).bottom() == 0; },
        10000));
    EXPECT_FALSE(frameOf(camera->rightView()).intersects(screen));
    EXPECT_EQ(frameOf(camera->rightView()).top(), screen.bottom());
    ASSERT_NE(camera->flashButton(), nullptr) << "the virtual camera has a torch";
    // The torch button lies across the top corner, whole on the screen, held upright.
    const QRectF torch = frameOf(camera->flashButton());
    EXPECT_TRUE(screen.contains(torch));
    EXPECT_LT(torch.center().y(), screen.height() / 4);
    EXPECT_GT(torch.width(), torch.height());
    EXPECT_TRUE(camera->recCtrlButton()->isEnabled());

    // A double tap leaves full screen: scale back to the zoom, bars back in place.
    camera->handleDoubleTap();
    ASSERT_TRUE(testsupport::spinUntil([this] { return camera->videoPreviewView()->previewScale() == 1.0f; }, 10000));
    EXPECT_FALSE(camera->isFullScreen());
    EXPECT_EQ(frameOf(camera->leftView()), QRectF(0, 0, 320, camera->blackBarHeight()));
    EXPECT_EQ(frameOf(camera->rightView()).bottom(), screen.bottom());

    // The zoom and the full-screen factor multiply.
    camera->zoomSliderChanged(0.5f);
    EXPECT_EQ(camera->videoPreviewView()->previewScale(), 2.0f);
    QTest::keyClick(camera, Qt::Key_F);
    ASSERT_TRUE(testsupport::spinUntil(
        [this] { return camera->videoPreviewView()->previewScale() == 2.0f * 1.3333334f; }, 10000));
    // + and - move the slider's ball, which zooms.
    QTest::keyClick(camera, Qt::Key_Plus, Qt::ShiftModifier);
    EXPECT_NEAR(camera->slider()->value(), 0.05f, 1e-6);
}

TEST_F(CameraShown, TapsFocusAboveTheSliderOnlyAndFlashTheBox) {
    waitUntilRunning();
    auto* box = static_cast<FocusBoxView*>(camera->focusBox());
    ASSERT_TRUE(testsupport::spinUntil([box] { return !box->isFlashing(); }, 10000));
    const auto device = camera->recorder()->captureManager().videoInput()->device();
    // 4 points above the slider's top edge: the slider's, ignored.
    camera->tapToFocus({100, 376});
    EXPECT_FALSE(box->isFlashing());
    // 6 points above it: focus and exposure at the point of interest, the box flashes there.
    camera->tapToFocus({100, 374});
    EXPECT_TRUE(box->isFlashing());
    EXPECT_EQ(frameOf(box).center(), QPointF(100, 374));
    const QPointF expected = camera->convertToPointOfInterestFromViewCoordinates({100, 374});
    EXPECT_NEAR(device->focusPointOfInterest().x, expected.x(), 1e-6);
    EXPECT_NEAR(device->focusPointOfInterest().y, expected.y(), 1e-6);
    // Full screen of an upright picture: the centre of the screen is the centre of the picture.
    const QPointF centre = camera->convertToPointOfInterestFromViewCoordinates({160, 240});
    EXPECT_NEAR(centre.x(), 0.5, 1e-6);
    EXPECT_NEAR(centre.y(), 0.5, 1e-6);
}

TEST_F(CameraShown, RecordingCycleOnScreenAndNavigationRefusedMeanwhile) {
    waitUntilRunning();
    platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::LandscapeRight);
    const QRectF flashBefore = frameOf(camera->flashButton());
    QSignalSpy finished(camera, &TavrioCameraController::savingAnimationFinished);
    camera->recCtrlButton()->click();
    ASSERT_TRUE(testsupport::spinUntil(
        [this] { return camera->recorder()->state() == RecordingController::State::Recording; }, 30000));
    EXPECT_TRUE(camera->recCtrlButton()->isBlinking());
    EXPECT_FALSE(camera->recCtrlButton()->isHighlighted());
    auto* clock = qobject_cast<ClockLabel*>(camera->timeLabel());
    ASSERT_NE(clock, nullptr);
    // Upright whatever the recording's orientation, inside its background and the screen.
    EXPECT_GT(frameOf(clock).width(), frameOf(clock).height());
    EXPECT_TRUE(frameOf(camera->timeView()).contains(frameOf(clock)));
    EXPECT_TRUE(camera->bounds().contains(frameOf(camera->timeView())));
    EXPECT_EQ(clock->text(), "00:00:00");

    // While recording: no library, no settings, and turning the device leaves the torch button.
    camera->listButtonPressed();
    camera->presentInstructionsAndSettings();
    QTest::keyClick(camera, Qt::Key_L);
    QTest::qWait(50);
    EXPECT_EQ(camera->modalViewController(), nullptr);
    platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::Portrait);
    EXPECT_EQ(frameOf(camera->flashButton()), flashBefore);

    camera->zoomSliderChanged(1.0f);
    EXPECT_EQ(camera->videoPreviewView()->previewScale(), 3.0f * 1.3333334f);
    QTest::keyClick(camera, Qt::Key_Space);  // stop
    EXPECT_EQ(camera->timeLabel(), nullptr);
    EXPECT_FALSE(camera->recCtrlButton()->isBlinking());
    EXPECT_FALSE(camera->recCtrlButton()->isEnabled());
    // No new take until the camera runs again after this one: a press meanwhile does nothing.
    QTest::keyClick(camera, Qt::Key_Space);
    EXPECT_EQ(camera->recorder()->state(), RecordingController::State::Stopping);
    ASSERT_TRUE(testsupport::spinUntil([&finished] { return finished.count() == 1; }, 30000));
    if (!camera->recorder()->isSessionRunning()) {
        EXPECT_FALSE(camera->recCtrlButton()->isEnabled());
        QTest::keyClick(camera, Qt::Key_Space);
        EXPECT_EQ(camera->recorder()->state(), RecordingController::State::Idle);
    }
    ASSERT_TRUE(testsupport::spinUntil([this] { return camera->recorder()->isSessionRunning(); }, 30000));
    EXPECT_TRUE(camera->recCtrlButton()->isEnabled());
    const QString movie = camera->recorder()->moviePath();
    EXPECT_TRUE(QFileInfo(movie).size() > 0);
    EXPECT_TRUE(QFileInfo(MediaStore::zoomsArchiveFilePath(QFileInfo(movie).fileName())).size() > 0);
    // Turning the device now turns the torch button upright for a landscape hold, in its
    // corner; lying flat keeps it so.
    platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::LandscapeLeft);
    const QRectF turned = frameOf(camera->flashButton());
    EXPECT_GT(turned.height(), turned.width());
    EXPECT_TRUE(camera->bounds().contains(turned));
    EXPECT_LT(turned.center().y(), camera->bounds().height() / 4);
    platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::FaceUp);
    EXPECT_EQ(frameOf(camera->flashButton()), turned);
}

TEST_F(CameraShown, APinchOnThePictureZoomsAsTheSliderDoesInBothLayoutsAndIsRecorded) {
    waitUntilRunning();
    QPointingDevice* screen = QTest::createTouchDevice(QInputDevice::DeviceType::TouchScreen);
    TavrioPreviewView* picture = camera->videoPreviewView();
    const QPoint c = picture->rect().center();
    // Two fingers `from` apart spread to `to` apart, each step a move of both.
    auto pinch = [&](int from, int to) {
        QTest::touchEvent(picture, screen).press(0, c - QPoint(from / 2, 0)).press(1, c + QPoint(from / 2, 0));
        for (int step = 1; step <= 4; ++step) {
            const int d = from + (to - from) * step / 4;
            QTest::touchEvent(picture, screen).move(0, c - QPoint(d / 2, 0)).move(1, c + QPoint(d / 2, 0));
        }
        QTest::touchEvent(picture, screen).release(0, c - QPoint(to / 2, 0)).release(1, c + QPoint(to / 2, 0));
    };

    camera->recCtrlButton()->click();
    ASSERT_TRUE(testsupport::spinUntil(
        [this] { return camera->recorder()->state() == RecordingController::State::Recording; }, 30000));
    const qsizetype before = camera->recorder()->zooms().size();
    // Spreading to twice the distance doubles the zoom: the slider's ball moves there and every
    // step is an entry of the take's track, as a drag of the ball is.
    pinch(60, 120);
    EXPECT_NEAR(camera->slider()->value(), ZoomSampler::sliderValueForZoom(2.0f), 0.01);
    EXPECT_NEAR(camera->recorder()->zooms().entries.back().zoom, 2.0f, 0.02);
    EXPECT_GE(camera->recorder()->zooms().size(), before + 4);
    // Pinching in goes back; no pinch goes past either end.
    pinch(120, 60);
    EXPECT_NEAR(camera->recorder()->zooms().entries.back().zoom, 1.0f, 0.02);
    const int wide = picture->width() - 20;
    pinch(40, wide);
    EXPECT_FLOAT_EQ(camera->recorder()->zooms().entries.back().zoom, 3.0f);
    EXPECT_FLOAT_EQ(camera->slider()->value(), 1.0f);
    pinch(wide, 40);
    EXPECT_FLOAT_EQ(camera->recorder()->zooms().entries.back().zoom, 1.0f);
    QTest::keyClick(camera, Qt::Key_Space);

    // The landscape layout's picture pinches too, and one finger lifted where it landed is a tap.
    window.resize(720, 405);
    ASSERT_TRUE(testsupport::spinUntil([this] { return camera->recorder()->isRecordEnabled(); }, 30000));
    const float zoomBefore = camera->videoPreviewView()->previewScale();
    pinch(50, 75);
    EXPECT_NEAR(camera->slider()->value(), ZoomSampler::sliderValueForZoom(1.5f), 0.01);
    EXPECT_GT(camera->videoPreviewView()->previewScale(), zoomBefore);
    QTest::touchEvent(picture, screen).press(0, c);
    QTest::touchEvent(picture, screen).release(0, c);
    EXPECT_EQ(picture->pendingTap(), TavrioPreviewView::PendingTap::Single);
}

TEST_F(CameraShown, ArtworkIsPickedAgainWhenTheWindowsScaleCrossesTwo) {
    // Made before the window had its size, drawn at the scale the window has when shown.
    auto* list = camera->listButton();
    ASSERT_TRUE(testsupport::spinUntil([&] { return list->image().devicePixelRatio() == 1.0; }, 10000));
    const QSizeF points = list->image().deviceIndependentSize();
    // Twice the pixels per point (a larger window here, a denser display elsewhere): the double
    // resolution pictures, the same size in points; and back.
    window.resize(640, 960);
    ASSERT_TRUE(testsupport::spinUntil([&] { return list->image().devicePixelRatio() == 2.0; }, 10000));
    EXPECT_EQ(list->image().deviceIndependentSize(), points);
    window.resize(320, 480);
    EXPECT_TRUE(testsupport::spinUntil([&] { return list->image().devicePixelRatio() == 1.0; }, 10000));
}

TEST_F(CameraShown, LibraryAndSettingsStopTheSessionWhileTheyShow) {
    waitUntilRunning();
    // The settings rest the camera as the library does; Done brings it back.
    camera->presentInstructionsAndSettings();
    ASSERT_TRUE(
        testsupport::spinUntil([this] { return camera->modalViewController() && !camera->isTransitioning(); }, 10000));
    EXPECT_FALSE(camera->recorder()->isSessionRunning());
    auto* settingsNav = qobject_cast<ui::NavigationController*>(camera->modalViewController());
    ASSERT_NE(settingsNav, nullptr);
    auto* list = qobject_cast<ZoomSettingsController*>(settingsNav->topViewController());
    ASSERT_NE(list, nullptr);
    list->doneButtonPressed();
    ASSERT_TRUE(testsupport::spinUntil([this] { return !camera->modalViewController(); }, 10000));
    EXPECT_TRUE(testsupport::spinUntil([this] { return camera->recorder()->isSessionRunning(); }, 30000));

    camera->listButton()->click();
    ASSERT_TRUE(
        testsupport::spinUntil([this] { return camera->modalViewController() && !camera->isTransitioning(); }, 10000));
    EXPECT_FALSE(camera->recorder()->isSessionRunning());
    auto* nav = qobject_cast<ui::NavigationController*>(camera->modalViewController());
    ASSERT_NE(nav, nullptr);
    auto* library = qobject_cast<VideoAssetsScreen*>(nav->topViewController());
    ASSERT_NE(library, nullptr);
    // Escape closes the list, as Done does.
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(testsupport::spinUntil([this] { return !camera->modalViewController(); }, 10000));
    EXPECT_TRUE(testsupport::spinUntil([this] { return camera->recorder()->isSessionRunning(); }, 30000));
}

namespace {

// The camera screen, shown, on a machine whose devices the test gives.
struct CameraOnMachine : testsupport::GuiAppFirst {
    explicit CameraOnMachine(media::backends::Backend devices)
        : previous(media::backends::setBackend(std::move(devices))) {
        LaunchOptions::setCurrent({});
        window = std::make_unique<ui::Window>();
        camera = new TavrioCameraController();
        window->setRootViewController(camera);
        window->resize(320, 480);
        window->show();
    }
    ~CameraOnMachine() {
        window.reset();
        media::backends::setBackend(previous);
    }
    testsupport::TempHome home;
    media::backends::Backend previous;
    std::unique_ptr<ui::Window> window;
    TavrioCameraController* camera = nullptr;
};

}  // namespace

TEST(CameraScreen, WithoutACameraItSaysSoOffersNoRecordingAndSwitchesToTheTestPictureOnRequest) {
    // A machine with neither camera nor microphone.
    media::backends::Backend none;
    none.findCameras = [] { return std::vector<media::backends::Found>{}; };
    none.findMicrophones = [] { return std::vector<media::backends::Found>{}; };
    CameraOnMachine machine(none);
    auto* camera = machine.camera;
    {
        ASSERT_TRUE(testsupport::spinUntil([&] { return camera->noCameraView()->isVisible(); }, 30000));
        EXPECT_EQ(camera->videoPreviewView()->previewSlot(), nullptr);
        EXPECT_FALSE(camera->recCtrlButton()->isEnabled());
        EXPECT_FALSE(camera->switchCameraButton()->isVisible());
        EXPECT_EQ(camera->noCameraView()->findChild<QLabel*>()->text(), "No camera found");
        camera->record();
        EXPECT_EQ(camera->recorder()->state(), RecordingController::State::Idle);

        camera->testPictureButton()->click();
        ASSERT_TRUE(
            testsupport::spinUntil([&] { return camera->videoPreviewView()->previewSlot() != nullptr; }, 30000));
        EXPECT_FALSE(camera->noCameraView()->isVisible());
        EXPECT_TRUE(camera->recCtrlButton()->isEnabled());
        EXPECT_EQ(platform::Defaults::standard().stringForKey(QLatin1String(settings::kCameraDevice)),
                  QLatin1String(media::CaptureDevice::kVirtualCameraID));
        // Still no microphone: the test tone is not taken in its place.
        EXPECT_FALSE(camera->recorder()->captureManager().audioInput());
    }
}

TEST(CameraScreen, WithTwoCamerasTheSwitchButtonGoesToTheOtherAndRemembersIt) {
    // Two cameras (the test picture under two names) and no microphone.
    const auto picture = media::CaptureDevice::deviceWithUniqueID(media::CaptureDevice::kVirtualCameraID);
    class Named : public media::CaptureDevice {
    public:
        Named(const media::backends::Found& f, std::shared_ptr<media::CaptureDevice> p)
            : CaptureDevice(f.id, f.name, media::MediaType::Video, false), picture_(std::move(p)) {}
        std::vector<media::VideoFormat> formats() const override { return picture_->formats(); }
        std::unique_ptr<media::VideoSource> openVideo(media::Size s, double fps, media::Error* e) override {
            return picture_->openVideo(s, fps, e);
        }

    private:
        std::shared_ptr<media::CaptureDevice> picture_;
    };
    const std::string tag = std::to_string(::getpid());
    media::backends::Backend two;
    two.findCameras = [tag] {
        return std::vector<media::backends::Found>{{"screen:left-" + tag, "Left", {}},
                                                   {"screen:right-" + tag, "Right", {}}};
    };
    two.findMicrophones = [] { return std::vector<media::backends::Found>{}; };
    two.makeCamera = [picture](const media::backends::Found& f) -> std::shared_ptr<media::CaptureDevice> {
        return std::make_shared<Named>(f, picture);
    };
    CameraOnMachine machine(two);
    auto* camera = machine.camera;
    {
        auto& manager = camera->recorder()->captureManager();
        ASSERT_TRUE(testsupport::spinUntil([&] { return camera->recorder()->isCameraRunning(); }, 30000));
        EXPECT_EQ(manager.camera().name, "Left");  // the first one found
        ASSERT_TRUE(camera->switchCameraButton()->isVisible());
        camera->switchCameraButton()->click();
        ASSERT_TRUE(testsupport::spinUntil(
            [&] { return manager.camera().name == "Right" && camera->recorder()->isCameraRunning(); }, 30000));
        EXPECT_EQ(platform::Defaults::standard().stringForKey(QLatin1String(settings::kCameraDevice)),
                  QString::fromStdString("screen:right-" + tag));
        EXPECT_NE(camera->videoPreviewView()->previewSlot(), nullptr);
        EXPECT_TRUE(camera->recCtrlButton()->isEnabled());
    }
}

TEST_F(CameraShown, EveryControlShowsWhenTheKeyboardIsOnIt) {
    waitUntilRunning();
    QApplication::setActiveWindow(&window);
    camera->focusFirstControl();
    const QStringList stops = testsupport::expectRingOnEveryTabStop(camera);
    for (const char* name : {"RDButton", "TavrioSlider", "\"Library\"", "\"Settings\"", "\"Torch\""})
        EXPECT_TRUE(stops.join(' ').contains(QLatin1String(name)))
            << name << " is no Tab stop: " << stops.join(", ").toStdString();
}
