#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/MovieWriter.h"
#include "support/TestPattern.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::quote;
using testsupport::run;

namespace {

class CliMedia : public ::testing::Test {
protected:
    std::string cli(const std::string& args) const { return env() + quote(TAVRIO_CLI) + " " + args; }
    // The data folders, and the desktop's data folder that holds the Trash, in the test's home.
    std::string env() const {
        fs::create_directories(home.path() / "xdg-data");
        return "TAVRIO_HOME=" + quote(home.str()) + " XDG_DATA_HOME=" + quote((home.path() / "xdg-data").string()) +
               " ";
    }
    fs::path library() const { return home.path() / "Library"; }
    fs::path documents() const { return home.path() / "Documents"; }

    // A recording in the recordings folder, made as the camera would leave it.
    fs::path makeRecording(int frames = 45, const char* track = nullptr) {
        std::string out;
        EXPECT_EQ(run(cli("paths"), &out), 0) << out;
        return testsupport::makeRecordingIn(library(), "Out.mov", frames, track);
    }

    testsupport::TempDir home;
};

const char* kPortraitTrack = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><array>
<dict><key>zoom</key><real>1</real><key>atTime</key><real>0</real><key>orient</key><integer>1</integer></dict>
<dict><key>zoom</key><real>2</real><key>atTime</key><real>0.5</real></dict>
</array></plist>)";

}  // namespace

TEST_F(CliMedia, ExportReplaceInfoAndThumbnail) {
    fs::path movie = makeRecording(45, kPortraitTrack);
    std::string out;
    ASSERT_EQ(run(cli("info " + quote(movie.string())), &out), 0) << out;
    EXPECT_NE(out.find("duration: 00:01\n"), std::string::npos) << out;
    EXPECT_NE(out.find("seconds: 1.500\n"), std::string::npos) << out;
    EXPECT_NE(out.find("video: h264 320x240"), std::string::npos) << out;
    EXPECT_NE(out.find("rotation: 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("audio: aac"), std::string::npos) << out;
    EXPECT_NE(out.find("orientation: 1\n"), std::string::npos) << out;

    ASSERT_EQ(run(cli("thumbnail " + quote(movie.string()) + " --size 64"), &out), 0) << out;
    fs::path thumb = library() / "Thumbs" / "Out.mov.jpeg";
    EXPECT_EQ(out, thumb.string() + "\n");
    EXPECT_EQ(testsupport::readFile(thumb).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(testsupport::readFile(library() / "Durations" / "Out.mov.duration.lkbx"), "00:01");

    // Zoomed again: the recorded track is kept as the earlier version, and goes with the movie.
    ASSERT_EQ(run(cli("zooms Out.mov --set 0:1,0.75:2"), &out), 0) << out;
    ASSERT_EQ(run(cli("export " + quote(movie.string()) + " --preset low --rescale best --replace 2>/dev/null"), &out),
              0);
    fs::path final = documents() / "Video.mov";
    EXPECT_EQ(out, final.string() + "\n");
    EXPECT_TRUE(fs::exists(final));
    EXPECT_FALSE(fs::exists(documents() / "For_Portrait_Exporting.mov"));
    // The zoomed movie replaces the recording: the recording and all its side files are in the
    // Trash, whence they can be restored.
    EXPECT_FALSE(fs::exists(movie));
    EXPECT_FALSE(fs::exists(thumb));
    EXPECT_FALSE(fs::exists(library() / "Zooms" / "Out.mov.zooms.lkbx"));
    EXPECT_FALSE(fs::exists(library() / "Durations" / "Out.mov.duration.lkbx"));
    const fs::path trash = home.path() / "xdg-data" / "Trash";
    EXPECT_FALSE(fs::exists(library() / "Zooms" / "Out.mov.zooms-previous.lkbx"));
    for (const char* name :
         {"Out.mov", "Out.mov.jpeg", "Out.mov.zooms.lkbx", "Out.mov.zooms-previous.lkbx", "Out.mov.duration.lkbx"}) {
        EXPECT_TRUE(fs::exists(trash / "files" / name)) << name;
        EXPECT_TRUE(fs::exists(trash / "info" / (std::string(name) + ".trashinfo"))) << name;
    }
    EXPECT_NE(testsupport::readFile(trash / "files" / "Out.mov.zooms.lkbx").find("<real>0.75</real>"),
              std::string::npos);
    EXPECT_EQ(testsupport::readFile(trash / "files" / "Out.mov.zooms-previous.lkbx"), kPortraitTrack);

    ASSERT_EQ(run(cli("info " + quote(final.string())), &out), 0) << out;
    EXPECT_NE(out.find("rotation: 90\n"), std::string::npos) << out;    // shown upright
    EXPECT_NE(out.find("orientation: 0\n"), std::string::npos) << out;  // exports carry no track
}

TEST_F(CliMedia, WithoutATrashReplaceKeepsTheRecordingAndAMovieWithoutZoomSaysSo) {
    // No zoom track: the export runs, unzoomed, and says so instead of passing for zoomed.
    fs::path movie = makeRecording(30);
    fs::create_directories(home.path() / "xdg-data");
    testsupport::writeFile(home.path() / "xdg-data" / "Trash", "not a folder");  // no Trash can be made
    std::string out;
    EXPECT_EQ(run(cli("export " + quote(movie.string()) + " --preset low --replace 2>&1"), &out), 1) << out;
    EXPECT_NE(out.find("No zoom was recorded with this movie; exported unzoomed"), std::string::npos) << out;
    EXPECT_NE(out.find("kept: it cannot be moved to the Trash"), std::string::npos) << out;
    EXPECT_NE(out.find((documents() / "Video.mov").string() + "\n"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(movie));
    EXPECT_TRUE(fs::exists(documents() / "Video.mov"));
}

TEST_F(CliMedia, ReplacingAMovieOutsideTheLibraryLeavesTheLibrarysSideFilesAlone) {
    const fs::path recording = makeRecording(30, kPortraitTrack);
    const fs::path elsewhere = home.path() / "elsewhere" / "Out.mov";
    fs::create_directories(elsewhere.parent_path());
    fs::copy_file(recording, elsewhere);
    std::string out;
    ASSERT_EQ(run(cli("export " + quote(elsewhere.string()) + " --preset low --replace 2>/dev/null"), &out), 0);
    EXPECT_FALSE(fs::exists(elsewhere));
    EXPECT_TRUE(fs::exists(home.path() / "xdg-data" / "Trash" / "files" / "Out.mov"));
    EXPECT_TRUE(fs::exists(recording));
    EXPECT_TRUE(fs::exists(library() / "Zooms" / "Out.mov.zooms.lkbx"));
}

TEST_F(CliMedia, RefusesBadArgumentsAndUnreadableMovies) {
    std::string out;
    EXPECT_EQ(run(cli("export 2>&1"), &out), 2) << out;
    EXPECT_EQ(run(cli("export x.mov --preset huge 2>&1"), &out), 2) << out;
    EXPECT_EQ(run(cli("export /nonexistent.mov 2>&1"), &out), 1) << out;
    EXPECT_NE(out.find("no such movie"), std::string::npos) << out;

    fs::path broken = home.path() / "broken.mov";
    testsupport::writeFile(broken, "not a movie at all");
    EXPECT_EQ(run(cli("export " + quote(broken.string()) + " 2>&1"), &out), 1) << out;
    EXPECT_EQ(run(cli("info " + quote(broken.string()) + " 2>&1"), &out), 1) << out;
    EXPECT_EQ(run(cli("thumbnail " + quote(broken.string()) + " 2>&1"), &out), 1) << out;
    EXPECT_EQ(testsupport::readFile(broken), "not a movie at all");
    EXPECT_TRUE(!fs::exists(documents()) || fs::is_empty(documents()));
}

TEST_F(CliMedia, CutShortMovieSaysWhyAndTheLibrariesStayQuiet) {
    const fs::path whole = home.path() / "whole.mov", fast = home.path() / "fast.mov";
    media::testpattern::MovieOptions o;
    o.frameCount = 60;
    media::Error e;
    ASSERT_TRUE(media::testpattern::makeMovie(whole.string(), o, &e)) << e.description;
    ASSERT_EQ(
        run("ffmpeg -v error -y -i " + quote(whole.string()) + " -c copy -movflags +faststart " + quote(fast.string())),
        0);
    const std::string bytes = testsupport::readFile(fast);
    // Cut inside the first picture: the index survives, no picture does.
    const fs::path noPicture = home.path() / "no-picture.mov";
    testsupport::writeFile(noPicture, bytes.substr(0, bytes.find("mdat") + 200));
    const fs::path half = home.path() / "half.mov";
    testsupport::writeFile(half, bytes.substr(0, bytes.size() / 2));

    std::string out;
    ASSERT_EQ(run(cli("info " + quote(half.string()) + " 2>&1"), &out), 0) << out;
    EXPECT_NE(out.find("duration: 00:02\n"), std::string::npos) << out;
    EXPECT_NE(out.find("incomplete: "), std::string::npos) << out;
    ASSERT_EQ(run(cli("info " + quote(whole.string()) + " 2>&1"), &out), 0) << out;
    EXPECT_EQ(out.find("incomplete"), std::string::npos) << out;

    ASSERT_EQ(run(cli("thumbnail " + quote(noPicture.string()) + " 2>&1 >/dev/null"), &out), 1) << out;
    EXPECT_NE(out.find("no-picture.mov: Format Not Supported: No picture could be made of the movie."),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("[h264 @"), std::string::npos) << out;
    EXPECT_EQ(out.find("[mov,"), std::string::npos) << out;
    run(cli("export " + quote(half.string()) + " --preset low 2>&1 >/dev/null"), &out);
    EXPECT_EQ(out.find(" @ 0x"), std::string::npos) << out;

    // Asked for, the libraries' own lines come back.
    ASSERT_EQ(run("TAVRIO_FFMPEG_LOG=1 " + cli("thumbnail " + quote(noPicture.string()) + " 2>&1 >/dev/null"), &out),
              1);
    EXPECT_NE(out.find(" @ 0x"), std::string::npos) << out;
}

TEST_F(CliMedia, WriteFailureEndsInFailureWithNothingLeft) {
    fs::path movie = makeRecording(90);
    std::string out;
    // A 64 KiB file size limit: the export cannot finish its movie.
    const int status =
        run("bash -c " + quote("ulimit -f 64; " + cli("export " + quote(movie.string()) + " 2>&1")), &out);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("export failed"), std::string::npos) << out;
    for (const auto& e : fs::directory_iterator(documents())) ADD_FAILURE() << "left behind: " << e.path();
    EXPECT_TRUE(fs::exists(movie));
}

TEST_F(CliMedia, CtrlCAndTerminationCancelCleanlyWithTheShellsStatus) {
    fs::path movie = makeRecording(900, kPortraitTrack);  // 30 s: long enough to interrupt
    fs::path log = home.path() / "stderr.txt";
    for (const auto& [signo, expected] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(signo);
        fs::remove(log);
        const std::string cmd = env() + "exec " + quote(TAVRIO_CLI) + " export " + quote(movie.string()) +
                                " --preset best 2>" + quote(log.string());
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the export reports progress, then interrupt it.
        for (int i = 0; i < 3000; ++i) {
            if (testsupport::readFile(log).find('%') != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid, signo);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), expected) << testsupport::readFile(log);
        EXPECT_NE(testsupport::readFile(log).find("export cancelled"), std::string::npos);
        for (const auto& e : fs::directory_iterator(documents())) ADD_FAILURE() << "left behind: " << e.path();
        EXPECT_TRUE(fs::exists(movie));
    }
}

TEST_F(CliMedia, EverySharedMovieGoesThroughInfoThumbnailAndExport) {
    fs::path dir = fs::path(TAVRIO_SHARED_MEDIA);
    if (!fs::exists(dir)) GTEST_SKIP() << "no shared media beside the checkout";
    std::string out;
    ASSERT_EQ(run(cli("paths"), &out), 0);
    int exported = 0, refused = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const fs::path src = entry.path();
        if (src.extension() == ".md") continue;
        const std::string before = testsupport::readFile(src);
        SCOPED_TRACE(src.filename().string());
        for (const std::string cmd : {"info", "thumbnail"}) {
            const int s = run(cli(cmd + " " + quote(src.string()) + " >/dev/null 2>&1"));
            EXPECT_TRUE(s == 0 || s == 1) << cmd << " exit " << s;
        }
        const int s = run(cli("export " + quote(src.string()) + " --preset low 2>&1"), &out);
        EXPECT_TRUE(s == 0 || s == 1) << "export exit " << s << ": " << out;
        if (s == 0) {
            ++exported;
            std::string probe;
            const std::string path = out.substr(out.rfind('\n', out.size() - 2) + 1);
            // What ffprobe reads in the source it must read in the export (a copied stream it
            // cannot decode stays undecodable).
            if (run("ffprobe -v error " + quote(src.string()) + " >/dev/null 2>&1") == 0) {
                EXPECT_EQ(run("ffprobe -v error " + quote(path.substr(0, path.size() - 1)) + " 2>&1", &probe), 0)
                    << path << probe;
            }
        } else {
            ++refused;
            EXPECT_NE(out.find("tavrio-cli:"), std::string::npos) << out;  // a message, not silence
        }
        EXPECT_EQ(testsupport::readFile(src), before) << "the source changed";
    }
    EXPECT_GT(exported, 20);
    EXPECT_GT(refused, 0);
    EXPECT_FALSE(fs::exists(documents() / "For_Portrait_Exporting.mov"));
}
