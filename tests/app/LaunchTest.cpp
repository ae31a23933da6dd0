#include "TavrioCameraController.h"
#include "GuiAppDelegate.h"
#include "LaunchOptions.h"

#include "Settings.h"
#include "UIImageAdditions.h"
#include "media/capture/CaptureDevice.h"
#include "platform/AlertService.h"
#include "platform/Defaults.h"
#include "platform/DeviceOrientation.h"
#include "platform/Notifications.h"
#include "platform/Bundle.h"
#include "ui/ApplicationState.h"
#include "ui/SystemSound.h"
#include "ui/Window.h"

#include "support/GuiApp.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {
struct AlertRecorder {
    AlertRecorder() {
        platform::AlertService::setPresenter([this](const platform::Alert& a) {
            alerts.push_back(a);
            windowVisibleWhenRaised.push_back(window && window->isVisible());
        });
    }
    ~AlertRecorder() { platform::AlertService::setPresenter({}); }
    std::vector<platform::Alert> alerts;
    std::vector<bool> windowVisibleWhenRaised;
    QWidget* window = nullptr;
};
}  // namespace

TEST(Launch, FirstLaunchShowsTheNoticeOverTheCameraScreenAndLaterLaunchesDoNot) {
    testsupport::guiApp();
    testsupport::TempHome home;
    AlertRecorder recorder;
    QObject observer;
    int became = 0;
    platform::Notifications::center().addObserver(&observer, QLatin1String(platform::kDidBecomeActive),
                                                  [&became](const QString&, const QVariantMap&) { ++became; });
    {
        ui::Window window;
        recorder.window = &window;
        GuiAppDelegate delegate(&window);
        EXPECT_TRUE(delegate.didFinishLaunching());
        ASSERT_EQ(recorder.alerts.size(), 1u);
        EXPECT_EQ(recorder.alerts[0].title, "Note");
        EXPECT_EQ(recorder.alerts[0].cancelButton, "Ok");
        // The notice does not hold up the start: the camera screen is there and shown.
        EXPECT_NE(qobject_cast<TavrioCameraController*>(delegate.cameraZoomCtrl()), nullptr);
        EXPECT_EQ(window.rootViewController(), delegate.cameraZoomCtrl());
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.windowTitle(), "Tavrio");
        EXPECT_TRUE(delegate.applicationState()->isActive());
        EXPECT_EQ(became, 1);
        EXPECT_TRUE(platform::Defaults::standard().boolForKey(settings::kNotFirstTimeVersion2));
    }
    platform::Defaults::standard().setInteger(2, settings::kExportOpt);
    platform::Defaults::standard().synchronize();
    {
        ui::Window window;
        GuiAppDelegate delegate(&window);
        delegate.didFinishLaunching();
        EXPECT_EQ(recorder.alerts.size(), 1u);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(platform::Defaults::standard().integerForKey(settings::kExportOpt), 2);
    }
}

TEST(Launch, OptionsPickDevicesAndOrientationAndRefuseNonsense) {
    using A = LaunchOptions::Action;
    EXPECT_EQ(LaunchOptions::parse({}).action, A::Run);
    EXPECT_EQ(LaunchOptions::parse({"--help"}).action, A::Help);
    EXPECT_EQ(LaunchOptions::parse({"--camera", "virtual", "--version"}).action, A::Version);
    const LaunchOptions o = LaunchOptions::parse({"--camera", "virtual", "--mic", "none", "--orientation", "portrait"});
    ASSERT_EQ(o.action, A::Run);
    EXPECT_EQ(o.camera, QString::fromLatin1(media::CaptureDevice::kVirtualCameraID));
    EXPECT_EQ(o.microphone, "none");
    EXPECT_EQ(o.orientation, platform::DeviceOrientation::Portrait);
    EXPECT_EQ(LaunchOptions::parse({"--camera", "/dev/video2", "--orientation", "landscape"}).orientation,
              platform::DeviceOrientation::LandscapeRight);
    EXPECT_EQ(LaunchOptions::parse({"--camera", "/dev/video2"}).camera, "/dev/video2");
    EXPECT_EQ(LaunchOptions::parse({"--mic", "virtual"}).microphone,
              QString::fromLatin1(media::CaptureDevice::kVirtualMicrophoneID));
    EXPECT_EQ(LaunchOptions::parse({}).cameraRotation, -1);  // as the camera reports
    EXPECT_EQ(LaunchOptions::parse({"--camera-rotation", "270"}).cameraRotation, 270);
    EXPECT_EQ(LaunchOptions::parse({"--camera-rotation", "0"}).cameraRotation, 0);
    for (const QStringList& bad :
         {QStringList{"--camera"}, QStringList{"--orientation", "sideways"}, QStringList{"--zoom", "2"},
          QStringList{"--mic", ""}, QStringList{"--camera-rotation", "45"}, QStringList{"--camera-rotation", "-90"},
          QStringList{"--camera-rotation", "ninety"}, QStringList{"--camera-rotation", "90.0"}}) {
        const LaunchOptions e = LaunchOptions::parse(bad);
        EXPECT_EQ(e.action, A::Error) << bad.join(' ').toStdString();
        EXPECT_FALSE(e.error.isEmpty());
    }
}

TEST(Artwork, EveryPictureIsBundledAtItsFrameSizeWithASharpVariant) {
    testsupport::guiApp();
    struct Art {
        const char* name;
        QSize points;
    };
    const Art art[] = {
        {"bottombg", {320, 54}},
        {"list-icon", {48, 38}},
        {"timebg", {95, 30}},
        {"tavrio-slider", {300, 23}},
        {"sliderbal", {20, 15}},
        {"roundbuttonbg", {98, 38}},
        {"pressbuttoniphone", {98, 38}},
        {"reddefault", {20, 22}},
        {"redglow", {20, 22}},
        {"flash-off-iphone4", {68, 31}},
        {"flash-on-iphone4", {68, 31}},
        {"57x57", {57, 57}},
        {"lensimage", {195, 178}},
        {"button_play", {293, 58}},
        {"export-icon", {293, 58}},
        {"save-to-camera-roll-icon", {293, 58}},
        {"save-original-icon", {293, 58}},
        {"delete-icon", {293, 58}},
        {"cross-icon", {24, 24}},
    };
    for (const Art& a : art) {
        const QString path = UIImageAdditions::pathForResource(QLatin1String(a.name), QStringLiteral("png"));
        const QImage one = UIImageAdditions::imageWithContentsOfResolutionIndependentFile(path, 1.0);
        const QImage two = UIImageAdditions::imageWithContentsOfResolutionIndependentFile(path, 2.0);
        ASSERT_FALSE(one.isNull()) << a.name;
        EXPECT_EQ(one.size(), a.points) << a.name;
        EXPECT_EQ(two.size(), a.points * 2) << a.name;
        EXPECT_EQ(two.deviceIndependentSize(), QSizeF(a.points)) << a.name;
        // Drawn, not blank.
        EXPECT_GT(one.pixelColor(one.width() / 2, one.height() / 2).alpha() +
                      one.pixelColor(one.width() / 4, one.height() / 2).alpha(),
                  0)
            << a.name;
    }
    for (const char* file :
         {"beep2.wav", "instructions.plist", "localizable.strings", "instructions.strings", "tavrio.png"})
        EXPECT_TRUE(QFile::exists(QStringLiteral(":/Resources/") + QLatin1String(file))) << file;
}

TEST(Artwork, TheBundledBeepPlaysToItsEndWithoutAnAudioDevice) {
    testsupport::guiApp();
    ui::SystemSound beep(platform::Bundle::urlForResource(QStringLiteral("beep2"), QStringLiteral("wav")));
    ASSERT_EQ(beep.lengthMs(), 250);  // short enough not to hold up a recording's start
    bool done = false;
    beep.play([&done] { done = true; });
    EXPECT_TRUE(testsupport::spinUntil([&done] { return done; }, 30000));
}
