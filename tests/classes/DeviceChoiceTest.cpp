// Which camera and microphone are used, what the user is told when one cannot be, and devices
// coming and going around a take. Devices are put in through the engine's device backend: cameras
// of the test's own (the test picture behind a name, or a camera that fails to open with a given
// error), listed and removed as the test says, with the hot-plug monitor looking when asked.

#include "PreviewGeometry.h"
#include "RecordingController.h"
#include "Settings.h"
#include "TavrioCaptureManager.h"

#include "media/CapturePresets.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/DeviceBackends.h"
#include "media/capture/DeviceMonitor.h"
#include "media/capture/MovieFileOutput.h"
#include "platform/Defaults.h"
#include "platform/DeviceOrientation.h"

#include "support/MovieFrames.h"
#include "support/QtApp.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace {

using State = RecordingController::State;
using Description = TavrioCaptureManager::DeviceDescription;

// A camera of the test's own: the test picture under another name, or one that cannot be opened.
class TestCamera : public media::CaptureDevice {
public:
    TestCamera(const std::string& id, const std::string& name, int failWith)
        : CaptureDevice(id, name, media::MediaType::Video, false), failWith_(failWith) {}
    std::vector<media::VideoFormat> formats() const override { return testPicture()->formats(); }
    std::unique_ptr<media::VideoSource> openVideo(media::Size want, double fps, media::Error* error) override {
        if (failWith_) {
            if (error) *error = media::Error{-failWith_, "Cannot open " + localizedName() + ".", "", ""};
            return nullptr;
        }
        return testPicture()->openVideo(want, fps, error);
    }

private:
    static std::shared_ptr<media::CaptureDevice> testPicture() {
        return media::CaptureDevice::deviceWithUniqueID(media::CaptureDevice::kVirtualCameraID);
    }
    int failWith_;
};

// A microphone that cannot be opened: another program holds it.
class BusyMicrophone : public media::CaptureDevice {
public:
    BusyMicrophone(const std::string& id, const std::string& name)
        : CaptureDevice(id, name, media::MediaType::Audio, false) {}
    std::unique_ptr<media::AudioSource> openAudio(media::Error* error) override {
        if (error) *error = media::Error{EBUSY, "Cannot open " + localizedName() + ".", "", ""};
        return nullptr;
    }
};

// A headset: the test tone under another name.
class Headset : public media::CaptureDevice {
public:
    Headset(const std::string& id, const std::string& name) : CaptureDevice(id, name, media::MediaType::Audio, false) {}
    std::unique_ptr<media::AudioSource> openAudio(media::Error* error) override {
        return media::CaptureDevice::deviceWithUniqueID(media::CaptureDevice::kVirtualMicrophoneID)->openAudio(error);
    }
};

// The machine's devices as the test sets them; ids are fresh per test, since the engine keeps one
// object per id for the process.
struct Devices {
    std::mutex mutex;
    std::vector<media::backends::Found> cameras, microphones;
    std::map<std::string, int> failures;  // id -> errno its opening fails with

    Devices() {
        media::backends::Backend b;
        b.findCameras = [this] {
            std::lock_guard lock(mutex);
            return cameras;
        };
        b.findMicrophones = [this] {
            std::lock_guard lock(mutex);
            return microphones;
        };
        b.makeMicrophone = [](const media::backends::Found& f) -> std::shared_ptr<media::CaptureDevice> {
            if (f.id.rfind("test:headset", 0) == 0) return std::make_shared<Headset>(f.id, f.name);
            return std::make_shared<BusyMicrophone>(f.id, f.name);
        };
        b.makeCamera = [this](const media::backends::Found& f) -> std::shared_ptr<media::CaptureDevice> {
            std::lock_guard lock(mutex);
            return std::make_shared<TestCamera>(f.id, f.name, failures[f.id]);
        };
        previous = media::backends::setBackend(b);
    }
    ~Devices() { media::backends::setBackend(previous); }

    std::string add(const std::string& name, int failWith = 0) {
        static std::atomic<int> serial{0};
        const std::string id = "test:" + name + "-" + std::to_string(serial++) + "-" + std::to_string(::getpid());
        std::lock_guard lock(mutex);
        failures[id] = failWith;
        cameras.push_back({id, name, {}});
        return id;
    }
    void remove(const std::string& id) {
        std::lock_guard lock(mutex);
        std::erase_if(cameras, [&](auto& f) { return f.id == id; });
    }
    media::backends::Backend previous;
};

struct Rig {
    testsupport::TempHome home;
    Devices devices;
    RecordingController controller;
    std::vector<std::pair<QString, QString>> errors;
    QString finishedMovie;
    uint64_t droppedInMovie = 0;  // by the camera or the recorder, as the take finished
    int setUps = 0;

    Rig() {
        testsupport::qtApp();
        platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::LandscapeRight);
        controller.setRestartDelay(0);
        // The monitor looks only when the test says so.
        controller.captureManager().setDeviceListerForTesting([] { return media::CaptureDevice::devices(); });
        QObject::connect(&controller, &RecordingController::errorReported,
                         [this](const QString& t, const QString& m, const QString&) { errors.emplace_back(t, m); });
        QObject::connect(&controller, &RecordingController::movieFinished, [this](const QString& p, const QImage&) {
            finishedMovie = p;
            auto& manager = controller.captureManager();
            droppedInMovie = manager.movieFileOutput()->droppedFrameCount() + manager.session()->sourceDroppedFrames();
        });
        QObject::connect(&controller, &RecordingController::sessionSetUp, [this](bool, const QString&) { ++setUps; });
    }
    void setUp() {
        const int before = setUps;
        controller.setUpSession(media::CapturePreset::Low);
        ASSERT_TRUE(testsupport::spinUntil([&] { return setUps > before && !controller.isSessionSetUpPending(); }));
    }
    // The monitor looks; whatever set-up the change brings is waited for.
    void plugged() {
        auto* monitor = controller.captureManager().deviceMonitor();
        ASSERT_NE(monitor, nullptr);
        monitor->rescan();  // looks on this thread; its reports are queued for the main thread's loop
        QCoreApplication::processEvents();
        ASSERT_TRUE(testsupport::spinUntil([&] { return !controller.isSessionSetUpPending(); }));
    }
    QString cameraID() const { return controller.captureManager().camera().id; }
    static void remember(const std::string& cameraID) {
        auto& d = platform::Defaults::standard();
        d.setString(QString::fromStdString(cameraID), QLatin1String(settings::kCameraDevice));
        d.synchronize();
    }
};

Description camera(const QString& id, const QString& name, bool isVirtual = false) {
    Description d;
    d.isCamera = true;
    d.isVirtual = isVirtual;
    d.uniqueID = id;
    d.name = name;
    return d;
}

}  // namespace

TEST(DeviceChoice, TheGivenDeviceWinsThenTheRememberedOneThenTheOneInUseThenTheFirstRealOne) {
    auto webcam = camera("/dev/v4l/by-id/usb-cam-index0", "Webcam");
    webcam.devicePath = "/dev/video2";
    const std::vector<Description> present{webcam, camera("v4l2:usb-2", "Other"),
                                           camera("virtual-camera", "Test Picture", true)};
    auto choose = [&](const char* given, const char* remembered, const char* inUse = "") {
        return TavrioCaptureManager::chooseDevice(true, QString::fromLatin1(given), QString::fromLatin1(remembered),
                                                  QString::fromLatin1(inUse), present);
    };
    EXPECT_EQ(choose("", ""), "/dev/v4l/by-id/usb-cam-index0");
    EXPECT_EQ(choose("", "v4l2:usb-2"), "v4l2:usb-2");
    // A remembered camera that is absent gives way, to the one in use before the first.
    EXPECT_EQ(choose("", "v4l2:gone", "v4l2:usb-2"), "v4l2:usb-2");
    EXPECT_EQ(choose("", "v4l2:gone"), "/dev/v4l/by-id/usb-cam-index0");
    // Given for this run: by id, device file or name, over the remembered one; absent, as given.
    EXPECT_EQ(choose("/dev/video2", "v4l2:usb-2"), "/dev/v4l/by-id/usb-cam-index0");
    EXPECT_EQ(choose("Other", ""), "v4l2:usb-2");
    EXPECT_EQ(choose("virtual-camera", "v4l2:usb-2"), "virtual-camera");
    EXPECT_EQ(choose("/dev/video7", ""), "/dev/video7");
    // The test picture only when chosen: a machine without cameras has none.
    const std::vector<Description> bare{camera("virtual-camera", "Test Picture", true)};
    EXPECT_EQ(TavrioCaptureManager::chooseDevice(true, {}, {}, {}, bare), QString());
    EXPECT_EQ(TavrioCaptureManager::chooseDevice(true, {}, QStringLiteral("virtual-camera"), {}, bare),
              "virtual-camera");
    Description tone;
    tone.uniqueID = "virtual-microphone";
    tone.isVirtual = true;
    EXPECT_EQ(TavrioCaptureManager::chooseDevice(false, {}, {}, {}, {tone}), QString());
    EXPECT_EQ(TavrioCaptureManager::chooseDevice(false, QStringLiteral("none"), {}, {}, {tone}), QString());
    EXPECT_EQ(TavrioCaptureManager::chooseDevice(false, {}, QStringLiteral("none"), {}, {tone}), QString());
}

TEST(DeviceChoice, WithoutAnyCameraNothingIsFilmedAndRecordingIsNotOffered) {
    Rig rig;
    rig.setUp();
    EXPECT_FALSE(rig.controller.cameraFound());
    EXPECT_FALSE(rig.controller.isCameraRunning());
    EXPECT_FALSE(rig.controller.isRecordEnabled());
    EXPECT_FALSE(rig.controller.record());
    EXPECT_TRUE(rig.errors.empty()) << "no camera is no failure: the screen says so in place";
    // Nor is the test tone recorded for want of a microphone.
    EXPECT_TRUE(rig.controller.captureManager().microphone().id.isEmpty());
    EXPECT_FALSE(rig.controller.captureManager().audioInput());
}

TEST(DeviceChoice, ACameraThatCannotBeOpenedIsNamedWithTheReasonAndRecordStaysOff) {
    const struct {
        int error;
        const char* says;
    } cases[] = {{EBUSY, "Busy Cam is in use by another program."},
                 {EACCES, "Tavrio has no permission to use Busy Cam."},
                 {ENODEV, "Busy Cam is not connected."}};
    for (const auto& c : cases) {
        Rig rig;
        rig.devices.add("Busy Cam", c.error);
        rig.setUp();
        ASSERT_EQ(rig.errors.size(), 1u) << c.says;
        EXPECT_EQ(rig.errors[0].first, QLatin1String(RecordingController::kCameraFailureTitle));
        EXPECT_EQ(rig.errors[0].second, QString::fromLatin1(c.says));
        EXPECT_TRUE(rig.controller.cameraFound());
        EXPECT_FALSE(rig.controller.isRecordEnabled());
        EXPECT_FALSE(rig.controller.record());
        // A restart that fails is told the same way.
        rig.errors.clear();
        rig.controller.restartSession();
        ASSERT_TRUE(testsupport::spinUntil([&] { return !rig.errors.empty(); }));
        EXPECT_EQ(rig.errors[0].second, QString::fromLatin1(c.says));
        EXPECT_FALSE(rig.controller.isRecordEnabled());
    }
}

TEST(DeviceChoice, AMicrophoneThatFailsIsToldOnceAndTheMoviesAreSilent) {
    Rig rig;
    rig.devices.add("Cam");
    rig.devices.microphones.push_back({"test:busy-mic-" + std::to_string(::getpid()), "Headset", {}});
    rig.setUp();
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0].first, QLatin1String(RecordingController::kMicrophoneFailureTitle));
    EXPECT_EQ(rig.errors[0].second,
              QStringLiteral("Headset is in use by another program. Movies are recorded without sound."));
    EXPECT_TRUE(rig.controller.isRecordEnabled());
    // Set up again (a new preset): the same microphone's failure is not told twice.
    rig.setUp();
    EXPECT_EQ(rig.errors.size(), 1u);
    ASSERT_TRUE(rig.controller.record());
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return rig.controller.state() == State::Recording &&
               rig.controller.captureManager().movieFileOutput()->recordedDuration() >= 0.3;
    }));
    rig.controller.stop();
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.controller.state() == State::Idle; }));
    testsupport::MovieFacts facts;
    ASSERT_TRUE(testsupport::readMovie(rig.finishedMovie.toStdString(), facts, 1000));
    EXPECT_EQ(facts.audioStreams, 0) << "no test tone in place of the microphone";
}

TEST(DeviceChoice, AHeadsetUnpluggedAndPluggedInAgainBringsItsSoundBack) {
    Rig rig;
    rig.devices.add("Cam");
    const std::string headset = "test:headset-" + std::to_string(::getpid());
    auto plug = [&](bool in) {
        {
            std::lock_guard lock(rig.devices.mutex);
            if (in)
                rig.devices.microphones.push_back({headset, "Headset", {}});
            else
                rig.devices.microphones.clear();
        }
        rig.plugged();
    };
    {
        std::lock_guard lock(rig.devices.mutex);
        rig.devices.microphones.push_back({headset, "Headset", {}});
    }
    rig.setUp();
    auto& manager = rig.controller.captureManager();
    auto inStep = [&] {
        std::vector<std::shared_ptr<media::CaptureDeviceInput>> held;
        for (const auto& input : {manager.videoInput(), manager.audioInput()})
            if (input) held.push_back(input);
        return manager.session()->inputs() == held;
    };
    EXPECT_EQ(manager.microphone().id, QString::fromStdString(headset));
    plug(false);
    EXPECT_TRUE(manager.microphone().id.isEmpty());
    EXPECT_FALSE(manager.audioInput());
    EXPECT_TRUE(inStep());
    plug(true);
    EXPECT_EQ(manager.microphone().id, QString::fromStdString(headset));
    ASSERT_TRUE(manager.audioInput());
    EXPECT_TRUE(inStep());
    EXPECT_FALSE(manager.microphone().error);
    EXPECT_TRUE(rig.errors.empty());
}

TEST(DeviceChoice, ARememberedCameraAbsentGivesWayAndIsPickedUpWhenItReturns) {
    Rig rig;
    const std::string first = rig.devices.add("First Cam");
    const std::string favourite = "test:favourite-" + std::to_string(::getpid());
    Rig::remember(favourite);
    rig.setUp();
    EXPECT_EQ(rig.cameraID(), QString::fromStdString(first));
    EXPECT_TRUE(rig.controller.isRecordEnabled());

    {
        std::lock_guard lock(rig.devices.mutex);
        rig.devices.cameras.push_back({favourite, "Favourite", {}});
    }
    rig.plugged();
    EXPECT_EQ(rig.cameraID(), QString::fromStdString(favourite));
    EXPECT_TRUE(rig.controller.isCameraRunning());
    EXPECT_FALSE(rig.controller.captureManager().inputsOutOfStep());

    // Given for this run, another camera wins over the remembered one.
    rig.controller.captureManager().setCameraID(QString::fromStdString(first));
    rig.controller.followDeviceChoice();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !rig.controller.isSessionSetUpPending(); }));
    EXPECT_EQ(rig.cameraID(), QString::fromStdString(first));
}

TEST(DeviceChoice, DevicesComingAndGoingDuringATakeLeaveItWholeUntilItsOwnCameraGoes) {
    Rig rig;
    const std::string own = rig.devices.add("Own Cam");
    rig.setUp();
    ASSERT_TRUE(rig.controller.record());
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return rig.controller.state() == State::Recording &&
               rig.controller.captureManager().movieFileOutput()->recordedDuration() >= 0.5;
    }));
    const auto video = rig.controller.captureManager().videoInput();

    // Another camera comes and goes: the take goes on with the inputs it began with.
    const std::string other = rig.devices.add("Other Cam");
    rig.plugged();
    rig.devices.remove(other);
    rig.plugged();
    EXPECT_EQ(rig.controller.state(), State::Recording);
    EXPECT_EQ(rig.controller.captureManager().videoInput(), video);
    EXPECT_EQ(rig.controller.captureManager().session()->inputs(), std::vector{video});
    ASSERT_TRUE(testsupport::spinUntil(
        [&] { return rig.controller.captureManager().movieFileOutput()->recordedDuration() >= 1.5; }));

    // Its own camera goes: the take ends, is kept, and the user is told.
    rig.controller.zoomSliderChanged(0.5f);
    rig.devices.remove(own);
    rig.plugged();
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.controller.state() == State::Idle; }));
    ASSERT_FALSE(rig.finishedMovie.isEmpty());
    ASSERT_FALSE(rig.errors.empty());
    EXPECT_EQ(rig.errors.back().first, QLatin1String(RecordingController::kDeviceLostTitle));
    EXPECT_TRUE(rig.errors.back().second.startsWith(QStringLiteral("Own Cam was disconnected")));
    EXPECT_GE(rig.controller.zooms().size(), 2u) << "the take keeps its zoom track";

    // Every picture is there: the only gaps are pictures a busy machine dropped (and counted),
    // none from the plugging; restarting the inputs would have left a gap nobody counted.
    std::vector<double> times;
    ASSERT_TRUE(testsupport::forEachPicture(rig.finishedMovie.toStdString(), [&](const AVFrame&, auto t) {
        times.push_back(t.seconds());
        return true;
    }));
    ASSERT_GT(times.size(), 10u);
    uint64_t missing = 0;
    for (size_t i = 1; i < times.size(); ++i)
        missing += uint64_t(std::max<long>(0, std::lround((times[i] - times[i - 1]) * 30) - 1));
    EXPECT_LE(missing, rig.droppedInMovie)
        << times.size() << " pictures from " << times.front() << " to " << times.back() << " s";

    // Afterwards the session follows the devices present: none, so nothing is filmed.
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.controller.captureManager().camera().id.isEmpty(); }));
    EXPECT_FALSE(rig.controller.isRecordEnabled());
}

TEST(DeviceChoice, TheMovieTurnsAsThePreviewTurnedThePicture) {
    // An upright camera (a webcam, the test picture) records upright however the screen is held;
    // a phone's quarter-mounted sensor records portrait held upright, landscape held on its side.
    EXPECT_EQ(preview::captureOrientationForTurn(preview::recordingTurn(0, false)), 3);
    EXPECT_EQ(preview::captureOrientationForTurn(preview::recordingTurn(0, true)), 3);
    EXPECT_EQ(preview::captureOrientationForTurn(preview::recordingTurn(90, false)), 1);
    EXPECT_EQ(preview::captureOrientationForTurn(preview::recordingTurn(90, true)), 3);
    EXPECT_EQ(preview::captureOrientationForTurn(preview::recordingTurn(180, false)), 4);
    EXPECT_EQ(preview::captureOrientationForTurn(preview::recordingTurn(270, false)), 2);
}
