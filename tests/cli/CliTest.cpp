// Runs the built tavrio-cli as a user would, each time in a fresh TAVRIO_HOME.

#include "TavrioCaptureManager.h"
#include "ZoomTrack.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <bit>

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
    EXPECT_EQ(first.out, "documents: " + (home() / "Documents").string() + "\n" + "library: " +
                             (home() / "Library").string() + "\n" + "settings: " + (home() / "settings.ini").string() +
                             "\n");
    EXPECT_EQ(first.err, kNote);
    EXPECT_TRUE(fs::is_directory(home() / "Documents"));
    const Result second = cli("paths");
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(second.err, "");
}

TEST_F(Cli, SettingsPrintStoreAndRefuseBadInput) {
    EXPECT_EQ(cli("settings").out, "resolutionOpt=0 (High)\nexportOpt=0 (Best Quality)\nrescaleOpt=0 (Good)\n");

    Result r = cli("settings exportOpt=2 rescaleOpt=1 resolutionOpt=7");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cli("settings").out, "resolutionOpt=7 (Low)\nexportOpt=2 (Medium Quality)\nrescaleOpt=1 (Best)\n");

    // A bad argument anywhere stores nothing, including the good ones before it.
    for (const char* bad : {"exportOpt=1 colour=3", "exportOpt=two", "exportOpt=", "exportOpt=1.5", "rescaleOpt"}) {
        r = cli(std::string("settings ") + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err, "") << bad;
    }
    EXPECT_NE(cli("settings colour=3").err.find("colour"), std::string::npos);
    EXPECT_EQ(cli("settings").out, "resolutionOpt=7 (Low)\nexportOpt=2 (Medium Quality)\nrescaleOpt=1 (Best)\n");
}

TEST_F(Cli, ZoomsPrintsTheTrackExactlyOrFails) {
    ZoomTrack track{makeZoomEntry(1.0f, 0.0, 3), makeZoomEntry(2.0f * 0.3333333f + 1.0f, 0.1 + 0.2),
                    makeZoomEntry(3.0f, 12.5)};
    ASSERT_TRUE(writeZoomTrackFile(TavrioCaptureManager::zoomsArchiveFilePath("Out-2.mov"), track));

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

    ASSERT_TRUE(writeZoomTrackFile(TavrioCaptureManager::zoomsArchiveFilePath("Bad.mov"),
                                   ZoomTrack{makeZoomEntry(0.0f, 0.0, 1)}));
    r = cli("zooms Bad.mov");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unusable"), std::string::npos);

    EXPECT_EQ(cli("zooms").status, 2);
    EXPECT_EQ(cli("zooms a.mov b.mov").status, 2);
}

TEST_F(Cli, HelpVersionAndUnknownCommands) {
    Result r = cli("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* command : {"paths", "settings", "zooms"})
        EXPECT_NE(r.out.find(std::string("  ") + command), std::string::npos) << command;
    r = cli("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tavrio-cli ", 0), 0u);
    EXPECT_EQ(cli("").status, 2);
    r = cli("frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("frobnicate"), std::string::npos);
    // Neither help nor a usage error launches the app (no notice, no settings written).
    EXPECT_FALSE(fs::exists(home() / "settings.ini"));
}
