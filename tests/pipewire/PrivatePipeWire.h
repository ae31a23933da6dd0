#pragma once
// A private PipeWire for a test: its own daemon and session manager on a private bus in a
// temporary runtime folder, and a GStreamer test camera published as a Video/Source node. All
// are stopped, by their process ids, when the test ends.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "media/capture/CaptureDevice.h"
#include "support/TestSupport.h"

namespace pwtest {

using namespace media;
namespace fs = std::filesystem;

inline bool onPath(const std::string& program) {
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

inline bool listed(const std::string& id) {
    for (auto& d : CaptureDevice::devices(MediaType::Video))
        if (d->uniqueID() == id) return true;
    return false;
}

class PrivatePipeWire : public ::testing::Test {
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
        startSessionManager();
    }

    void startSessionManager() {
        wireplumber_ =
            std::make_unique<Child>(std::vector<std::string>{"wireplumber"}, runtime_.path() / "wireplumber.log");
    }

    void startDaemon() {
        daemon_ = std::make_unique<Child>(std::vector<std::string>{"pipewire"}, runtime_.path() / "pipewire.log");
        ASSERT_TRUE(eventually([&] { return fs::exists(runtime_.path() / "pipewire-0"); }));
    }

    void startCamera() {
        launchCamera();
        ASSERT_TRUE(eventually([] { return listed("pipewire:TestCam"); }))
            << testsupport::readFile(runtime_.path() / "camera.log");
    }

    // The camera published, without looking for it.
    void launchCamera() {
        camera_ = std::make_unique<Child>(
            std::vector<std::string>{
                "gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "!",
                "video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1", "!", "pipewiresink", "mode=provide",
                "stream-properties=props,media.class=Video/Source,media.role=Camera", "client-name=TestCam"},
            runtime_.path() / "camera.log");
    }

    void TearDown() override {
        camera_.reset();
        wireplumber_.reset();
        daemon_.reset();
        bus_.reset();
    }

    std::string busAddress() const { return "unix:path=" + runtime_.str() + "/bus"; }
    testsupport::TempDir runtime_;
    std::unique_ptr<Child> bus_, daemon_, wireplumber_, camera_;
};

}  // namespace pwtest
