// Cameras through a real PipeWire: each test starts its own daemon and session manager on a
// private bus in a temporary runtime folder, with a GStreamer test camera published as a
// Video/Source node, and stops them when it ends.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "media/capture/CaptureDevice.h"
#include "media/capture/DeviceBackends.h"
#include "media/capture/DeviceMonitor.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

using namespace media;
namespace fs = std::filesystem;

namespace {

bool onPath(const std::string& program) {
    return testsupport::run("command -v " + program + " >/dev/null 2>&1") == 0;
}

// A program in the background, stopped by its own process id.
class Child {
public:
    Child(const std::vector<std::string>& argv, const fs::path& log) {
        pid_ = ::fork();
        if (pid_ == 0) {
            FILE* f = std::freopen(log.c_str(), "w", stdout);
            (void)f;
            ::dup2(STDOUT_FILENO, STDERR_FILENO);
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }
    ~Child() { stop(); }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// Waits for a condition that the daemons make true; gives up (and the test fails) after a minute.
template <typename F>
bool eventually(F condition) {
    for (int i = 0; i < 600; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool listed(const std::string& id) {
    for (auto& d : CaptureDevice::devices(MediaType::Video))
        if (d->uniqueID() == id) return true;
    return false;
}

class PipeWire : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"pipewire", "wireplumber", "gst-launch-1.0", "dbus-daemon"})
            if (!onPath(program)) GTEST_SKIP() << program << " is not installed (see scripts/packages.txt)";
        if (testsupport::run("gst-inspect-1.0 pipewiresink >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "GStreamer's pipewiresink is not installed (gstreamer1.0-pipewire)";
        fs::permissions(runtime_.path(), fs::perms::owner_all, fs::perm_options::replace);
        ::setenv("XDG_RUNTIME_DIR", runtime_.str().c_str(), 1);
        ::unsetenv("PIPEWIRE_REMOTE");
        const std::string bus = "unix:path=" + runtime_.str() + "/bus";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        bus_ = std::make_unique<Child>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus},
            runtime_.path() / "dbus.log");
        ASSERT_TRUE(eventually([&] { return fs::exists(runtime_.path() / "bus"); }));
        startDaemon();
        wireplumber_ =
            std::make_unique<Child>(std::vector<std::string>{"wireplumber"}, runtime_.path() / "wireplumber.log");
    }

    void startDaemon() {
        daemon_ = std::make_unique<Child>(std::vector<std::string>{"pipewire"}, runtime_.path() / "pipewire.log");
        ASSERT_TRUE(eventually([&] { return fs::exists(runtime_.path() / "pipewire-0"); }));
    }

    void startCamera() {
        camera_ = std::make_unique<Child>(
            std::vector<std::string>{"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "!",
                                     "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1", "!",
                                     "pipewiresink", "mode=provide",
                                     "stream-properties=props,media.class=Video/Source,media.role=Camera",
                                     "client-name=TestCam"},
            runtime_.path() / "camera.log");
        ASSERT_TRUE(eventually([] { return listed("pipewire:TestCam"); }))
            << testsupport::readFile(runtime_.path() / "camera.log");
    }

    void TearDown() override {
        camera_.reset();
        wireplumber_.reset();
        daemon_.reset();
        bus_.reset();
    }

    testsupport::TempDir runtime_;
    std::unique_ptr<Child> bus_, daemon_, wireplumber_, camera_;
};

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
    ASSERT_EQ(testsupport::run(std::string(TAVRIO_CLI) +
                                   " record --seconds 3 --camera pipewire:TestCam --mic none --quality high",
                               &out),
              0)
        << out;
    const std::string movie = out.substr(0, out.find('\n'));
    testsupport::MovieFacts facts;
    ASSERT_TRUE(testsupport::readMovie(movie, facts, 30)) << movie;
    ASSERT_FALSE(facts.frames.empty());
    EXPECT_EQ(facts.frames.front().width, 1280);
    EXPECT_EQ(facts.frames.front().height, 720);
    // 3 s at 30 fps, every picture kept: the count is the duration's, give or take the one the
    // stop lands in.
    const double frames = double(facts.frames.size());
    EXPECT_NEAR(frames / facts.videoDuration, 30, 0.5) << frames << " in " << facts.videoDuration;
    EXPECT_NEAR(facts.videoDuration, 3, 0.2);
    EXPECT_NEAR(frames, 90, 3);
}

TEST_F(PipeWire, ANodeRemovedMidPreviewIsReportedAsTheCameraGone) {
    startCamera();
    std::mutex m;
    std::vector<std::string> gone;
    DeviceMonitor monitor(
        {}, {},
        [&](std::shared_ptr<CaptureDevice> d) {
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
    while (source->read(s, &error)) {
    }
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
    wireplumber_ =
        std::make_unique<Child>(std::vector<std::string>{"wireplumber"}, runtime_.path() / "wireplumber.log");
    startCamera();
}
