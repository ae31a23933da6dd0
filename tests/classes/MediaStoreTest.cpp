#include "MediaStore.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <map>

namespace fs = std::filesystem;

namespace {

QString q(const fs::path& p) {
    return QString::fromStdString(p.string());
}

void touch(const fs::path& p) {
    testsupport::writeFile(p, "x");
}

}  // namespace

TEST(MediaStore, UniqueNamesStartAtTheBareNameAndFillGaps) {
    testsupport::TempHome home;
    const fs::path originals = home.path() / "Library" / "Originals";
    const fs::path documents = home.path() / "Documents";

    EXPECT_EQ(MediaStore::filePathForRecording(), q(originals / "Out.mov"));
    touch(originals / "Out.mov");
    EXPECT_EQ(MediaStore::filePathForRecording(), q(originals / "Out-1.mov"));
    touch(originals / "Out-2.mov");
    EXPECT_EQ(MediaStore::filePathForRecording(), q(originals / "Out-1.mov"));
    touch(originals / "Out-1.mov");
    EXPECT_EQ(MediaStore::filePathForRecording(), q(originals / "Out-3.mov"));
    // Any entry takes a name: a folder, and a dangling link that would redirect the write.
    fs::create_directory(originals / "Out-3.mov");
    fs::create_symlink(home.path() / "nowhere", originals / "Out-4.mov");
    EXPECT_EQ(MediaStore::filePathForRecording(), q(originals / "Out-5.mov"));

    // Nothing is reserved: asking twice without writing gives the same path, and no file.
    EXPECT_EQ(MediaStore::exportFilePath(), q(documents / "Video.mov"));
    EXPECT_EQ(MediaStore::exportFilePath(), q(documents / "Video.mov"));
    EXPECT_FALSE(fs::exists(documents / "Video.mov"));
    touch(documents / "Video.mov");
    touch(documents / "Video-1.mov");
    touch(documents / "Video-10.mov");
    EXPECT_EQ(MediaStore::exportFilePath(), q(documents / "Video-2.mov"));
    // The counters of the two folders are independent.
    EXPECT_EQ(MediaStore::filePathForRecording(), q(originals / "Out-5.mov"));
}

TEST(MediaStore, OnlyTheNamedOperationsCreateFoldersEvenForReading) {
    testsupport::TempHome home;
    const fs::path library = home.path() / "Library";

    EXPECT_EQ(MediaStore::baseDirForVideos(), q(home.path() / "Documents"));
    EXPECT_TRUE(fs::is_directory(home.path() / "Documents"));  // the platform's own folder
    EXPECT_EQ(MediaStore::baseDirForOriginalVideos(), q(library / "Originals"));
    EXPECT_EQ(MediaStore::baseDirForThumbnails(), q(library / "Thumbs"));
    (void)MediaStore::exportFilePath();
    (void)MediaStore::exportFilePathForRotation();
    EXPECT_TRUE(MediaStore::filePathOfLastRecordedVideo().isNull());
    EXPECT_TRUE(MediaStore::thumbnailPathForVideo("/x/Out.mov").isNull());
    EXPECT_FALSE(fs::exists(library / "Originals"));
    EXPECT_FALSE(fs::exists(library / "Thumbs"));
    EXPECT_FALSE(fs::exists(library / "Zooms"));
    EXPECT_FALSE(fs::exists(library / "Durations"));

    // A path asked for only to read a side file still creates its folder.
    (void)MediaStore::zoomsArchiveFilePath("Out.mov");
    EXPECT_TRUE(fs::is_directory(library / "Zooms"));
    EXPECT_FALSE(fs::exists(library / "Durations"));
    (void)MediaStore::timingFilePathForVideo("Out.mov");
    EXPECT_TRUE(fs::is_directory(library / "Durations"));
    (void)MediaStore::filePathForRecording();
    EXPECT_TRUE(fs::is_directory(library / "Originals"));
    EXPECT_FALSE(fs::exists(library / "Thumbs"));  // only the library list makes it

    // A file where a folder should be: the path still comes back, and the caller's write fails.
    fs::remove_all(library / "Zooms");
    touch(library / "Zooms");
    EXPECT_EQ(MediaStore::zoomsArchiveFilePath("Out.mov"), q(library / "Zooms" / "Out.mov.zooms.lkbx"));
}

TEST(MediaStore, SideFilesAppendToTheWholeFileName) {
    testsupport::TempHome home;
    const fs::path library = home.path() / "Library";
    EXPECT_EQ(MediaStore::zoomsArchiveFilePath("Out-3.mov"), q(library / "Zooms" / "Out-3.mov.zooms.lkbx"));
    EXPECT_EQ(MediaStore::timingFilePathForVideo("Out-3.mov"), q(library / "Durations" / "Out-3.mov.duration.lkbx"));
    EXPECT_EQ(MediaStore::timingFilePathForVideo("Video-1.mov"),
              q(library / "Durations" / "Video-1.mov.duration.lkbx"));

    // Thumbnails take the movie's file name from a full path, and exist or are null.
    fs::create_directory(library / "Thumbs");
    const QString moviePath = q(home.path() / "Documents" / "Video-1.mov");
    EXPECT_TRUE(MediaStore::thumbnailPathForVideo(moviePath).isNull());
    touch(library / "Thumbs" / "Video-1.mov.jpeg");
    EXPECT_EQ(MediaStore::thumbnailPathForVideo(moviePath), q(library / "Thumbs" / "Video-1.mov.jpeg"));
    EXPECT_TRUE(MediaStore::thumbnailPathForVideo(q(home.path() / "Video.mov")).isNull());
}

TEST(MediaStore, RotationPathRemovesALeftOver) {
    testsupport::TempHome home;
    const fs::path leftOver = home.path() / "Documents" / "For_Portrait_Exporting.mov";
    EXPECT_EQ(MediaStore::exportFilePathForRotation(), q(leftOver));
    EXPECT_FALSE(fs::exists(leftOver));
    touch(leftOver);
    touch(home.path() / "Documents" / "Video.mov");
    EXPECT_EQ(MediaStore::exportFilePathForRotation(), q(leftOver));
    EXPECT_FALSE(fs::exists(leftOver));
    EXPECT_TRUE(fs::exists(home.path() / "Documents" / "Video.mov"));
}

TEST(MediaStore, NewestEntryGoesByCreationTimeWithTiesToTheFirstListed) {
    testsupport::TempDir dir;
    const QString folder = q(dir.path());
    EXPECT_TRUE(MediaStore::newestEntryIn(q(dir.path() / "missing")).isNull());
    EXPECT_TRUE(MediaStore::newestEntryIn(folder).isNull());

    std::map<std::string, int64_t> created;
    auto timeOf = [&](const QString& path) { return created.at(QFileInfo(path).fileName().toStdString()); };
    for (const char* name : {"Out.mov", "Out-1.mov", "Out-2.mov", ".hidden", "notes.txt"}) touch(dir.path() / name);
    // The counter means nothing: Out-1.mov was made last.
    created = {{"Out.mov", 100}, {"Out-1.mov", 300}, {"Out-2.mov", 200}, {".hidden", 50}, {"notes.txt", 10}};
    EXPECT_EQ(MediaStore::newestEntryIn(folder, timeOf), q(dir.path() / "Out-1.mov"));
    // Every entry counts, whatever its name or extension.
    created["notes.txt"] = 400;
    EXPECT_EQ(MediaStore::newestEntryIn(folder, timeOf), q(dir.path() / "notes.txt"));
    created[".hidden"] = 500;
    EXPECT_EQ(MediaStore::newestEntryIn(folder, timeOf), q(dir.path() / ".hidden"));
    // Ties keep the entry listed first (name order), not the last one seen.
    created = {{"Out.mov", 7}, {"Out-1.mov", 7}, {"Out-2.mov", 7}, {".hidden", 1}, {"notes.txt", 7}};
    EXPECT_EQ(MediaStore::newestEntryIn(folder, timeOf), q(dir.path() / "Out-1.mov"));
    // An unreadable first entry does not win over readable ones.
    created = {{"Out.mov", 7}, {"Out-1.mov", 5}, {"Out-2.mov", 7}, {".hidden", INT64_MIN}, {"notes.txt", 7}};
    EXPECT_EQ(MediaStore::newestEntryIn(folder, timeOf), q(dir.path() / "Out-2.mov"));
}

TEST(MediaStore, CreationTimeIsTheBirthTimeWhereTheFilesystemKeepsOne) {
    testsupport::TempHome home;
    const fs::path file = home.path() / "movie.mov";
    touch(file);
    // Back-date the modification time; a birth time is unaffected by that.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {631152000, 0}};  // 1990-01-01
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct statx st {};
    ASSERT_EQ(statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &st), 0);
    const int64_t t = MediaStore::fileCreationTime(q(file));
    if (st.stx_mask & STATX_BTIME)
        EXPECT_EQ(t, int64_t(st.stx_btime.tv_sec) * 1000000000 + st.stx_btime.tv_nsec);
    else
        EXPECT_EQ(t, int64_t(631152000) * 1000000000);
    EXPECT_EQ(MediaStore::fileCreationTime(q(home.path() / "missing")), INT64_MIN);

    // Through the instance operation: one recording in the folder is the last one.
    const QString recording = MediaStore::filePathForRecording();
    testsupport::writeFile(recording.toStdString(), "movie");
    EXPECT_EQ(MediaStore::filePathOfLastRecordedVideo(), recording);
}
