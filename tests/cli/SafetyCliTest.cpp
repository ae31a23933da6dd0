// What the user keeps when tavrio-cli is killed, runs twice at once, meets a full disk or odd
// names: every test runs the built binary in its own TAVRIO_HOME.

#include "MediaStore.h"
#include "ZoomTrack.h"

#include "support/TestPattern.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"
#include "support/ZoomMoves.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using testsupport::quote;
using testsupport::run;

namespace {

std::set<std::string> entries(const fs::path& dir) {
    std::set<std::string> names;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

std::set<std::string> visibleEntries(const fs::path& dir) {
    std::set<std::string> names;
    for (const std::string& n : entries(dir))
        if (n[0] != '.') names.insert(n);
    return names;
}

const char kLandscapeTrack[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array>
<dict><key>zoom</key><real>1</real><key>atTime</key><real>0</real><key>orient</key><integer>3</integer></dict>
<dict><key>zoom</key><real>2</real><key>atTime</key><real>0.5</real></dict>
</array></plist>)";

const char kPortraitTrack[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array>
<dict><key>zoom</key><real>1</real><key>atTime</key><real>0</real><key>orient</key><integer>1</integer></dict>
<dict><key>zoom</key><real>2</real><key>atTime</key><real>0.5</real></dict>
</array></plist>)";

class CliSafety : public ::testing::Test {
protected:
    std::string cli(const std::string& args) const { return quote(TAVRIO_CLI) + " " + args; }
    fs::path library() const { return home.path() / "Library"; }
    fs::path originals() const { return library() / "Originals"; }
    fs::path documents() const { return home.path() / "Documents"; }

    // A recording as the camera leaves it, with a zoom track when one is given.
    fs::path makeRecording(const std::string& name, int frames, const char* track = nullptr) {
        EXPECT_EQ(run(cli("paths >/dev/null 2>&1")), 0);
        return testsupport::makeRecordingIn(library(), name, frames, track);
    }

    // Starts `args` in the background; its standard error goes to `errFile`.
    pid_t spawn(const std::string& args, const fs::path& errFile) const {
        const std::string cmd = "exec " + cli(args) + " >/dev/null 2>" + quote(errFile.string());
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    // Waits (with a generous guard against a hang, never a measure of speed) for `ready`.
    static bool waitFor(const std::function<bool()>& ready) {
        for (int i = 0; i < 6000; ++i) {
            if (ready()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    static int killAndReap(pid_t pid) {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    }

    testsupport::TempHome home;  // inherited by every child
};

}  // namespace

TEST_F(CliSafety, AKilledRecordingKeepsItsZoomTrackUpToTheLastSecond) {
    const fs::path err = home.path() / "record.err";
    const pid_t pid = spawn(
        "record --seconds 60 --camera virtual --mic none --quality low "
        "--zoom 0:1,0.3:1.5,0.6:2,0.9:2.5",
        err);
    ASSERT_GT(pid, 0);
    const QString trackFile = MediaStore::zoomsArchiveFilePath(QStringLiteral("Out.mov"));
    const fs::path movie = originals() / "Out.mov";
    const bool gestureStored = waitFor([&] {
        const auto t = readZoomTrackFile(trackFile);
        return t && testsupport::movesOf(*t).size() == 4 && fs::exists(movie) && fs::file_size(movie) > 8192;
    });
    killAndReap(pid);
    ASSERT_TRUE(gestureStored) << testsupport::readFile(err);

    // The movie plays up to its last fragment, and its gesture is there with it.
    std::string out;
    ASSERT_EQ(run(cli("zooms " + quote(movie.string()) + " 2>&1"), &out), 0) << out;
    EXPECT_EQ(out.substr(0, out.find('\n')), "orient 3");
    EXPECT_NE(out.find(" 2.5\n"), std::string::npos) << out;
    ASSERT_EQ(run(cli("info " + quote(movie.string()) + " 2>&1"), &out), 0) << out;
    EXPECT_NE(out.find("video: h264"), std::string::npos) << out;
}

TEST_F(CliSafety, AKilledExportLeavesNoFileUnderAFinalNameAndTheNextTakesVideoMov) {
    const fs::path longMovie = makeRecording("Out.mov", 900, kLandscapeTrack);  // 30 s
    const fs::path err = home.path() / "export.err";
    const pid_t pid = spawn("export " + quote(longMovie.string()) + " --preset best", err);
    ASSERT_GT(pid, 0);
    const bool running = waitFor([&] { return testsupport::readFile(err).find('%') != std::string::npos; });
    killAndReap(pid);
    ASSERT_TRUE(running) << testsupport::readFile(err);
    EXPECT_TRUE(visibleEntries(documents()).empty());

    const fs::path shortMovie = makeRecording("Out-1.mov", 15, kLandscapeTrack);
    std::string out;
    ASSERT_EQ(run(cli("export " + quote(shortMovie.string()) + " --preset low 2>/dev/null"), &out), 0);
    EXPECT_EQ(out, (documents() / "Video.mov").string() + "\n");
    // The dead export's temporary went when this one started.
    EXPECT_EQ(entries(documents()), std::set<std::string>{"Video.mov"});
}

TEST_F(CliSafety, ConcurrentExportsWithReplaceAllKeepTheirMovies) {
    std::vector<fs::path> movies{
        makeRecording("Out.mov", 30, kLandscapeTrack), makeRecording("Out-1.mov", 30, kLandscapeTrack),
        makeRecording("Out-2.mov", 30, kPortraitTrack), makeRecording("Out-3.mov", 30, kPortraitTrack)};
    std::string script;
    for (size_t i = 0; i < movies.size(); ++i)
        script += cli("export " + quote(movies[i].string()) + " --preset low --replace") + " >" +
                  quote((home.path() / ("out" + std::to_string(i))).string()) + " 2>/dev/null & p" + std::to_string(i) +
                  "=$!; ";
    script += "s=0; for p in $p0 $p1 $p2 $p3; do wait $p || s=1; done; exit $s";
    ASSERT_EQ(run("bash -c " + quote(script)), 0);

    std::set<std::string> finals;
    for (size_t i = 0; i < movies.size(); ++i) {
        std::string path = testsupport::readFile(home.path() / ("out" + std::to_string(i)));
        ASSERT_FALSE(path.empty());
        path.pop_back();
        finals.insert(path);
        std::string info;
        EXPECT_EQ(run(cli("info " + quote(path) + " 2>&1"), &info), 0) << path << info;
        EXPECT_FALSE(fs::exists(movies[i]));  // replaced, only once its own movie was there
    }
    EXPECT_EQ(finals.size(), 4u);
    EXPECT_EQ(entries(documents()), (std::set<std::string>{"Video.mov", "Video-1.mov", "Video-2.mov", "Video-3.mov"}));
}

TEST_F(CliSafety, NamesAreLocalFilesAndMayFollowADoubleDash) {
    const fs::path movie = makeRecording("Out.mov", 15);
    const fs::path dir = home.path() / "names";
    fs::create_directories(dir);
    fs::copy_file(movie, dir / "http:x.mov");
    fs::copy_file(movie, dir / "-x.mov");
    const std::string cd = "cd " + quote(dir.string()) + " && ";
    std::string out;
    ASSERT_EQ(run(cd + cli("info http:x.mov 2>&1"), &out), 0) << out;
    EXPECT_NE(out.find("video: h264 320x240"), std::string::npos) << out;
    for (const char* name : {"pipe:0", "concat:http:x.mov|http:x.mov", "tcp://127.0.0.1:9"}) {
        EXPECT_EQ(run(cd + cli(std::string("info ") + quote(name) + " </dev/null 2>&1"), &out), 1) << name << out;
    }
    ASSERT_EQ(run(cd + cli("info -- -x.mov 2>&1"), &out), 0) << out;
    ASSERT_EQ(run(cd + cli("thumbnail -- -x.mov 2>&1"), &out), 0) << out;
    EXPECT_TRUE(fs::exists(library() / "Thumbs" / "-x.mov.jpeg"));
    ASSERT_EQ(run(cd + cli("export --preset low -- -x.mov 2>/dev/null"), &out), 0) << out;
    EXPECT_EQ(out, (documents() / "Video.mov").string() + "\n");
}

TEST_F(CliSafety, ANearlyFullDiskRecordsNothingAndSaysSo) {
    std::string out;
    // An 8 KiB file size limit: the header fits, no second of pictures and sound does.
    const int status =
        run("bash -c " + quote("ulimit -f 8; " + cli("record --seconds 3 --camera virtual --mic virtual 2>&1")), &out);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Nothing was recorded"), std::string::npos) << out;
    EXPECT_EQ(out.find("kept"), std::string::npos) << out;
    EXPECT_TRUE(entries(originals()).empty());
    EXPECT_TRUE(entries(library() / "Zooms").empty());
}

TEST_F(CliSafety, ADiskFillingUpMidRecordingKeepsThePlayableMovieItsTrackAndThumbnail) {
    std::string out;
    // A 48 KiB file size limit: about two seconds of the small picture fit, then writes fail.
    const int status = run("bash -c " + quote("ulimit -f 48; " + cli("record --seconds 60 --camera virtual --mic none "
                                                                     "--quality low --zoom 0:1,0.3:2 2>&1")),
                           &out);
    EXPECT_EQ(status, 1) << out;
    const fs::path movie = originals() / "Out.mov";
    EXPECT_NE(out.find("kept in " + movie.string()), std::string::npos) << out;
    std::string info;
    ASSERT_EQ(run(cli("info " + quote(movie.string()) + " 2>&1"), &info), 0) << info;
    EXPECT_NE(info.find("video: h264"), std::string::npos) << info;
    std::string zooms;
    ASSERT_EQ(run(cli("zooms " + quote(movie.string()) + " 2>&1"), &zooms), 0) << zooms;
    EXPECT_NE(zooms.find(" 2\n"), std::string::npos) << zooms;
    EXPECT_TRUE(fs::exists(library() / "Thumbs" / "Out.mov.jpeg"));
    EXPECT_TRUE(fs::exists(library() / "Durations" / "Out.mov.duration.lkbx"));
}

TEST_F(CliSafety, RecordFailsWhenASideFileCannotBeStoredButKeepsTheMovie) {
    ASSERT_EQ(run(cli("paths >/dev/null 2>&1")), 0);
    // Leftovers of finishes cut short by a kill go when the next recording starts.
    fs::create_directories(originals());
    testsupport::writeFile(originals() / ".Out-7.mov.finishing", "dead");
    testsupport::writeFile(originals() / ".Out-8.mov.a1b2c3.partial", "dead");
    // Folders the side files cannot go into.
    testsupport::writeFile(library() / "Zooms", "not a folder");
    std::string out;
    const fs::path err = home.path() / "err.txt";
    EXPECT_EQ(run(cli("record --seconds 1 --camera virtual --mic none --quality low 2>" + quote(err.string())), &out),
              1);
    const fs::path movie = originals() / "Out.mov";
    EXPECT_EQ(out, movie.string() + "\n");
    EXPECT_NE(testsupport::readFile(err).find("cannot store the zoom track"), std::string::npos)
        << testsupport::readFile(err);
    EXPECT_EQ(entries(originals()), std::set<std::string>{"Out.mov"});

    fs::remove(library() / "Zooms");
    fs::remove_all(library() / "Thumbs");
    testsupport::writeFile(library() / "Thumbs", "not a folder");
    EXPECT_EQ(run(cli("record --seconds 1 --camera virtual --mic none --quality low 2>" + quote(err.string())), &out),
              1);
    EXPECT_EQ(out, (originals() / "Out-1.mov").string() + "\n");
    EXPECT_NE(testsupport::readFile(err).find("thumbnail"), std::string::npos) << testsupport::readFile(err);
    EXPECT_TRUE(fs::exists(library() / "Zooms" / "Out-1.mov.zooms.lkbx"));
}
