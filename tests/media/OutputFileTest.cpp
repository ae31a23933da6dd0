#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

extern "C" {
#include <libavutil/error.h>
}

#include "media/Asset.h"
#include "media/ExportSession.h"
#include "media/MediaTestSupport.h"
#include "media/OutputFile.h"
#include "support/TestSupport.h"

using namespace media;
using namespace mediatest;
namespace fs = std::filesystem;

namespace {

std::set<std::string> entries(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

bool write(OutputFile& f, const std::string& s) {
    return f.write(s.data(), s.size());
}

// Changes the working folder for the object's lifetime.
class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() { fs::current_path(old_); }

private:
    fs::path old_;
};

}  // namespace

TEST(OutputFile, NothingStandsUnderTheFinalNameUntilTheCommit) {
    testsupport::TempDir dir;
    const fs::path final = dir.path() / "Video.mov";
    auto f = OutputFile::create(final.string());
    ASSERT_TRUE(f);
    ASSERT_TRUE(write(*f, "movie"));
    EXPECT_FALSE(fs::exists(final));
    const std::string temp = fs::path(f->temporaryPath()).filename().string();
    EXPECT_EQ(temp[0], '.') << temp;  // hidden from the library
    EXPECT_TRUE(OutputFile::isTemporaryName(temp));
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{temp});

    ASSERT_TRUE(f->commit(OutputFile::Commit::ClaimFree));
    EXPECT_EQ(testsupport::readFile(final), "movie");
    f.reset();
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"Video.mov"});

    // Dropped without a commit: only its own temporary goes.
    auto g = OutputFile::create(final.string());
    ASSERT_TRUE(g);
    g.reset();
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"Video.mov"});

    EXPECT_FALSE(OutputFile::create((dir.path() / "missing" / "x.mov").string()));
}

TEST(OutputFile, ClaimingNeverReplacesAFileOrFollowsALink) {
    testsupport::TempDir dir;
    const fs::path final = dir.path() / "Video.mov";
    const fs::path elsewhere = dir.path() / "outside.txt";
    testsupport::writeFile(elsewhere, "precious");

    // A file taken after the name was chosen, and a link planted at it: both stay as they are.
    for (bool link : {false, true}) {
        SCOPED_TRACE(link ? "link" : "file");
        fs::remove(final);
        auto f = OutputFile::create(final.string());
        ASSERT_TRUE(f);
        ASSERT_TRUE(write(*f, "ours"));
        if (link)
            fs::create_symlink(elsewhere, final);
        else
            testsupport::writeFile(final, "theirs");
        Error e;
        EXPECT_FALSE(f->commit(OutputFile::Commit::ClaimFree, &e));
        EXPECT_EQ(e.code, EEXIST);
        f.reset();
        EXPECT_EQ(testsupport::readFile(final), link ? "precious" : "theirs");
        EXPECT_EQ(fs::is_symlink(final), link);
    }
    EXPECT_EQ(testsupport::readFile(elsewhere), "precious");

    // With a chooser the movie moves on to the first name that is free when it is complete.
    auto f = OutputFile::create(final.string());
    ASSERT_TRUE(f);
    ASSERT_TRUE(write(*f, "ours"));
    testsupport::writeFile(dir.path() / "Video-1.mov", "also theirs");
    int asked = 0;
    ASSERT_TRUE(f->commit(OutputFile::Commit::ClaimFree, nullptr,
                          [&] { return (dir.path() / ("Video-" + std::to_string(++asked) + ".mov")).string(); }));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(f->finalPath(), (dir.path() / "Video-2.mov").string());
    EXPECT_EQ(testsupport::readFile(dir.path() / "Video-2.mov"), "ours");
    EXPECT_EQ(testsupport::readFile(dir.path() / "Video-1.mov"), "also theirs");
}

TEST(OutputFile, ReplacingSwapsALinkForTheFileAndLeavesItsTargetAlone) {
    testsupport::TempDir dir;
    const fs::path target = dir.path() / "outside.txt";
    testsupport::writeFile(target, "precious");
    const fs::path side = dir.path() / "Out.mov.zooms.lkbx";
    fs::create_symlink(target, side);
    ASSERT_TRUE(replaceFileContents(side.string(), "track", 5));
    EXPECT_FALSE(fs::is_symlink(side));
    EXPECT_EQ(testsupport::readFile(side), "track");
    EXPECT_EQ(testsupport::readFile(target), "precious");
    ASSERT_TRUE(replaceFileContents(side.string(), "newer", 5));
    EXPECT_EQ(testsupport::readFile(side), "newer");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"Out.mov.zooms.lkbx", "outside.txt"}));
}

TEST(OutputFile, CopiesAnotherFilesBytesOnTheSameFilesystemOrAnother) {
    testsupport::TempDir dir;
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 % 251);
    std::vector<fs::path> sources{dir.path() / "source"};
    // tmpfs: the kernel will not copy across filesystems, and a buffer carries the bytes.
    if (fs::is_directory("/dev/shm"))
        sources.push_back(fs::path("/dev/shm") / ("tavrio-copy-" + std::to_string(::getpid())));
    for (const fs::path& source : sources) {
        SCOPED_TRACE(source.string());
        testsupport::writeFile(source, bytes);
        const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        auto out = OutputFile::create((dir.path() / "copy").string());
        ASSERT_TRUE(out);
        ASSERT_TRUE(write(*out, "head:"));
        EXPECT_TRUE(out->copyFrom(fd, 150000));
        ASSERT_TRUE(write(*out, ":tail"));
        ASSERT_TRUE(out->commit(OutputFile::Commit::Replace));
        EXPECT_EQ(testsupport::readFile(dir.path() / "copy"), "head:" + bytes.substr(0, 150000) + ":tail");
        // A source shorter than asked fails the copy: never a file with less than it should hold.
        auto tooFar = OutputFile::create((dir.path() / "short").string());
        ASSERT_TRUE(tooFar);
        Error e;
        EXPECT_FALSE(tooFar->copyFrom(fd, 300000, &e));
        EXPECT_TRUE(e.isError());
        ::close(fd);
        fs::remove(source);
    }
}

TEST(OutputFile, StaleTemporariesOfDeadWritersAreSweptLiveOnesKept) {
    testsupport::TempDir dir;
    auto live = OutputFile::create((dir.path() / "Video.mov").string());
    ASSERT_TRUE(live);
    // What killed writers leave: an unlocked temporary, and an older recorder's finishing file.
    testsupport::writeFile(dir.path() / ".Video-1.mov.abc123.partial", "dead");
    testsupport::writeFile(dir.path() / ".Out.mov.finishing", "dead");
    // Not ours to judge: other hidden files, and a link named like a temporary.
    testsupport::writeFile(dir.path() / ".hidden", "user");
    testsupport::writeFile(dir.path() / "Video.partial", "user");
    fs::create_symlink(dir.path() / ".hidden", dir.path() / ".x.mov.zzzzzz.partial");

    EXPECT_EQ(OutputFile::removeStaleTemporaries(dir.str()), 2);
    const auto left = entries(dir.path());
    EXPECT_TRUE(left.count(fs::path(live->temporaryPath()).filename().string()));
    EXPECT_FALSE(left.count(".Video-1.mov.abc123.partial"));
    EXPECT_FALSE(left.count(".Out.mov.finishing"));
    EXPECT_TRUE(left.count(".hidden") && left.count("Video.partial") && left.count(".x.mov.zzzzzz.partial"));

    // Creating an output in the folder sweeps too.
    testsupport::writeFile(dir.path() / ".Video.mov.qqqqqq.partial", "dead");
    auto another = OutputFile::create((dir.path() / "Video.mov").string());
    ASSERT_TRUE(another);
    EXPECT_FALSE(fs::exists(dir.path() / ".Video.mov.qqqqqq.partial"));
    EXPECT_TRUE(fs::exists(live->temporaryPath()));
}

TEST(ExportSessionOutput, ATakenNameFailsWithoutTouchingItAndAChooserMovesOn) {
    testsupport::TempDir dir;
    const std::string source = (dir.path() / "source.mov").string();
    makePatternMovie(source, patternOptions(15, 160, 120));
    Error e;
    auto asset = Asset::open(source, &e);
    ASSERT_TRUE(asset) << e.description;
    const fs::path final = dir.path() / "Video.mov";

    // A name taken before the export starts fails it at once (one taken while it runs fails
    // the claim, as above); either way that file stays exactly as it was, with nothing of the
    // export's own behind.
    testsupport::writeFile(final, "someone else's");
    ExportSession taken(asset, ExportPreset::Passthrough);
    taken.setOutputPath(final.string());
    runExport(taken);
    EXPECT_EQ(taken.status(), ExportSession::Status::Failed);
    EXPECT_EQ(taken.error().code, AVERROR(EEXIST)) << taken.error().failureReason;
    EXPECT_EQ(testsupport::readFile(final), "someone else's");
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"Video.mov", "source.mov"}));

    ExportSession chooses(asset, ExportPreset::Passthrough);
    chooses.setOutputPath(final.string());
    const std::string next = (dir.path() / "Video-1.mov").string();
    chooses.setOutputPathChooser([&] { return next; });
    ASSERT_EQ(runExport(chooses), ExportSession::Status::Completed) << chooses.error().failureReason;
    EXPECT_EQ(chooses.outputPath(), next);
    EXPECT_TRUE(Asset::open(next));
    EXPECT_EQ(testsupport::readFile(final), "someone else's");

    // Cancelled: nothing of it anywhere.
    ExportSession cancelled(asset, ExportPreset::HighestQuality);
    cancelled.setOutputPath((dir.path() / "Video-2.mov").string());
    cancelled.cancelExport();
    EXPECT_EQ(runExport(cancelled), ExportSession::Status::Cancelled);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"Video.mov", "Video-1.mov", "source.mov"}));
}

TEST(LocalInput, NamesAreFilesNeverUrlsOrPipes) {
    testsupport::TempDir dir;
    ScopedCwd cwd(dir.path());
    // A real movie whose relative name reads like a URL opens as that file.
    makePatternMovie((dir.path() / "http:x.mov").string(), patternOptions(5, 160, 120));
    Error e;
    auto asset = Asset::open("http:x.mov", &e);
    ASSERT_TRUE(asset) << e.description << " " << e.failureReason;
    EXPECT_EQ(asset->tracksWithMediaType(MediaType::Video).size(), 1u);
    testsupport::writeFile(dir.path() / "a", "x");
    testsupport::writeFile(dir.path() / "b", "y");
    for (const char* url : {"pipe:0", "concat:a|b", "tcp://127.0.0.1:9/x.mov", "file:http:x.mov", ""}) {
        Error err;
        EXPECT_FALSE(Asset::open(url, &err)) << url;
        EXPECT_TRUE(err.isError()) << url;
    }
    // A FIFO would block a reader forever: it is refused without opening it.
    ASSERT_EQ(mkfifo((dir.path() / "fifo.mov").c_str(), 0644), 0);
    Error fifo;
    EXPECT_FALSE(Asset::open("fifo.mov", &fifo));
    EXPECT_NE(fifo.failureReason.find("not a file"), std::string::npos) << fifo.failureReason;
}
