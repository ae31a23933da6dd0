// Runs the built tavrio-cli as a user would, each time in a fresh TAVRIO_HOME.

#include "MediaStore.h"
#include "TavrioCaptureManager.h"
#include "ZoomTrack.h"

#include "support/TestSupport.h"
#include "support/ZoomMoves.h"

#include "VideoAssetsViewController.h"

#include <gtest/gtest.h>

#include <QImage>

#include <bit>
#include <optional>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

class Cli : public ::testing::Test {
protected:
    Result cli(const std::string& args) {
        const fs::path errFile = home_.path() / "stderr.txt";
        Result r;
        r.status = testsupport::run(std::string(TAVRIO_CLI) + " " + args + " 2>" + errFile.string(), &r.out);
        r.err = testsupport::readFile(errFile);
        fs::remove(errFile);
        return r;
    }
    const fs::path& home() const { return home_.path(); }

private:
    testsupport::TempHome home_;  // inherited by the child process
};

const char kNote[] =
    "Note: Thanks for downloading Tavrio. Please read the instructions by tapping info button at the bottom.\n";

}  // namespace

TEST_F(Cli, PathsLiveUnderTavrioHomeAndTheNoticeShowsOnce) {
    const Result first = cli("paths");
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, "documents: " + (home() / "Documents").string() + "\n" +
                             "library: " + (home() / "Library").string() + "\n" +
                             "settings: " + (home() / "settings.ini").string() + "\n");
    EXPECT_EQ(first.err, kNote);
    EXPECT_TRUE(fs::is_directory(home() / "Documents"));
    const Result second = cli("paths");
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(second.err, "");
}

TEST_F(Cli, SettingsPrintStoreAndRefuseBadInput) {
    EXPECT_EQ(cli("settings").out, "resolutionOpt=0 (High)\nexportOpt=0 (Best Quality)\nrescaleOpt=0 (Good)\n");

    Result r = cli("settings exportOpt=2 rescaleOpt=1 resolutionOpt=3");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string stored = "resolutionOpt=3 (Low)\nexportOpt=2 (Medium Quality)\nrescaleOpt=1 (Best)\n";
    EXPECT_EQ(cli("settings").out, stored);

    // A bad argument anywhere stores nothing, including the good ones before it; a number
    // outside a setting's table is one too, and the refusal names the valid values.
    for (const char* bad : {"exportOpt=1 colour=3", "exportOpt=two", "exportOpt=", "exportOpt=1.5", "rescaleOpt",
                            "exportOpt=1 exportOpt=7", "resolutionOpt=-1", "rescaleOpt=2"}) {
        r = cli(std::string("settings ") + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err, "") << bad;
    }
    EXPECT_NE(cli("settings colour=3").err.find("colour"), std::string::npos);
    EXPECT_NE(
        cli("settings exportOpt=7").err.find("0 (Best Quality), 1 (Good Quality), 2 (Medium Quality), 3 (Low Quality)"),
        std::string::npos);
    EXPECT_EQ(cli("settings").out, stored);
}

TEST_F(Cli, AHandEditedValueOutsideItsTableShowsWhatIsUsed) {
    cli("paths");  // the first launch seeds the settings
    const std::string ini = testsupport::readFile(home() / "settings.ini");
    std::string edited;
    for (const auto& [key, value] : {std::pair{"resolutionOpt", "-1"}, {"exportOpt", "7"}, {"rescaleOpt", "-1"}}) {
        const size_t at = ini.find(std::string(key) + "=");
        ASSERT_NE(at, std::string::npos) << ini;
        edited = (edited.empty() ? ini : edited);
        const size_t start = edited.find(std::string(key) + "="), end = edited.find('\n', start);
        edited.replace(start, end - start, std::string(key) + "=" + value);
    }
    testsupport::writeFile(home() / "settings.ini", edited);
    // A camera records "High" for -1, exports run at "Best" for 7, and rescaling below 1 is "Good".
    EXPECT_EQ(cli("settings").out, "resolutionOpt=-1 (High)\nexportOpt=7 (Best Quality)\nrescaleOpt=-1 (Good)\n");
}

TEST_F(Cli, ZoomsPrintsTheTrackExactlyOrFails) {
    ZoomTrack track{{{1.0f, 0.0}, {2.0f * 0.3333333f + 1.0f, 0.1 + 0.2}, {3.0f, 12.5}}, 3};
    ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out-2.mov"), track));

    // A full movie path works; only its file name picks the track.
    Result r = cli("zooms /any/where/Out-2.mov");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "orient 3\n0 1\n0.30000000000000004 1.66666663\n12.5 3\n");
    // The printed digits read back to the same values.
    float zoom = 0;
    ASSERT_EQ(std::sscanf("1.66666663", "%f", &zoom), 1);
    EXPECT_EQ(std::bit_cast<uint32_t>(zoom), std::bit_cast<uint32_t>(2.0f * 0.3333333f + 1.0f));

    r = cli("zooms Out-9.mov");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no zoom track"), std::string::npos);

    ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath("Bad.mov"), ZoomTrack{{{0.0f, 0.0}}, 1}));
    r = cli("zooms Bad.mov");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unusable"), std::string::npos);

    EXPECT_EQ(cli("zooms").status, 2);
    EXPECT_EQ(cli("zooms a.mov b.mov").status, 2);
}

TEST_F(Cli, ZoomsSetWritesATrackKeepingTheOrientationAndTheEarlierTrackForUndo) {
    const QString current = MediaStore::zoomsArchiveFilePath("Out.mov");
    ASSERT_TRUE(writeZoomTrackFile(current, ZoomTrack{{{1.5f, 0.0}, {2.0f, 1.0}}, 1}));
    const std::string recorded = testsupport::readFile(current.toStdString());

    Result r = cli("zooms Out.mov --set '0:1, 1.5:2.25,3:3'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "orient 1\n0 1\n1.5 2.25\n3 3\n");
    EXPECT_EQ(testsupport::readFile(MediaStore::earlierZoomsArchiveFilePath("Out.mov").toStdString()), recorded);

    // Refused with the reason, the track untouched.
    const std::string kept = testsupport::readFile(current.toStdString());
    for (const auto& [arg, why] :
         std::vector<std::pair<std::string, std::string>>{{"0:1,2:2,2:3", "later than the one before"},
                                                          {"0:1,3:2,2:3", "later than the one before"},
                                                          {"0:1,inf:2", "finite"},
                                                          {"0:1,nan:2", "finite"},
                                                          {"0:1,-1:2", "finite"},
                                                          {"0:0.5", "from 1.0 to 3.0"},
                                                          {"0:3.01", "from 1.0 to 3.0"},
                                                          {"0:nan", "from 1.0 to 3.0"},
                                                          {"1:2", "at time 0"},
                                                          {"0:1,,2:2", "is not T:Z"},
                                                          {"0:1,2", "is not T:Z"},
                                                          {"", "is not T:Z"}}) {
        r = cli("zooms Out.mov --set '" + arg + "'");
        EXPECT_EQ(r.status, 2) << arg;
        EXPECT_NE(r.err.find(why), std::string::npos) << arg << ": " << r.err;
    }
    EXPECT_EQ(testsupport::readFile(current.toStdString()), kept);
    EXPECT_EQ(cli("zooms Out.mov --set 0:1 --undo").status, 2);
    EXPECT_EQ(cli("zooms Out.mov --set").status, 2);

    r = cli("zooms Out.mov --undo");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "orient 1\n0 1.5\n1 2\n");
    EXPECT_EQ(testsupport::readFile(current.toStdString()), recorded);
    r = cli("zooms Out.mov --undo");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no earlier zoom"), std::string::npos) << r.err;

    // A movie without a track gets one, with no orientation and no earlier version.
    r = cli("zooms --set 0:2 -- -New.mov");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "orient 0\n0 2\n");
    EXPECT_FALSE(hasEarlierZoomTrack("-New.mov"));
}

TEST_F(Cli, HelpVersionAndUnknownCommands) {
    Result r = cli("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* command : {"paths", "settings", "zooms"})
        EXPECT_NE(r.out.find(std::string("  ") + command), std::string::npos) << command;
    // A synopsis too long for its column goes on a line of its own, the summary under it.
    EXPECT_NE(r.out.find("[--replace]\n" + std::string(34, ' ') + "render the movie"), std::string::npos) << r.out;
    r = cli("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tavrio-cli ", 0), 0u);
    EXPECT_NE(r.out.find("License GPL-3.0-or-later"), std::string::npos) << r.out;
    // One command's help: its whole synopsis, every option spelled out.
    r = cli("record --help");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("usage: tavrio-cli record --seconds N [--camera ", 0), 0u) << r.out;
    for (const char* option : {"--mic", "--quality", "--orientation", "--camera-rotation", "--zoom"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_EQ(cli("paths --help").out.rfind("usage: tavrio-cli paths\n", 0), 0u);
    EXPECT_EQ(cli("").status, 2);
    r = cli("frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("frobnicate"), std::string::npos);
    // Neither help nor a usage error launches the app (no notice, no settings written).
    EXPECT_FALSE(fs::exists(home() / "settings.ini"));
}

TEST_F(Cli, RecordWritesTheMovieItsZoomTrackAndDurationAndPrintsThePath) {
    // An earlier zoom that a gone movie of the name left: no version of the new recording's zoom.
    testsupport::writeFile(MediaStore::earlierZoomsArchiveFilePath("Out.mov").toStdString(), "left");
    const Result r =
        cli("record --seconds 1.5 --camera virtual --mic virtual --quality low --orientation portrait "
            "--camera-rotation 90 --zoom 0:1.5,0.5:2.5");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string movie = (home() / "Library" / "Originals" / "Out.mov").string();
    EXPECT_EQ(r.out, movie + "\n");
    EXPECT_GT(fs::file_size(movie), 1000u);
    const auto stored = readZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out.mov"));
    ASSERT_TRUE(stored);
    EXPECT_FALSE(hasEarlierZoomTrack("Out.mov"));
    // The rest before the move is held until just before it.
    ASSERT_EQ(stored->size(), 3);
    EXPECT_FLOAT_EQ((*stored)[1].zoom, 1.5f);
    EXPECT_NEAR((*stored)[1].atTime, (*stored)[2].atTime, 0.004);
    const auto track = std::optional(testsupport::movesOf(*stored));
    ASSERT_EQ(track->size(), 2);
    EXPECT_FLOAT_EQ((*track)[0].zoom, 1.5f);
    EXPECT_EQ((*track).orient.value_or(-1), 1);
    EXPECT_FLOAT_EQ((*track)[1].zoom, 2.5f);
    EXPECT_GE((*track)[1].atTime, 0.5);
    EXPECT_LT((*track)[1].atTime, 1.5);
    const QImage thumb(QString::fromStdString((home() / "Library" / "Thumbs" / "Out.mov.jpeg").string()));
    ASSERT_FALSE(thumb.isNull());
    // The library's size, so the row shows the take sharp.
    EXPECT_LE(std::max(thumb.width(), thumb.height()), VideoAssetsViewController::kThumbnailSize);
    EXPECT_GT(std::max(thumb.width(), thumb.height()), 40);
    // A phone's sensor (mounted 90) held upright: stored 192x144 with the portrait matrix, the
    // upright first frame taller than wide, as the preview showed it.
    EXPECT_GT(thumb.height(), thumb.width());
    const QString duration = readDurationFile("Out.mov");
    EXPECT_TRUE(duration == "00:01" || duration == "00:02") << duration.toStdString();  // 1.5 s and the stop's latency

    EXPECT_EQ(cli("record --seconds 1 --zoom 1:4").status, 2);
    EXPECT_EQ(cli("record --seconds 1 --quality huge").status, 2);
    EXPECT_EQ(cli("record --seconds 1 --camera-rotation 45").status, 2);
    EXPECT_EQ(cli("record").status, 2);
    const Result bad = cli("record --seconds 1 --camera /dev/video-none");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("/dev/video-none is not connected."), std::string::npos) << bad.err;
}

TEST_F(Cli, WithoutACameraRecordSaysSoAndWithoutAMicrophoneTheMovieIsSilent) {
    if (!TavrioCaptureManager::devices().empty() &&
        std::any_of(TavrioCaptureManager::devices().begin(), TavrioCaptureManager::devices().end(),
                    [](auto& d) { return !d.isVirtual; }))
        GTEST_SKIP() << "this machine has a camera or microphone of its own";
    // The test picture is never filmed unasked: the message names the way to ask for it.
    const Result none = cli("record --seconds 1 --quality low");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no camera found"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("--camera virtual"), std::string::npos) << none.err;
    // With the test picture asked for but no microphone, the movie has no sound at all (no test
    // tone stands in).
    const Result silent = cli("record --seconds 1 --camera virtual --quality low");
    ASSERT_EQ(silent.status, 0) << silent.err;
    const Result info = cli("info " + silent.out.substr(0, silent.out.size() - 1));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("audio: none"), std::string::npos) << info.out;
}

TEST_F(Cli, EachTakeAndItsExportTurnAsThePreviewTurnedThePicture) {
    // The camera's mounting and how the screen is held give the movie's turn and the track's
    // orientation; the export keeps the turn. An upright camera records upright held either way.
    const struct {
        const char* mounting;
        const char* held;
        const char* rotation;
        const char* orientation;
    } cases[] = {{"0", "portrait", "rotation: 0\n", "orientation: 3\n"},
                 {"0", "landscape", "rotation: 0\n", "orientation: 3\n"},
                 {"90", "portrait", "rotation: 90\n", "orientation: 1\n"},
                 {"90", "landscape", "rotation: 0\n", "orientation: 3\n"}};
    for (const auto& c : cases) {
        const Result take = cli(std::string("record --seconds 0.5 --camera virtual --quality low --camera-rotation ") +
                                c.mounting + " --orientation " + c.held);
        ASSERT_EQ(take.status, 0) << take.err;
        const std::string movie = take.out.substr(0, take.out.size() - 1);
        const Result info = cli("info " + movie);
        EXPECT_NE(info.out.find(c.rotation), std::string::npos) << c.mounting << " " << c.held << "\n" << info.out;
        EXPECT_NE(info.out.find(c.orientation), std::string::npos) << c.mounting << " " << c.held << "\n" << info.out;
        const Result exported = cli("export " + movie + " --replace");
        ASSERT_EQ(exported.status, 0) << exported.err;
        const Result shown = cli("info " + exported.out.substr(0, exported.out.size() - 1));
        EXPECT_NE(shown.out.find(c.rotation), std::string::npos) << c.mounting << " " << c.held << "\n" << shown.out;
    }
}

TEST_F(Cli, DevicesListsTheVirtualCameraWithItsFormatsLast) {
    const Result r = cli("devices");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto cam = r.out.find("camera virtual-camera");
    const auto mic = r.out.find("microphone virtual-microphone");
    ASSERT_NE(cam, std::string::npos);
    ASSERT_NE(mic, std::string::npos);
    EXPECT_LT(cam, mic);
    // A webcam's modes: raw pictures up to 640x480, MJPEG up to 1920x1080.
    EXPECT_NE(r.out.find("  yuv420p 640x480 30", cam), std::string::npos);
    EXPECT_NE(r.out.find("  mjpeg 1920x1080 30", cam), std::string::npos);
    EXPECT_EQ(r.out.find("camera /dev/", cam), std::string::npos);  // real cameras come first
}

TEST_F(Cli, CtrlCStopsARecordingNormally) {
    // The interrupt arrives once the movie holds its first fragment (past the 1-2 KB header).
    const std::string movie = (home() / "Library" / "Originals" / "Out.mov").string();
    const fs::path errFile = home() / "stderr.txt";
    std::string out;
    const int status = testsupport::run(
        "(" + std::string(TAVRIO_CLI) + " record --seconds 120 --camera virtual --quality low >" +
            (home() / "out.txt").string() + " 2>" + errFile.string() + " & pid=$!; i=0; while [ ! -s '" + movie +
            "' ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done; while [ $(stat -c %s '" + movie +
            "') -lt 8192 ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i+1)); done; kill -INT $pid; wait $pid)",
        &out);
    EXPECT_EQ(status, 0) << testsupport::readFile(errFile);
    EXPECT_EQ(testsupport::readFile(home() / "out.txt"), movie + "\n");
    EXPECT_FALSE(readDurationFile("Out.mov").isEmpty());
    EXPECT_TRUE(readZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out.mov")));
    // An ordinary movie: the fragments of the running recording were rewritten at the stop.
    std::string probe;
    testsupport::run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + movie + "'", &probe);
    EXPECT_GT(std::atof(probe.c_str()), 0.5);
    EXPECT_EQ(testsupport::readFile(movie).find("moof"), std::string::npos);
}

TEST_F(Cli, DemoRecordsWithAZoomGestureAndExportsIt) {
    const Result r = cli("demo --quality low");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string movie = (home() / "Library" / "Originals" / "Out.mov").string();
    const std::string exported = (home() / "Documents" / "Video.mov").string();
    EXPECT_EQ(r.out.rfind("recorded " + movie + " ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nexported " + exported + " "), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(exported));
    const auto stored = readZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out.mov"));
    ASSERT_TRUE(stored);
    const auto track = std::optional(testsupport::movesOf(*stored));
    ASSERT_EQ(track->size(), 9);
    EXPECT_FLOAT_EQ((*track)[5].zoom, 2.25f);
    EXPECT_FLOAT_EQ((*track)[8].zoom, 1.0f);
    EXPECT_EQ(cli("demo --quality huge").status, 2);
}
