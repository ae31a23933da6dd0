#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "CaptureTestSupport.h"
#include "media/CapturePresets.h"
#include "media/capture/MovieFileOutput.h"
#include "media/capture/VirtualDevices.h"
#include "support/TestSupport.h"

using namespace media;
using capturetest::probeMovie;
using capturetest::waitFor;

namespace {

struct Rig {
    CaptureSession session;
    std::shared_ptr<MovieFileOutput> output = std::make_shared<MovieFileOutput>();

    Rig(CapturePreset preset, const std::string& camera, bool withSound = true) {
        session.setSessionPreset(preset);
        Error err;
        auto cam = CaptureDevice::deviceWithUniqueID(camera, &err);
        EXPECT_TRUE(cam) << err.description;
        if (cam) session.addInput(CaptureDeviceInput::create(cam));
        if (withSound)
            session.addInput(
                CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualMicrophoneID)));
        session.addOutput(output);
        session.startRunning();
    }

    // Records until the movie holds `seconds` of pictures; returns the finish report.
    Error record(const std::string& path, double seconds, std::shared_ptr<capturetest::Recorder> d = nullptr,
                 bool expectToRun = true) {
        if (!d) d = std::make_shared<capturetest::Recorder>();
        auto finished = d->finishedPromise.get_future();
        output->startRecording(path, d);
        // Until stopped, a recording that can run reports recording; one that cannot may
        // already have finished by the time this is asked.
        if (expectToRun) {
            EXPECT_TRUE(output->isRecording());
        }
        EXPECT_TRUE(waitFor([&] { return output->recordedDuration() >= seconds || !output->isRecording(); }));
        output->stopRecording();
        EXPECT_EQ(finished.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_FALSE(output->isRecording());
        return finished.get();
    }
};

}  // namespace

TEST(MovieRecording, VirtualCameraPortraitRecordingIsAnOrdinaryMovieWithSoundAndDisplayMatrix) {
    testsupport::TempDir dir;
    std::string path = (dir.path() / "Out1.mov").string();
    Rig rig(CapturePreset::Size640x480, CaptureDevice::kVirtualCameraID);
    ASSERT_TRUE(rig.session.isRunning());
    rig.output->connectionWithMediaType(MediaType::Video)->setVideoOrientation(VideoOrientation::Portrait);
    auto d = std::make_shared<capturetest::Recorder>();
    const uint64_t sourceDroppedBefore = rig.session.sourceDroppedFrames();
    Error e = rig.record(path, 2.0, d);
    const uint64_t dropped = rig.session.sourceDroppedFrames() - sourceDroppedBefore + rig.output->droppedFrameCount();
    EXPECT_FALSE(e.isError()) << e.description << " " << e.failureReason;
    EXPECT_EQ(d->events, (std::vector<std::string>{"started", "finished"}));

    auto info = probeMovie(path);
    ASSERT_TRUE(info.opened) << info.error;
    // Pixels as the sensor delivers them; the matrix turns them for display.
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    ASSERT_TRUE(info.hasMatrix);
    EXPECT_EQ(info.matrix[0], 0);
    EXPECT_EQ(info.matrix[1], 1 << 16);
    EXPECT_EQ(info.matrix[3], -(1 << 16));
    EXPECT_EQ(info.matrix[4], 0);
    EXPECT_GE(info.lastFrameTime, 1.9);
    EXPECT_LE(info.lastFrameTime, 3.0);
    // Every picture the camera took between the movie's first and last is in it, unless it was
    // counted as dropped (a loaded machine reads the camera late or outruns the encoder); none is
    // in it twice.
    const int taken = int(std::lround((info.lastFrameTime - info.videoStart) * 30)) + 1;
    EXPECT_LE(info.decodedFrames, taken);
    EXPECT_GE(uint64_t(info.decodedFrames) + dropped, uint64_t(taken)) << info.decodedFrames << " in the movie";
    ASSERT_TRUE(info.hasAudio);
    EXPECT_GT(info.audioSeconds, 1.8);
    // Sound and pictures start together, within a frame.
    EXPECT_NEAR(info.audioStart, info.videoStart, 1.0 / 30);
    EXPECT_FALSE(capturetest::isFragmented(path));
    EXPECT_NEAR(capturetest::ffprobeVideoSeconds(path), info.lastFrameTime, 0.05);
    // No leftovers beside the movie.
    int files = 0;
    for (auto& f : std::filesystem::directory_iterator(dir.path())) files += f.is_regular_file();
    EXPECT_EQ(files, 1);

    // The output is ready for the next recording; a landscape one carries no turn.
    std::string second = (dir.path() / "Out2.mov").string();
    rig.output->connectionWithMediaType(MediaType::Video)->setVideoOrientation(VideoOrientation::LandscapeRight);
    e = rig.record(second, 0.5);
    EXPECT_FALSE(e.isError()) << e.description;
    auto info2 = probeMovie(second);
    ASSERT_TRUE(info2.opened);
    EXPECT_FALSE(info2.hasMatrix);
}

TEST(MovieRecording, FileCameraRecordingHasThePresetSizeAndPlays) {
    auto movie = testsupport::sharedMedia("mp4ff__prog_8s.mp4");
    if (movie.empty()) GTEST_SKIP() << "shared media not present";
    testsupport::TempDir dir;
    std::string path = (dir.path() / "file.mov").string();
    Rig rig(CapturePreset::Medium, "file:" + movie.string());
    ASSERT_TRUE(rig.session.isRunning());
    Error e = rig.record(path, 2.0);
    EXPECT_FALSE(e.isError()) << e.description;
    auto info = probeMovie(path);
    ASSERT_TRUE(info.opened) << info.error;
    EXPECT_EQ(info.width, 480);
    EXPECT_EQ(info.height, 360);
    EXPECT_GE(info.lastFrameTime, 1.8);
    EXPECT_TRUE(info.hasAudio);
    EXPECT_FALSE(capturetest::isFragmented(path));
    EXPECT_GT(capturetest::ffprobeVideoSeconds(path), 1.8);
}

TEST(MovieRecording, FailuresBeforeAnySampleAreReportedWithoutStarting) {
    testsupport::TempDir dir;
    // A folder that does not exist.
    {
        Rig rig(CapturePreset::Low, CaptureDevice::kVirtualCameraID, false);
        auto d = std::make_shared<capturetest::Recorder>();
        Error e = rig.record((dir.path() / "missing" / "x.mov").string(), 0.1, d, false);
        EXPECT_TRUE(e.isError());
        EXPECT_EQ(e.code, ENOENT);
        EXPECT_EQ(d->events, (std::vector<std::string>{"finished"}));
    }
    // An existing file is never overwritten.
    {
        Rig rig(CapturePreset::Low, CaptureDevice::kVirtualCameraID, false);
        auto earlier = dir.path() / "Out.mov";
        testsupport::writeFile(earlier, "an earlier movie");
        auto d = std::make_shared<capturetest::Recorder>();
        Error e = rig.record(earlier.string(), 0.1, d, false);
        EXPECT_EQ(e.code, EEXIST);
        EXPECT_EQ(testsupport::readFile(earlier), "an earlier movie");
        EXPECT_EQ(d->events, (std::vector<std::string>{"finished"}));
    }
    // A session that is not running records nothing and says why.
    {
        CaptureSession session;
        auto out = std::make_shared<MovieFileOutput>();
        session.addOutput(out);
        session.addInput(
            CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID)));
        auto d = std::make_shared<capturetest::Recorder>();
        auto fut = d->finishedPromise.get_future();
        out->startRecording((dir.path() / "y.mov").string(), d);
        ASSERT_EQ(fut.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_TRUE(fut.get().isError());
        EXPECT_FALSE(out->isRecording());
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "y.mov"));
    }
    // Stopped before the first picture: no movie, and an error rather than an empty file.
    {
        auto started = std::make_shared<std::atomic<int>>(0);
        std::promise<Error> done;
        auto fut = done.get_future();
        {
            RecorderSettings s;
            s.path = (dir.path() / "z.mov").string();
            s.videoSize = {320, 240};
            MovieRecorder r(
                s, [started] { ++*started; }, [&](const Error& e) { done.set_value(e); });
            r.stop();
        }
        Error e = fut.get();
        EXPECT_EQ(e.code, ENODATA);
        EXPECT_EQ(started->load(), 0);
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "z.mov"));
    }
}

TEST(MovieRecording, ABackloggedEncoderDropsAndCountsFramesButKeepsEveryOneItTook) {
    testsupport::TempDir dir;
    RecorderSettings s;
    s.path = (dir.path() / "burst.mov").string();
    s.videoSize = {320, 240};
    s.maxQueuedFrames = 3;
    TestPattern pattern({320, 240});
    uint64_t written = 0, dropped = 0;
    {
        MovieRecorder r(s, nullptr, nullptr);
        int64_t t0 = monotonicNowNs();
        // Sixty pictures at once: far more than the queue holds.
        for (int i = 0; i < 60; ++i) r.appendVideo({shareFrame(pattern.render(i, 30, false)), t0 + i * 33333333LL, i});
        r.stop();
        r.waitUntilFinished();
        written = r.writtenFrames();
        dropped = r.droppedFrames();
    }
    EXPECT_EQ(written + dropped, 60u);
    auto info = probeMovie(s.path);
    ASSERT_TRUE(info.opened);
    EXPECT_EQ(uint64_t(info.decodedFrames), written);
    EXPECT_FALSE(info.hasAudio);
}

TEST(MovieRecording, SoundAndPicturesShareOneClock) {
    // Sound starts 100 ms before the first picture (as a microphone usually does); its click at
    // sample 48000 was heard 0.9 s after that picture was taken, so the movie must play it at 0.9 s.
    testsupport::TempDir dir;
    RecorderSettings s;
    s.path = (dir.path() / "sync.mov").string();
    s.videoSize = {192, 144};
    s.sampleRate = 48000;
    s.channels = 1;
    TestPattern pattern({192, 144});
    const int64_t t0 = 1000000000000LL;
    {
        MovieRecorder r(s, nullptr, nullptr);
        int64_t nextAudio = 0;  // in samples, from t0 - 100 ms
        auto audioUpTo = [&](int64_t ns) {
            while (t0 - 100000000LL + nextAudio * 1000000000LL / 48000 <= ns) {
                AudioSample a;
                a.sampleRate = 48000;
                a.channels = 1;
                a.samples.resize(960);
                VirtualMicrophoneTone::fill(a.samples.data(), 960, nextAudio, 48000);
                a.timeNs = t0 - 100000000LL + nextAudio * 1000000000LL / 48000;
                r.appendAudio(a);
                nextAudio += 960;
            }
        };
        for (int i = 0; i < 45; ++i) {
            int64_t t = t0 + i * 1000000000LL / 30;
            audioUpTo(t);
            r.appendVideo({shareFrame(pattern.render(i, 30, false)), t, i});
            // Paced by the recorder's own progress so its picture queue never overflows.
            ASSERT_TRUE(waitFor([&] { return r.writtenFrames() + r.droppedFrames() >= uint64_t(i + 1); }));
        }
        r.stop();
        r.waitUntilFinished();
        EXPECT_EQ(r.droppedFrames(), 0u);
    }
    auto info = probeMovie(s.path);
    ASSERT_TRUE(info.opened);
    ASSERT_EQ(info.audioRate, 48000);
    EXPECT_NEAR(info.audioStart, info.videoStart, 1e-6);
    size_t click = 0;
    for (size_t i = 48000 / 5; i < info.audio.size(); ++i)
        if (std::abs(info.audio[i]) > 0.6f) {
            click = i;
            break;
        }
    EXPECT_NEAR(double(click) / 48000, 0.9, 0.004);
}

TEST(MovieRecording, KilledRecordingLeavesAMoviePlayableToWithinTwoSecondsOfTheKill) {
    testsupport::TempDir dir;
    std::string path = (dir.path() / "killed.mov").string();
    int pipeFd[2];
    ASSERT_EQ(::pipe(pipeFd), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The recording process: reports how much it has handed to the movie, until killed.
        ::close(pipeFd[0]);
        CaptureSession session;
        session.setSessionPreset(CapturePreset::Size640x480);
        session.addInput(
            CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID)));
        session.addInput(
            CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualMicrophoneID)));
        auto out = std::make_shared<MovieFileOutput>();
        session.addOutput(out);
        session.startRunning();
        out->startRecording(path, std::make_shared<RecordingDelegate>());
        for (;;) {
            double t = out->recordedDuration();
            if (::write(pipeFd[1], &t, sizeof t) != sizeof t) ::_exit(1);
            ::usleep(20000);
        }
    }
    ::close(pipeFd[1]);
    double reported = 0;
    while (reported < 3.5) {
        double t;
        if (::read(pipeFd[0], &t, sizeof t) != sizeof t) break;
        reported = t;
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipeFd[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(reported, 3.5);

    auto info = probeMovie(path);
    ASSERT_TRUE(info.opened) << info.error;
    EXPECT_EQ(info.width, 640);
    EXPECT_GE(info.lastFrameTime, reported - 2.0);
    EXPECT_TRUE(info.hasAudio);
    EXPECT_GE(capturetest::ffprobeVideoSeconds(path), reported - 2.0);
}

TEST(MovieRecording, FileSizeLimitStopsWithAnErrorAndKeepsAPlayableMovie) {
    testsupport::TempDir dir;
    std::string path = (dir.path() / "limited.mov").string();
    Rig rig(CapturePreset::Size640x480, CaptureDevice::kVirtualCameraID);
    // As the programs' mains do: the limit then fails the write instead of killing the process.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit lim = old;
    lim.rlim_cur = 400 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    auto d = std::make_shared<capturetest::Recorder>();
    auto finished = d->finishedPromise.get_future();
    rig.output->startRecording(path, d);
    // The limit ends the recording by itself.
    bool ended = finished.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(ended);
    Error e = finished.get();
    EXPECT_EQ(e.code, EFBIG);
    EXPECT_FALSE(e.recoverySuggestion.empty());
    EXPECT_FALSE(rig.output->isRecording());
    EXPECT_LE(std::filesystem::file_size(path), 400u * 1024);

    auto info = probeMovie(path);
    ASSERT_TRUE(info.opened) << info.error;
    EXPECT_GT(info.decodedFrames, 10);
    EXPECT_GT(capturetest::ffprobeVideoSeconds(path), 0.3);
}

TEST(MovieRecording, FileCameraLoopsAShortMovieForAsLongAsTheRecordingRuns) {
    auto movie = testsupport::sharedMedia("mp4ff__stereo_spatial.mp4");  // 10 pictures, 1/3 s
    if (movie.empty()) GTEST_SKIP() << "shared media not present";
    testsupport::TempDir dir;
    std::string path = (dir.path() / "loop.mov").string();
    Rig rig(CapturePreset::Low, "file:" + movie.string(), false);
    ASSERT_TRUE(rig.session.isRunning());
    Error e = rig.record(path, 1.5);
    EXPECT_FALSE(e.isError()) << e.description;
    auto info = probeMovie(path);
    ASSERT_TRUE(info.opened);
    EXPECT_GE(info.lastFrameTime, 1.4);
    // Played on at the movie's own 30 pictures a second, across four restarts.
    EXPECT_GE(info.decodedFrames, 38);
    EXPECT_LE(info.decodedFrames, 50);
}

TEST(MovieRecording, AFileCameraWithoutDecodablePicturesFailsTheRecordingInsteadOfHanging) {
    auto movie = testsupport::sharedMedia("mp4parse__bipbop_nonfragment_header.mp4");  // header only
    if (movie.empty()) GTEST_SKIP() << "shared media not present";
    testsupport::TempDir dir;
    Error err;
    auto dev = CaptureDevice::deviceWithUniqueID("file:" + movie.string(), &err);
    if (!dev) {
        EXPECT_TRUE(err.isError());  // refused up front: as good
        return;
    }
    CaptureSession session;
    std::promise<Error> runtime;
    std::once_flag once;
    session.setRuntimeErrorHandler({}, [&](Error e) { std::call_once(once, [&] { runtime.set_value(e); }); });
    auto out = std::make_shared<MovieFileOutput>();
    session.addInput(CaptureDeviceInput::create(dev));
    session.addOutput(out);
    session.startRunning();
    auto d = std::make_shared<capturetest::Recorder>();
    auto finished = d->finishedPromise.get_future();
    out->startRecording((dir.path() / "none.mov").string(), d);
    auto r = runtime.get_future();
    ASSERT_EQ(r.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(r.get().isError());
    ASSERT_EQ(finished.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(finished.get().isError());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "none.mov"));
}
