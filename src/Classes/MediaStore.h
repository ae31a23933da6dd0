#pragma once
// The media store: where recordings, exports and their side files live and how new names are
// chosen. Class operations only, so that screens, jobs and the command line use them without
// any capture session.
//
// Folders: Documents (exports) is the platform's; Library/Originals, Library/Zooms and
// Library/Durations are created one level deep by the operations that hand out paths in them,
// even when the caller only reads; Library/Thumbs is created only by those who write thumbnails.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class MediaStore {
public:
    MediaStore() = delete;

    static QString baseDirForVideos();          // the Documents root
    static QString baseDirForOriginalVideos();  // Library/Originals; not created
    static QString baseDirForThumbnails();      // Library/Thumbs; not created

    // The first free Originals/Out%@.mov ("", "-1", "-2", ...), creating Originals if missing.
    static QString filePathForRecording();
    // The first free Documents/Video%@.mov; creates nothing and reserves nothing.
    static QString exportFilePath();
    // Documents/For_Portrait_Exporting.mov, with any left-over file there removed.
    static QString exportFilePathForRotation();
    // Zooms/<movieFileName>.zooms.lkbx and Durations/<movieFileName>.duration.lkbx, creating the
    // folder if missing. Pass the movie's file name (with its extension), never a full path.
    static QString zoomsArchiveFilePath(const QString& movieFileName);
    // Zooms/<movieFileName>.zooms-previous.lkbx: the track a new zoom replaced, kept for an undo.
    static QString earlierZoomsArchiveFilePath(const QString& movieFileName);
    static QString timingFilePathForVideo(const QString& movieFileName);
    // The side files kept for the movie at `moviePath`, whether or not they exist: thumbnail,
    // zoom track, its earlier version and duration file; they go where the movie goes. None
    // for a movie outside Originals and Documents (tavrio-cli exports any file), which must not
    // take those of a library movie of the same name with it.
    static QStringList sideFilePaths(const QString& moviePath);
    // Removes the earlier zoom track a movie once at this name left: a new movie there (a new
    // recording, or a movie given its first track) must not undo to another's zoom.
    static void removeLeftEarlierZoom(const QString& movieFileName);
    // Thumbs/<movie file name>.jpeg, whether or not it exists; creates nothing.
    static QString thumbnailFilePath(const QString& moviePath);
    // The same if that file exists, else a null string.
    static QString thumbnailPathForVideo(const QString& moviePath);

    // The most recently created entry of Originals, or a null string when the folder is missing,
    // unreadable or empty.
    static QString filePathOfLastRecordedVideo();

    // A file's creation time in nanoseconds since the epoch: its birth time where the filesystem
    // keeps one, else its modification time; INT64_MIN when it cannot be read.
    using CreationTime = std::function<int64_t(const QString& path)>;
    static int64_t fileCreationTime(const QString& path);
    // The path of the entry of `folder` with the latest creation time; entries are taken in name
    // order and ties keep the first. Null string when the folder is missing or empty.
    static QString newestEntryIn(const QString& folder, const CreationTime& timeOf = fileCreationTime);

    static constexpr char kRotationFileName[] = "For_Portrait_Exporting.mov";
};
