#include "MediaStore.h"
#include "TavrioCaptureManager.h"
#include "ZoomSampler.h"

#include "media/CapturePresets.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/MovieFileOutput.h"
#include "platform/DeviceOrientation.h"

#include "support/QtApp.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

void ensureApp() {
    static int argc = 1;
    static char name[] = "classes_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

class Screen : public QObject, public TavrioCaptureManagerDelegate {
public:
    explicit Screen(TavrioCaptureManager* m) : manager(m) {}
    TavrioCaptureManager* manager;
    std::vector<std::string> events;
    bool offMainThread = false;
    QUrl finishedUrl;
    media::Error lastError;
    void note(const std::string& e) {
        events.push_back(e);
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) offMainThread = true;
    }
    void didChangeSessionPreset() override { note("didChangeSessionPreset"); }
    void recordingBegan() override { note("recordingBegan"); }
    void backupData(const QString& name) override { note("backupData " + name.toStdString()); }
    void recordingFinished(const QUrl& url) override {
        finishedUrl = url;
        note("recordingFinished");
    }
    void someOtherError(const media::Error& e) override {
        lastError = e;
        note("someOtherError");
    }
    void deviceCountChanged() override { note("deviceCountChanged"); }
    void acquiringDeviceLockFailedWithError(const media::Error& e) override {
        lastError = e;
        note("lockFailed");
    }
};

struct Rig {
    testsupport::TempHome home;
    TavrioCaptureManager manager;
    Screen screen{&manager};
    Rig() {
        manager.setCameraID(QString::fromLatin1(media::CaptureDevice::kVirtualCameraID));
        manager.setMicrophoneID(QString::fromLatin1(media::CaptureDevice::kVirtualMicrophoneID));
        manager.setupSessionWithPreset(media::CapturePreset::Low);
        manager.setDelegate(&screen);
    }
    void recordUntil(double seconds) {
        manager.startRecording();
        EXPECT_TRUE(testsupport::spinUntil([&] { return manager.movieFileOutput()->recordedDuration() >= seconds; }));
        manager.stopRecording();
    }
};

}  // namespace

TEST(CaptureManager, ARecordingReportsInOrderOnTheMainThreadAndNamesTheFileItWrote) {
    ensureApp();
    Rig rig;
    ASSERT_TRUE(rig.manager.session()->isRunning());
    platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::PortraitUpsideDown);
    rig.manager.startRecording();
    // An upright camera's picture is shown upright on the portrait screen, and so is the movie.
    EXPECT_EQ(rig.manager.recordingOrientation(), 3);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !rig.screen.events.empty(); }));
    // A file newer than the recording lands in Originals while it runs: the finished report must
    // still name the recording.
    const QString intruder = MediaStore::baseDirForOriginalVideos() + QStringLiteral("/Zzz.mov");
    {
        QFile f(intruder);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.manager.movieFileOutput()->recordedDuration() >= 0.5; }));
    rig.manager.stopRecording();
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.screen.events.size() >= 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.screen.events,
              (std::vector<std::string>{"recordingBegan", "backupData Out.mov", "recordingFinished"}));
    EXPECT_FALSE(rig.screen.offMainThread);
    EXPECT_EQ(rig.screen.finishedUrl.toLocalFile(), MediaStore::baseDirForOriginalVideos() + "/Out.mov");
    EXPECT_TRUE(QFileInfo(rig.screen.finishedUrl.toLocalFile()).size() > 0);
    // The session is stopped for the screen to restart later.
    EXPECT_FALSE(rig.manager.session()->isRunning());
    EXPECT_FALSE(rig.manager.isRecording());

    // Face up is not portrait: the next recording is landscape.
    rig.screen.events.clear();
    rig.manager.session()->startRunning();
    platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::FaceUp);
    rig.recordUntil(0.2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.screen.events.size() >= 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.manager.recordingOrientation(), 3);
    // Out-1.mov: Out.mov is taken.
    EXPECT_EQ(rig.screen.events,
              (std::vector<std::string>{"recordingBegan", "backupData Out-1.mov", "recordingFinished"}));
    platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::Unknown);
}

TEST(CaptureManager, AFailedRecordingReportsOnlyTheError) {
    ensureApp();
    Rig rig;
    rig.manager.session()->stopRunning();  // nothing can arrive: the output fails at once
    rig.manager.startRecording();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !rig.screen.events.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.screen.events, (std::vector<std::string>{"someOtherError"}));
    EXPECT_FALSE(rig.screen.lastError.description.empty());
    EXPECT_FALSE(rig.manager.isRecording());
}

TEST(CaptureManager, DeviceReportsLeaveTheSessionsInputsAsTheyAre) {
    ensureApp();
    Rig rig;
    const auto video = rig.manager.videoInput();
    const auto audio = rig.manager.audioInput();
    ASSERT_TRUE(video && audio);
    // Neither report touches the session: a new set-up (the controller's) brings new inputs.
    rig.manager.deviceDisconnected(nullptr);
    rig.manager.deviceConnected(nullptr);
    EXPECT_EQ(rig.screen.events, (std::vector<std::string>{"deviceCountChanged", "deviceCountChanged"}));
    EXPECT_EQ(rig.manager.videoInput(), video);
    EXPECT_EQ(rig.manager.audioInput(), audio);
    EXPECT_EQ(rig.manager.session()->inputs(), (std::vector{video, audio}));
    EXPECT_TRUE(rig.manager.session()->isRunning());
    EXPECT_FALSE(rig.manager.inputsOutOfStep());
}

TEST(CaptureManager, PresetChangesOnlyReachARunningSessionWithANewPreset) {
    ensureApp();
    Rig rig;
    rig.manager.changeToSessionPreset(media::CapturePreset::Low);  // already so
    EXPECT_TRUE(rig.screen.events.empty());
    rig.manager.changeToSessionPreset(media::CapturePreset::Medium);
    EXPECT_EQ(rig.screen.events, (std::vector<std::string>{"didChangeSessionPreset"}));
    EXPECT_EQ(rig.manager.session()->sessionPreset(), media::CapturePreset::Medium);
    rig.manager.session()->stopRunning();
    rig.manager.changeToSessionPreset(media::CapturePreset::Size640x480);
    EXPECT_EQ(rig.screen.events.size(), 1u);
    EXPECT_EQ(rig.manager.session()->sessionPreset(), media::CapturePreset::Medium);
}

TEST(CaptureManager, TorchAndFocusTakeTheLockOnlyWhenThereIsSomethingToChange) {
    ensureApp();
    Rig rig;
    ASSERT_TRUE(rig.manager.hasTorch());
    EXPECT_TRUE(rig.manager.hasFocus());
    // Only real devices count: the test picture and tone stand in for nothing.
    const auto& known = TavrioCaptureManager::knownDevices();
    ASSERT_FALSE(known.empty());
    EXPECT_EQ(rig.manager.cameraCount(),
              unsigned(std::count_if(known.begin(), known.end(), [](auto& d) { return d.isCamera && !d.isVirtual; })));
    // The screen's torch button follows every real change of the mode, and only those.
    std::vector<int> torchReports;
    QObject::connect(&rig.manager, &TavrioCaptureManager::torchModeChanged,
                     [&](int mode) { torchReports.push_back(mode); });
    rig.manager.setTorchMode(1);
    EXPECT_EQ(rig.manager.torchMode(), 1);
    rig.manager.setTorchMode(1);
    EXPECT_EQ(torchReports, std::vector<int>{1});

    // Another program holds the camera's configuration lock from here on.
    auto device = rig.manager.videoInput()->device();
    int other = ::open(device->configurationLockPath().c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    rig.manager.setTorchMode(1);  // already on: no lock wanted, nothing reported
    rig.manager.setTorchMode(2);  // auto is not offered: ignored
    EXPECT_TRUE(rig.screen.events.empty());
    rig.manager.setTorchMode(0);  // a real change meets the lock
    rig.manager.focusAtPoint(QPointF(0.25, 0.75));
    EXPECT_EQ(rig.screen.events, (std::vector<std::string>{"lockFailed", "lockFailed"}));
    EXPECT_EQ(rig.screen.lastError.code, EBUSY);
    EXPECT_EQ(rig.manager.torchMode(), 1);
    ::flock(other, LOCK_UN);
    ::close(other);

    rig.manager.focusAtPoint(QPointF(0.25, 0.75));
    rig.manager.exposureAtPoint(QPointF(0.5, 0.1));
    EXPECT_EQ(rig.screen.events.size(), 2u);
    EXPECT_DOUBLE_EQ(device->focusPointOfInterest().x, 0.25);
    EXPECT_EQ(device->focusMode(), media::FocusMode::AutoFocus);
    EXPECT_EQ(device->exposureMode(), media::ExposureMode::ContinuousAutoExposure);
    EXPECT_DOUBLE_EQ(device->exposurePointOfInterest().y, 0.1);
    rig.manager.setTorchMode(0);
    EXPECT_EQ(rig.manager.torchMode(), 0);
}

TEST(CaptureManager, TheCameraMountingIsTheOverrideElseWhatTheCameraSays) {
    ensureApp();
    Rig rig;
    EXPECT_EQ(rig.manager.cameraRotation(), 0);  // the virtual camera is upright
    EXPECT_TRUE(rig.manager.setCameraRotationOverride(90));
    EXPECT_EQ(rig.manager.cameraRotation(), 90);
    for (int bad : {45, -90, 360, 1}) EXPECT_FALSE(rig.manager.setCameraRotationOverride(bad)) << bad;
    EXPECT_EQ(rig.manager.cameraRotation(), 90);
    EXPECT_TRUE(rig.manager.setCameraRotationOverride(-1));
    EXPECT_EQ(rig.manager.cameraRotation(), 0);
    EXPECT_EQ(TavrioCaptureManager::cameraRotationForArgument(QStringLiteral("180")), 180);
    EXPECT_FALSE(TavrioCaptureManager::cameraRotationForArgument(QStringLiteral("180.0")));
    EXPECT_FALSE(TavrioCaptureManager::cameraRotationForArgument(QString()));
}

TEST(CaptureManager, ADestroyedDelegateIsNeverCalled) {
    ensureApp();
    Rig rig;
    {
        Screen gone(&rig.manager);
        rig.manager.setDelegate(&gone);
    }
    EXPECT_EQ(rig.manager.delegate(), nullptr);
    rig.manager.changeToSessionPreset(media::CapturePreset::Medium);  // would crash
    SUCCEED();
}

TEST(ZoomSampler, EntryZeroIsTheZoomShownAndLaterEntriesAreStampedFromTheStart) {
    int64_t clock = 1000000000000;
    ZoomSampler s([&] { return clock; });
    // Before recording: the preview zooms, nothing is kept.
    EXPECT_FLOAT_EQ(s.sliderChanged(0.25f), 1.5f);
    EXPECT_TRUE(s.zooms().isEmpty());
    s.recordingBegan(1);
    ASSERT_EQ(s.zooms().size(), 1);
    EXPECT_FLOAT_EQ(s.zooms()[0].zoom, 1.5f);
    EXPECT_EQ(s.zooms()[0].atTime, 0.0);
    EXPECT_EQ(s.zooms().orient.value_or(-1), 1);
    clock += 1250000000;
    s.sliderChanged(0.5f);
    clock += 50000000;  // the ball still moving: no rest between
    s.sliderChanged(0.75f);
    clock += 700000000;
    s.sliderChanged(1.0f);
    // Each move after a rest is preceded by the resting zoom, held until just before it.
    const std::vector<std::pair<float, double>> expected{{1.5f, 0.0}, {1.5f, 1.25}, {2.0f, 1.25},
                                                         {2.5f, 1.3}, {2.5f, 2.0},  {3.0f, 2.0}};
    ASSERT_EQ(s.zooms().size(), qsizetype(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_FLOAT_EQ(s.zooms()[qsizetype(i)].zoom, expected[i].first) << i;
        EXPECT_NEAR(s.zooms()[qsizetype(i)].atTime, expected[i].second, 0.004) << i;
        if (i > 0) {
            EXPECT_GT(s.zooms()[qsizetype(i)].atTime, (s.zooms()[qsizetype(i) - 1]).atTime) << i;
        }
    }
    EXPECT_DOUBLE_EQ(s.elapsedTime(), 2.0);
    s.recordingEnded();
    s.sliderChanged(0.0f);
    EXPECT_EQ(s.zooms().size(), qsizetype(expected.size()));
    // The next recording starts a new track from the zoom now shown.
    s.recordingBegan(3);
    ASSERT_EQ(s.zooms().size(), 1);
    EXPECT_FLOAT_EQ(s.zooms()[0].zoom, 1.0f);
    EXPECT_FLOAT_EQ(ZoomSampler::zoomForSliderValue(ZoomSampler::sliderValueForZoom(2.2f)), 2.2f);
}
