#include "MediaStore.h"

#include "platform/Logging.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

#include <limits>

namespace {

QString libraryFolder(const char* name) {
    return platform::Paths::libraryRoot() + QLatin1Char('/') + QLatin1String(name);
}

// One level only: the parent (Library) always exists, and a missing parent means something is
// badly wrong, which the caller's failed write then reports.
void createFolderIfMissing(const QString& path) {
    if (QFileInfo(path).isDir()) return;
    if (!QDir().mkdir(path)) qCWarning(lcStore) << "cannot create folder" << path;
}

// A name is taken by anything there, a dangling symbolic link included: writing through the
// link would put the movie somewhere else.
bool nameTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The first free  folder/<prefix><suffix>.mov  with suffix "", "-1", "-2", ...; always probing
// from the start, so gaps left by deleted files are filled first.
QString firstFreeName(const QString& folder, const QString& prefix) {
    for (qint64 n = 0;; ++n) {
        const QString suffix = n == 0 ? QString() : QStringLiteral("-%1").arg(n);
        const QString candidate = folder + QLatin1Char('/') + prefix + suffix + QStringLiteral(".mov");
        if (!nameTaken(candidate)) return candidate;
    }
}

}  // namespace

QString MediaStore::baseDirForVideos() {
    return platform::Paths::documentsRoot();
}

QString MediaStore::baseDirForOriginalVideos() {
    return libraryFolder("Originals");
}

QString MediaStore::baseDirForThumbnails() {
    return libraryFolder("Thumbs");
}

QString MediaStore::filePathForRecording() {
    const QString folder = baseDirForOriginalVideos();
    createFolderIfMissing(folder);
    return firstFreeName(folder, QStringLiteral("Out"));
}

QString MediaStore::exportFilePath() {
    return firstFreeName(baseDirForVideos(), QStringLiteral("Video"));
}

QString MediaStore::exportFilePathForRotation() {
    const QString path = baseDirForVideos() + QLatin1Char('/') + QLatin1String(kRotationFileName);
    // A file left there by an interrupted export would make the next export's writer fail.
    if (nameTaken(path) && !QFile::remove(path)) qCWarning(lcStore) << "cannot remove left-over" << path;
    return path;
}

QString MediaStore::zoomsArchiveFilePath(const QString& movieFileName) {
    const QString folder = libraryFolder("Zooms");
    createFolderIfMissing(folder);
    return folder + QLatin1Char('/') + movieFileName + QStringLiteral(".zooms.lkbx");
}

QString MediaStore::earlierZoomsArchiveFilePath(const QString& movieFileName) {
    const QString folder = libraryFolder("Zooms");
    createFolderIfMissing(folder);
    return folder + QLatin1Char('/') + movieFileName + QStringLiteral(".zooms-previous.lkbx");
}

QStringList MediaStore::sideFilePaths(const QString& moviePath) {
    const QString folder = QDir::cleanPath(QFileInfo(moviePath).absolutePath());
    if (folder != QDir::cleanPath(baseDirForOriginalVideos()) && folder != QDir::cleanPath(baseDirForVideos()))
        return {};
    const QString name = QFileInfo(moviePath).fileName();
    return {thumbnailFilePath(moviePath), zoomsArchiveFilePath(name), earlierZoomsArchiveFilePath(name),
            timingFilePathForVideo(name)};
}

void MediaStore::removeLeftEarlierZoom(const QString& movieFileName) {
    QFile::remove(earlierZoomsArchiveFilePath(movieFileName));
}

QString MediaStore::timingFilePathForVideo(const QString& movieFileName) {
    const QString folder = libraryFolder("Durations");
    createFolderIfMissing(folder);
    return folder + QLatin1Char('/') + movieFileName + QStringLiteral(".duration.lkbx");
}

QString MediaStore::thumbnailFilePath(const QString& moviePath) {
    return baseDirForThumbnails() + QLatin1Char('/') + QFileInfo(moviePath).fileName() + QStringLiteral(".jpeg");
}

QString MediaStore::thumbnailPathForVideo(const QString& moviePath) {
    const QString path = thumbnailFilePath(moviePath);
    return QFileInfo::exists(path) ? path : QString();
}

QString MediaStore::filePathOfLastRecordedVideo() {
    return newestEntryIn(baseDirForOriginalVideos());
}

int64_t MediaStore::fileCreationTime(const QString& path) {
    // The birth time where the filesystem records one (ext4, btrfs, xfs, tmpfs), through statx;
    // elsewhere the modification time, which for a movie written once is its creation time
    // give or take the length of the recording.
    struct statx st {};
    const QByteArray native = QFile::encodeName(path);
    if (statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &st) != 0)
        return std::numeric_limits<int64_t>::min();
    const struct statx_timestamp& ts = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString MediaStore::newestEntryIn(const QString& folder, const CreationTime& timeOf) {
    const QDir dir(folder);
    if (!dir.exists()) return QString();
    // Every entry, hidden ones included, sorted by name so that ties are decided the same way
    // on every filesystem.
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    if (entries.isEmpty()) return QString();
    const QString base = dir.path() + QLatin1Char('/');
    QString best = base + entries.first();
    int64_t bestTime = timeOf(best);
    for (const QString& name : entries) {
        const QString path = base + name;
        const int64_t t = timeOf(path);
        if (t > bestTime) {
            best = path;
            bestTime = t;
        }
    }
    return best;
}
