// Cameras through a real PipeWire that each test starts for itself (PrivatePipeWire.h).

#include <algorithm>
#include <mutex>

#include "PrivatePipeWire.h"
#include "media/capture/DeviceBackends.h"
#include "media/capture/DeviceMonitor.h"
#include "support/MovieFrames.h"

using namespace media;
using pwtest::eventually;
using pwtest::listed;

namespace {
using PipeWire = pwtest::PrivatePipeWire;
}  // namespace

TEST_F(PipeWire, TheTestNodeIsListedWithItsFormatAndRecordsThroughTheCli) {
    startCamera();
    auto cam = CaptureDevice::deviceWithUniqueID("pipewire:TestCam");
    ASSERT_TRUE(cam);
    EXPECT_EQ(cam->backendName(), "pipewire");
    EXPECT_EQ(cam->localizedName(), "TestCam");
    ASSERT_FALSE(cam->formats().empty());
    const VideoFormat f = cam->formats().front();
    EXPECT_EQ(f.pixelFormat, "yuyv422");
    EXPECT_EQ(f.size, (Size{1280, 720}));
    ASSERT_FALSE(f.frameRates.empty());
    EXPECT_DOUBLE_EQ(f.frameRates.front(), 30);
    // A real camera: the one a fresh user gets by default, not the test picture.
    EXPECT_EQ(CaptureDevice::defaultDevice(MediaType::Video), cam);

    testsupport::TempHome home;
    std::string out;
    ASSERT_EQ(testsupport::run(std::string(TAVRIO_CLI) + " devices", &out), 0);
    EXPECT_NE(out.find("camera pipewire:TestCam  TestCam  [pipewire]"), std::string::npos) << out;
    EXPECT_NE(out.find("  yuyv422 1280x720 30"), std::string::npos) << out;

    out.clear();
    ASSERT_EQ(
        testsupport::run(
            std::string(TAVRIO_CLI) + " record --seconds 3 --camera pipewire:TestCam --mic none --quality high", &out),
        0)
        << out;
    const std::string movie = out.substr(0, out.find('\n'));
    testsupport::MovieFacts facts;
    ASSERT_TRUE(testsupport::readMovie(movie, facts, 30)) << movie;
    ASSERT_FALSE(facts.frames.empty());
    EXPECT_EQ(facts.frames.front().width, 1280);
    EXPECT_EQ(facts.frames.front().height, 720);
    // At least the 3 s asked for (a loaded machine stops a little later), at 30 fps: never more
    // pictures than the duration holds, none twice. A machine too busy to keep up may lose a
    // few pictures (the camera benchmark counts those), never most of them.
    const double frames = double(facts.frames.size());
    EXPECT_GE(facts.videoDuration, 2.95);
    EXPECT_LE(frames, facts.videoDuration * 30 + 1.5) << frames << " in " << facts.videoDuration;
    EXPECT_GE(frames, facts.videoDuration * 30 * 0.75) << frames << " in " << facts.videoDuration;
    for (size_t i = 1; i < facts.frames.size(); ++i)
        EXPECT_GT(facts.frames[i].time, facts.frames[i - 1].time) << "picture " << i;
}

TEST_F(PipeWire, TheMonitorSeesACameraComeAndGoWithoutBeingAsked) {
    std::mutex m;
    std::vector<std::string> events;
    auto note = [&](const char* sign, const std::shared_ptr<CaptureDevice>& d) {
        std::lock_guard lock(m);
        events.push_back(sign + d->uniqueID());
    };
    auto seen = [&](const std::string& event) {
        std::lock_guard lock(m);
        return std::find(events.begin(), events.end(), event) != events.end();
    };
    DeviceMonitor monitor(
        {}, [&](std::shared_ptr<CaptureDevice> d) { note("+", d); },
        [&](std::shared_ptr<CaptureDevice> d) { note("-", d); });
    ASSERT_TRUE(eventually([&] { return monitor.devices().size() > 0; }));  // the baseline is taken
    ASSERT_FALSE(seen("+pipewire:TestCam"));
    launchCamera();
    EXPECT_TRUE(eventually([&] { return seen("+pipewire:TestCam"); }))
        << testsupport::readFile(runtime_.path() / "camera.log");
    camera_.reset();
    EXPECT_TRUE(eventually([&] { return seen("-pipewire:TestCam"); }));
}

TEST_F(PipeWire, ANodeRemovedMidPreviewIsReportedAsTheCameraGone) {
    startCamera();
    std::mutex m;
    std::vector<std::string> gone;
    DeviceMonitor monitor({}, {}, [&](std::shared_ptr<CaptureDevice> d) {
        std::lock_guard lock(m);
        gone.push_back(d->uniqueID());
    });
    ASSERT_TRUE(eventually([&] { return monitor.devices().size() > 0; }));

    auto cam = CaptureDevice::deviceWithUniqueID("pipewire:TestCam");
    ASSERT_TRUE(cam);
    Error error;
    auto source = cam->openVideo({1280, 720}, 30, &error);
    ASSERT_TRUE(source) << error.description << " " << error.failureReason;
    EXPECT_EQ(source->size(), (Size{1280, 720}));
    EXPECT_DOUBLE_EQ(source->frameRate(), 30);
    VideoSample first, second;
    ASSERT_TRUE(source->read(first, &error));
    ASSERT_TRUE(source->read(second, &error));
    // Stamped on the capture clock as they arrive, one picture apart.
    EXPECT_GT(second.timeNs, first.timeNs);
    EXPECT_LE(first.timeNs, monotonicNowNs());
    EXPECT_EQ(second.sequence, first.sequence + 1);

    camera_->stop();
    VideoSample s;
    error = {};
    while (source->read(s, &error)) {}
    EXPECT_EQ(deviceProblem(error), DeviceProblem::Gone) << error.description;
    EXPECT_NE(error.failureReason.find("TestCam"), std::string::npos) << error.failureReason;
    // The monitor hears of it without udev: PipeWire told the backend.
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(m);
        return std::find(gone.begin(), gone.end(), "pipewire:TestCam") != gone.end();
    }));
    EXPECT_FALSE(cam->isConnected());
}

TEST_F(PipeWire, WithoutTheDaemonTheOtherCamerasStillWork) {
    startCamera();
    camera_.reset();
    wireplumber_.reset();
    daemon_.reset();
    EXPECT_TRUE(eventually([] { return !listed("pipewire:TestCam"); }));
    EXPECT_FALSE(backends::pipeWireProblem().empty());
    // What V4L2 has is listed as ever, and the test picture still records.
    std::vector<std::string> expected;
    for (auto& f : backends::findV4L2Cameras()) expected.push_back(f.id);
    std::vector<std::string> cameras;
    for (auto& d : CaptureDevice::devices(MediaType::Video))
        if (!d->isVirtual()) cameras.push_back(d->uniqueID());
    EXPECT_EQ(cameras, expected);
    Error error;
    auto source = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID)->openVideo({640, 480}, 30, &error);
    ASSERT_TRUE(source);
    VideoSample s;
    EXPECT_TRUE(source->read(s, &error));

    // The daemon back: the camera comes back with it, through a new connection.
    startDaemon();
    startSessionManager();
    startCamera();
}
