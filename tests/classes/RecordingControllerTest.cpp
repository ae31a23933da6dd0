#include "RecordingController.h"
#include "VideoAssetsViewController.h"
#include "MediaStore.h"
#include "ZoomTrack.h"

#include "media/CapturePresets.h"
#include "support/TestPattern.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/MovieFileOutput.h"
#include "platform/DeviceOrientation.h"
#include "platform/Notifications.h"

#include "support/ZoomMoves.h"
#include "support/MovieFrames.h"
#include "support/QtApp.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;
using State = RecordingController::State;

namespace {

using testsupport::movesOf;

// AddressSanitizer stops a program whose first loaded library is not its runtime, which a library
// preloaded ahead of it would be: a child given one is given this process's runtime first.
std::string preloadAfterSanitizer(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const auto slash = line.find('/');
        if (slash != std::string::npos && fs::path(line.substr(slash)).filename().string().starts_with("libasan.so"))
            return line.substr(slash) + ":" + library;
    }
    return library;
}

// A controller on the virtual devices, with everything it reports written down.
struct Rig {
    testsupport::TempHome home;
    RecordingController controller;
    std::vector<State> states;
    std::vector<std::pair<QString, QString>> errors;
    QString finishedMovie;
    QImage finishedThumbnail;
    int finishedCount = 0;
    int restarts = 0;
    std::optional<bool> setUp;
    std::vector<std::function<void()>> proceeds;
    bool probeAtIdle = false;
    std::optional<bool> enabledAtIdle, pressAtIdle;

    explicit Rig(const QString& camera = QString::fromLatin1(media::CaptureDevice::kVirtualCameraID),
                 media::CapturePreset preset = media::CapturePreset::Low) {
        testsupport::qtApp();
        platform::DeviceOrientation::setOrientation(platform::DeviceOrientation::LandscapeRight);
        controller.setRestartDelay(0);
        controller.captureManager().setCameraID(camera);
        controller.captureManager().setMicrophoneID(QStringLiteral("none"));
        QObject::connect(&controller, &RecordingController::stateChanged, [this](State s) {
            states.push_back(s);
            if (s == State::Idle && probeAtIdle) {
                // Looked at as the take ends: the camera may be back by the time a test's wait
                // returns.
                probeAtIdle = false;
                enabledAtIdle = controller.isRecordEnabled();
                pressAtIdle = controller.record();
            }
        });
        QObject::connect(&controller, &RecordingController::errorReported,
                         [this](const QString& t, const QString& m, const QString&) { errors.emplace_back(t, m); });
        QObject::connect(&controller, &RecordingController::movieFinished, [this](const QString& p, const QImage& i) {
            finishedMovie = p;
            finishedThumbnail = i;
            ++finishedCount;
        });
        QObject::connect(&controller, &RecordingController::sessionRestarted, [this](bool) { ++restarts; });
        QObject::connect(&controller, &RecordingController::sessionSetUp,
                         [this](bool running, const QString&) { setUp = running; });
        controller.setUpSession(preset);
        EXPECT_TRUE(controller.isSessionSetUpPending());  // the camera opens off the main thread
        EXPECT_TRUE(testsupport::spinUntil([&] { return setUp.has_value(); }));
    }

    // Recording until the movie holds `seconds` of pictures.
    void recordFor(double seconds) {
        ASSERT_TRUE(testsupport::spinUntil([&] {
            return controller.state() == State::Recording &&
                   controller.captureManager().movieFileOutput()->recordedDuration() >= seconds;
        }));
    }
    void waitIdle() {
        ASSERT_TRUE(testsupport::spinUntil([&] { return controller.state() == State::Idle; }));
    }
    static QString trackPath(const QString& movie) {
        return MediaStore::zoomsArchiveFilePath(QFileInfo(movie).fileName());
    }
};

}  // namespace

TEST(RecordingController, ACycleKeepsTheSliderBeforeThePressAndEveryMoveUntilTheMovieIsFinished) {
    Rig rig;
    ASSERT_EQ(rig.setUp, true);
    ASSERT_TRUE(rig.controller.isSessionRunning());
    // The screen's start sound: recording waits for it.
    rig.controller.setStartGate([&](std::function<void()> proceed) { rig.proceeds.push_back(proceed); });
    EXPECT_FLOAT_EQ(rig.controller.zoomSliderChanged(0.25f), 1.5f);  // zooms the preview, records nothing
    EXPECT_TRUE(rig.controller.zooms().isEmpty());

    ASSERT_TRUE(rig.controller.record());
    EXPECT_EQ(rig.controller.state(), State::Starting);
    EXPECT_FALSE(rig.controller.record());  // a second press while the sound plays is ignored
    ASSERT_EQ(rig.proceeds.size(), 1u);
    QCoreApplication::processEvents();
    EXPECT_FALSE(rig.controller.captureManager().isRecording());
    rig.proceeds[0]();
    rig.recordFor(0.5);
    // The sound's completion coming again once recording began starts nothing.
    rig.proceeds[0]();
    const QString movie = rig.controller.moviePath();
    EXPECT_EQ(QFileInfo(movie).fileName(), QStringLiteral("Out.mov"));

    rig.controller.zoomSliderChanged(0.5f);
    rig.probeAtIdle = true;
    ASSERT_TRUE(rig.controller.record());
    EXPECT_EQ(rig.controller.state(), State::Stopping);
    EXPECT_FALSE(rig.controller.isRecordEnabled());
    rig.controller.zoomSliderChanged(1.0f);  // between the stop press and the finished file: kept
    rig.waitIdle();
    EXPECT_EQ(rig.states, (std::vector<State>{State::Starting, State::Recording, State::Stopping, State::Idle}));
    EXPECT_TRUE(rig.errors.empty());
    // Off until the camera runs again: a press then would only fail.
    EXPECT_EQ(rig.enabledAtIdle, std::optional<bool>(false));
    EXPECT_EQ(rig.pressAtIdle, std::optional<bool>(false));
    EXPECT_TRUE(testsupport::spinUntil([&] { return rig.controller.isRecordEnabled(); }, 30000));

    ASSERT_EQ(rig.finishedMovie, movie);
    const ZoomTrack track = movesOf(rig.controller.zooms());
    ASSERT_EQ(track.size(), 3);
    EXPECT_FLOAT_EQ(track[0].zoom, 1.5f);
    EXPECT_EQ(track[0].atTime, 0.0);
    EXPECT_EQ(track.orient.value_or(-1), 3);
    EXPECT_FLOAT_EQ(track[1].zoom, 2.0f);
    EXPECT_FLOAT_EQ(track[2].zoom, 3.0f);
    EXPECT_GT(track[1].atTime, 0.4);
    EXPECT_GE(track[2].atTime, track[1].atTime);
    EXPECT_EQ(readZoomTrackFile(Rig::trackPath(movie)), rig.controller.zooms());
    // A move after the finished report belongs to no movie.
    const qsizetype entries = rig.controller.zooms().size();
    rig.controller.zoomSliderChanged(0.0f);
    EXPECT_EQ(rig.controller.zooms().size(), entries);

    EXPECT_FALSE(rig.finishedThumbnail.isNull());
    // The library's own thumbnail, at the size its rows ask for.
    EXPECT_EQ(std::max(rig.finishedThumbnail.width(), rig.finishedThumbnail.height()),
              VideoAssetsViewController::kThumbnailSize);
    const QImage stored(MediaStore::baseDirForThumbnails() + QStringLiteral("/Out.mov.jpeg"));
    EXPECT_EQ(stored.size(), rig.finishedThumbnail.size());
    EXPECT_TRUE(QFileInfo::exists(MediaStore::timingFilePathForVideo(QStringLiteral("Out.mov"))));

    // The manager stopped the session for the finished movie; it comes back by itself.
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.restarts == 1; }));
    EXPECT_TRUE(rig.controller.isSessionRunning());

    // The next recording's entry 0 is the zoom the slider shows now; a start cancelled while the
    // sound plays never records.
    rig.proceeds.clear();
    ASSERT_TRUE(rig.controller.record());
    ASSERT_TRUE(rig.controller.stop());
    EXPECT_EQ(rig.controller.state(), State::Idle);
    rig.proceeds[0]();
    QCoreApplication::processEvents();
    EXPECT_FALSE(rig.controller.captureManager().isRecording());
    rig.controller.setStartGate({});
    ASSERT_TRUE(rig.controller.record());  // without a gate the recording starts at once
    rig.recordFor(0.2);
    EXPECT_FLOAT_EQ(rig.controller.zooms()[0].zoom, 1.0f);
    EXPECT_EQ(rig.controller.moviePath(), MediaStore::baseDirForOriginalVideos() + "/Out-1.mov");
    rig.controller.stop();
    rig.waitIdle();
    EXPECT_EQ(rig.finishedCount, 2);

    // The clock counts whole seconds; the hours widen past 99.
    EXPECT_EQ(RecordingController::clockText(1), QStringLiteral("00:00:01"));
    EXPECT_EQ(RecordingController::clockText(3661), QStringLiteral("01:01:01"));
    EXPECT_EQ(RecordingController::clockText(100 * 3600 + 59), QStringLiteral("100:00:59"));
}

TEST(RecordingController, SleepEndsTheTakeAsAStopRestsTheCameraAndTheWakeTellsWhy) {
    Rig rig;
    ASSERT_EQ(rig.setUp, true);
    rig.controller.zoomSliderChanged(0.5f);
    rig.probeAtIdle = true;
    ASSERT_TRUE(rig.controller.record());
    rig.recordFor(0.4);
    rig.controller.zoomSliderChanged(0.75f);
    const QString movie = rig.controller.moviePath();

    platform::Notifications::center().post(QLatin1String(platform::kWillResignActive));
    EXPECT_EQ(rig.controller.state(), State::Stopping);
    // Finished and kept as a stop keeps it: track, thumbnail, the finished report.
    rig.waitIdle();
    EXPECT_EQ(rig.finishedCount, 1);
    const auto stored = readZoomTrackFile(Rig::trackPath(movie));
    ASSERT_TRUE(stored);
    ASSERT_EQ(movesOf(*stored).size(), 2);
    EXPECT_FLOAT_EQ(movesOf(*stored)[1].zoom, 2.5f);
    EXPECT_TRUE(QFileInfo(movie).size() > 0);
    EXPECT_FALSE(MediaStore::thumbnailPathForVideo(movie).isEmpty());
    // Nothing starts while the system sleeps, and nothing is told before the wake.
    EXPECT_FALSE(rig.controller.isSessionRunning());
    EXPECT_FALSE(rig.controller.isRecordEnabled());
    EXPECT_FALSE(rig.controller.record());
    EXPECT_TRUE(rig.errors.empty());

    platform::Notifications::center().post(QLatin1String(platform::kDidBecomeActive));
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0].first, RecordingController::kSleepEndedTitle);
    EXPECT_TRUE(rig.errors[0].second.contains("sleep")) << rig.errors[0].second.toStdString();
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.controller.isSessionRunning(); }));
    EXPECT_TRUE(testsupport::spinUntil([&] { return rig.controller.isRecordEnabled(); }));

    // Sleeping while idle rests the camera too, and the wake starts it again without a word.
    const int restarts = rig.restarts;
    platform::Notifications::center().post(QLatin1String(platform::kWillResignActive));
    EXPECT_EQ(rig.controller.state(), State::Idle);
    EXPECT_FALSE(rig.controller.isSessionRunning());
    platform::Notifications::center().post(QLatin1String(platform::kDidBecomeActive));
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.restarts == restarts + 1; }));
    EXPECT_TRUE(rig.controller.isSessionRunning());
    EXPECT_EQ(rig.errors.size(), 1u);
}

TEST(RecordingController, ARefusedConfigurationLockIsReportedUnderItsTitle) {
    Rig rig;
    ASSERT_EQ(rig.setUp, true);
    std::vector<int> torch;
    QObject::connect(&rig.controller, &RecordingController::torchModeChanged, [&](int m) { torch.push_back(m); });
    rig.controller.captureManager().setTorchMode(1);
    EXPECT_EQ(torch, std::vector<int>{1});
    // Another program holds the camera's configuration lock.
    auto device = rig.controller.captureManager().videoInput()->device();
    const int other = ::open(device->configurationLockPath().c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    rig.controller.captureManager().setTorchMode(0);
    ::flock(other, LOCK_UN);
    ::close(other);
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0].first, QLatin1String(RecordingController::kLockFailureTitle));
    EXPECT_FALSE(rig.errors[0].second.isEmpty());
    EXPECT_EQ(torch, std::vector<int>{1});  // the torch stayed on, and the button says so
    rig.controller.captureManager().setTorchMode(0);
    EXPECT_EQ(torch, (std::vector<int>{1, 0}));
}

TEST(RecordingController, ACameraThatFailsToOpenIsReportedAndTheControllerStaysUsable) {
    Rig rig(QStringLiteral("/dev/video-none"));
    EXPECT_EQ(rig.setUp, false);
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0].first, QLatin1String(RecordingController::kCameraFailureTitle));
    EXPECT_EQ(rig.errors[0].second, QStringLiteral("/dev/video-none is not connected."));
    EXPECT_EQ(rig.controller.state(), State::Idle);

    // Without a running camera recording is not offered, and a press starts nothing.
    EXPECT_FALSE(rig.controller.isRecordEnabled());
    EXPECT_FALSE(rig.controller.record());
    EXPECT_EQ(rig.controller.state(), State::Idle);
    EXPECT_EQ(rig.finishedCount, 0);
    const std::string originals = MediaStore::baseDirForOriginalVideos().toStdString();
    EXPECT_TRUE(!fs::exists(originals) || fs::is_empty(originals));

    // The camera is back: the same controller sets up and records.
    rig.setUp.reset();
    rig.controller.captureManager().setCameraID(QString::fromLatin1(media::CaptureDevice::kVirtualCameraID));
    rig.controller.setUpSession(media::CapturePreset::Low);
    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.setUp.has_value(); }));
    EXPECT_EQ(rig.setUp, true);
    ASSERT_TRUE(rig.controller.record());
    rig.recordFor(0.2);
    rig.controller.stop();
    rig.waitIdle();
    EXPECT_EQ(rig.finishedCount, 1);
}

TEST(RecordingController, ACameraGoneMidRecordingEndsItWithTheErrorAndKeepsMovieTrackAndThumbnail) {
    testsupport::TempDir dir;
    // The camera plays a movie; emptying the file under it is the camera going away.
    const std::string source = (dir.path() / "camera.mov").string();
    media::testpattern::MovieOptions options;
    options.frameCount = 300;
    ASSERT_TRUE(media::testpattern::makeMovie(source, options));
    Rig rig(QString::fromStdString("file:" + source));
    ASSERT_EQ(rig.setUp, true);
    ASSERT_TRUE(rig.controller.record());
    rig.recordFor(1.2);
    rig.controller.zoomSliderChanged(0.5f);
    const QString movie = rig.controller.moviePath();
    fs::resize_file(source, 0);

    ASSERT_TRUE(testsupport::spinUntil([&] { return rig.controller.state() == State::Idle; }));
    // The take's own error comes first; the camera, started again at once, may fail and say so
    // after it.
    ASSERT_FALSE(rig.errors.empty());
    EXPECT_EQ(rig.errors[0].first, QLatin1String(RecordingController::kErrorTitle));
    ASSERT_TRUE(testsupport::spinUntil([&] { return !rig.finishedMovie.isEmpty(); }));
    EXPECT_EQ(rig.finishedMovie, movie);
    EXPECT_FALSE(rig.finishedThumbnail.isNull());
    const auto stored = readZoomTrackFile(Rig::trackPath(movie));
    ASSERT_TRUE(stored);
    ASSERT_EQ(movesOf(*stored).size(), 2);
    EXPECT_FLOAT_EQ(movesOf(*stored)[1].zoom, 2.0f);
    testsupport::MovieFacts facts;
    ASSERT_TRUE(testsupport::readMovie(movie.toStdString(), facts, 10));
    EXPECT_GT(facts.videoDuration, 0.8);
    EXPECT_TRUE(QFileInfo::exists(MediaStore::timingFilePathForVideo(QFileInfo(movie).fileName())));
}

TEST(ZoomTimeBase, ASliderMoveLandsWithinAFrameOfThePictureShownThenAndEarlyMovesAtZero) {
    testsupport::TempDir dir;
    // Every picture of the camera spells its own number, so the recorded movie says where each
    // one landed.
    const std::string source = (dir.path() / "camera.mov").string();
    media::testpattern::MovieOptions options;
    options.writer.width = 480;
    options.writer.height = 360;
    options.frameCount = 600;
    ASSERT_TRUE(media::testpattern::makeMovie(source, options));
    Rig rig(QString::fromStdString("file:" + source), media::CapturePreset::Medium);
    ASSERT_EQ(rig.setUp, true);
    auto& slot = rig.controller.captureManager().session()->previewSlot();

    ASSERT_TRUE(rig.controller.record());
    // A busy main thread: the movie's first pictures are taken well before "recording began" is
    // handled, which must not move the track's time 0.
    QThread::msleep(400);
    rig.recordFor(0.7);
    // The picture on screen when the user moved the slider, and the time of that move: the
    // entry must land on that picture's movie time however late it is handled.
    const media::VideoSample seen = slot.latest();
    ASSERT_TRUE(seen.frame);
    const int seenCode = media::testpattern::readFrameCode(*seen.frame, 480, 360);
    ASSERT_GE(seenCode, 0);
    rig.controller.zoomSliderChanged(0.5f, seen.timeNs);
    // A move stamped before the movie's first picture never gets a negative time.
    rig.controller.zoomSliderChanged(0.25f, rig.controller.captureManager().recordingStartTimeNs() - 2000000000);
    rig.recordFor(1.2);
    rig.controller.stop();
    rig.waitIdle();

    const ZoomTrack track = movesOf(rig.controller.zooms());
    ASSERT_EQ(track.size(), 3);
    EXPECT_EQ(track[2].atTime, 0.0);
    const double entryTime = track[1].atTime;
    double pictureTime = -1;
    ASSERT_TRUE(
        testsupport::forEachPicture(rig.finishedMovie.toStdString(), [&](const AVFrame& f, testsupport::PictureTime t) {
            if (media::testpattern::readFrameCode(f, 480, 360) != seenCode) return true;
            pictureTime = t.seconds();
            return false;
        }));
    ASSERT_GE(pictureTime, 0) << "picture " << seenCode << " is not in the movie";
    EXPECT_NEAR(entryTime, pictureTime, 1.0 / 30);
}

TEST(ZoomTimeBase, AWallClockStepDuringARecordingChangesNoTime) {
    // The stepping clock is loaded into a run of this test alone, in a child process.
    if (!qEnvironmentVariableIsSet("TAVRIO_WALL_CLOCK_STEPPED")) {
        std::string out;
        const int status =
            testsupport::run("TAVRIO_WALL_CLOCK_STEPPED=1 LD_PRELOAD=" +
                                 testsupport::quote(preloadAfterSanitizer(TAVRIO_WALL_CLOCK_STEP)) + " " +
                                 testsupport::quote(fs::read_symlink("/proc/self/exe").string()) +
                                 " --gtest_filter=ZoomTimeBase.AWallClockStepDuringARecordingChangesNoTime 2>&1",
                             &out);
        EXPECT_EQ(status, 0) << out;
        return;
    }
    // The child: the wall clock steps back an hour at every whole second of this process.
    const QDateTime before = QDateTime::currentDateTimeUtc();
    Rig rig;
    ASSERT_EQ(rig.setUp, true);
    ASSERT_TRUE(rig.controller.record());
    rig.recordFor(1.3);
    rig.controller.zoomSliderChanged(1.0f);
    ASSERT_LT(QDateTime::currentDateTimeUtc(), before);  // the step did happen meanwhile
    rig.controller.stop();
    rig.waitIdle();
    const auto stored = readZoomTrackFile(Rig::trackPath(rig.finishedMovie));
    ASSERT_TRUE(stored);
    ASSERT_EQ(movesOf(*stored).size(), 2);
    EXPECT_GE(movesOf(*stored)[1].atTime, 1.3);
    EXPECT_LT(movesOf(*stored)[1].atTime, 60.0);
}
