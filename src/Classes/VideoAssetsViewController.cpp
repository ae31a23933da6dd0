#include "VideoAssetsViewController.h"

#include "RunningExports.h"
#include "MediaStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QMutex>
#include <QPointer>
#include <QStandardPaths>
#include <QFileSystemWatcher>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ZoomTrack.h"
#include "media/Asset.h"
#include "media/ImageGenerator.h"
#include "media/OutputFile.h"
#include "platform/AlertService.h"
#include "platform/Logging.h"
#include "platform/MainThread.h"
#include "platform/Background.h"
#include "platform/StringTable.h"

namespace {

// "What went wrong. Why." from an engine error, for a message line.
QString errorText(const media::Error& error) {
    QString text = QString::fromStdString(error.description);
    if (!error.failureReason.empty()) text += QLatin1Char(' ') + QString::fromStdString(error.failureReason);
    return text;
}

QString localized(const char* key) {
    return platform::StringTable::localized(QStringLiteral("localizable"), QString::fromLatin1(key));
}

// Movies known to give no picture, by size and time (a replaced file is tried again), for the
// whole run: each is announced once, not at every opening of the list. Main thread.
QHash<QString, QPair<qint64, QDateTime>>& unusableMovies() {
    static QHash<QString, QPair<qint64, QDateTime>> movies;
    return movies;
}

// A thumbnail older than its movie was made from an earlier movie of the same name.
bool isStale(const QFileInfo& thumb, const QFileInfo& movie) {
    const QDateTime made = movie.lastModified();
    return thumb.lastModified() < made && made <= QDateTime::currentDateTime();
}

QMutex listingObserverLock;
std::function<void()>& listingObserver() {
    static std::function<void()> observer;
    return observer;
}
std::function<void()>& watchObserver() {
    static std::function<void()> observer;
    return observer;
}

void observeWatch() {
    std::function<void()> observer;
    {
        QMutexLocker locker(&listingObserverLock);
        observer = watchObserver();
    }
    if (observer) observer();
}

}  // namespace

// What a worker read of the folders, handed to the main thread.
struct VideoAssetsViewController::Listing {
    std::vector<Row> rows;
    QStringList folders;  // those that exist
    // Thumbnails read from their files this time, by their file's time.
    QHash<QString, QPair<QDateTime, QImage>> thumbnails;
};

void VideoAssetsViewController::setListingObserver(std::function<void()> observer) {
    QMutexLocker locker(&listingObserverLock);
    listingObserver() = std::move(observer);
}

void VideoAssetsViewController::setWatchObserver(std::function<void()> observer) {
    QMutexLocker locker(&listingObserverLock);
    watchObserver() = std::move(observer);
}

VideoAssetsViewController::VideoAssetsViewController(QObject* parent) : QObject(parent) {
    // Exports run on after their details screen has gone: their rows show how far they are, and
    // their end (a recording replaced by its export) refreshes the list.
    RunningExports& exports = RunningExports::shared();
    auto exportRowChanged = [this](const QString& path) {
        if (const int i = indexOf(path); i >= 0) emit rowChanged(i);
    };
    connect(&exports, &RunningExports::started, this, exportRowChanged);
    connect(&exports, &RunningExports::progressChanged, this, exportRowChanged);
    connect(&exports, &RunningExports::finished, this, [this] {
        if (!_videosDirPath.isEmpty()) refreshData();
    });
}

// Movies whose thumbnail has not started are skipped once the list is gone; the ones being
// decoded finish (a frame each) and find it gone.
VideoAssetsViewController::~VideoAssetsViewController() {
    if (!_watcherThread) return;
    // Not waited for: a thread still in a hung folder's lookup ends, with its watcher, when the
    // lookup returns.
    _watcher->deleteLater();
    connect(_watcherThread, &QThread::finished, _watcherThread, &QObject::deleteLater);
    _watcherThread->quit();
}

void VideoAssetsViewController::viewDidLoad() {
    _videosDirPath = MediaStore::baseDirForVideos();
    _thumbsDirPath = MediaStore::baseDirForThumbnails();
    _originalClipsPath = MediaStore::baseDirForOriginalVideos();
    refreshData();
}

void VideoAssetsViewController::folderChanged() {
    // A recording or a copy arrives as a burst of changes (temporary, rename, side files): one
    // refresh after the burst.
    if (!_refreshSoon) {
        _refreshSoon = new QTimer(this);
        _refreshSoon->setSingleShot(true);
        _refreshSoon->setInterval(100);
        connect(_refreshSoon, &QTimer::timeout, this, &VideoAssetsViewController::refreshData);
    }
    _refreshSoon->start();
}

void VideoAssetsViewController::watchFolders() {
    if (!_watcher) {
        _watcherThread = new QThread();
        _watcherThread->setObjectName(QStringLiteral("library watch"));
        _watcher = new QFileSystemWatcher();
        _watcher->moveToThread(_watcherThread);
        connect(_watcher, &QFileSystemWatcher::directoryChanged, this, &VideoAssetsViewController::folderChanged);
        connect(_watcher, &QFileSystemWatcher::fileChanged, this, &VideoAssetsViewController::folderChanged);
        _watcherThread->start();
    }
    // The folders, and each movie listed, so that one still being copied in grows in its row.
    QStringList wanted = _listedFolders;
    for (const Row& r : _rows) wanted << r.path;
    // And the unusable ones: a file written again in place may be a movie now.
    for (auto it = unusableMovies().cbegin(); it != unusableMovies().cend(); ++it) {
        const QString folder = QFileInfo(it.key()).absolutePath();
        if (folder == _videosDirPath || folder == _originalClipsPath) wanted << it.key();
    }
    QStringList gone;
    for (const QString& path : std::as_const(_watched))
        if (!wanted.contains(path)) gone << path;
    QStringList added;
    for (const QString& path : wanted)
        if (!_watched.contains(path)) added << path;
    if (gone.isEmpty() && added.isEmpty()) return;
    for (const QString& path : gone) _watched.remove(path);
    for (const QString& path : added) _watched.insert(path);
    // In the watcher's thread, in the order asked; the list hears when they are in place.
    ++_watchesPending;
    QMetaObject::invokeMethod(
        _watcher,
        [watcher = _watcher, gone, added, list = QPointer<QObject>(this)] {
            observeWatch();
            if (!gone.isEmpty()) watcher->removePaths(gone);
            if (!added.isEmpty()) watcher->addPaths(added);
            platform::Background::deliver(
                list, [list] { --static_cast<VideoAssetsViewController*>(list.data())->_watchesPending; },
                "library watched");
        },
        Qt::QueuedConnection);
}

bool VideoAssetsViewController::isAudiovisualFile(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix();
    if (suffix.compare(QLatin1String("mov"), Qt::CaseInsensitive) == 0) return true;
    if (suffix.isEmpty()) return false;
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) return false;
    const QString name = type.name();
    return name.startsWith(QLatin1String("video/")) || name.startsWith(QLatin1String("audio/"));
}

QString VideoAssetsViewController::sizeText(qint64 bytes) {
    return QString::asprintf("Size: %.01f MB", static_cast<double>(bytes) / 1000000.0);
}

namespace {

QString titleFor(const QString& path, int64_t created) {
    QString date;
    if (created != std::numeric_limits<int64_t>::min())
        date = VideoAssetsViewController::dateText(QDateTime::fromMSecsSinceEpoch(created / 1000000));
    return QStringLiteral("%1 (%2)").arg(readDurationFile(QFileInfo(path).fileName()), date);
}

}  // namespace

QString VideoAssetsViewController::dateText(const QDateTime& time) {
    const QLocale locale;
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression seconds(QStringLiteral("[:.]ss?"));
    timeFormat.remove(seconds);
    return locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(time.time(), timeFormat);
}

bool VideoAssetsViewController::isExportNeededForAsset(const QString& path) {
    if (_originalClipsPath.isEmpty()) _originalClipsPath = MediaStore::baseDirForOriginalVideos();
    return QDir::cleanPath(QFileInfo(path).absolutePath()) == QDir::cleanPath(_originalClipsPath);
}

void VideoAssetsViewController::deleteVideoAssetAtPath(const QString& path, std::function<void(bool)> done) {
    QPointer<VideoAssetsViewController> self(this);
    deleteVideoAsset(path, [self, path, done](bool deleted) {
        if (self && deleted) {
            // Its row goes at once; the listing that follows catches whatever else changed.
            if (const int index = self->indexOf(path); index >= 0) {
                self->_rows.erase(self->_rows.begin() + index);
                emit self->rowRemoved(index);
            }
            self->refreshData();
        }
        if (done) done(deleted);
    });
}

void VideoAssetsViewController::doneButtonPressed() {
    if (_delegate) _delegate->videoAssetsViewControllerDidDismiss();
}

QStringList VideoAssetsViewController::fileList() const {
    QStringList list;
    list.reserve(count());
    for (const Row& r : _rows) list << r.path;
    return list;
}

QString VideoAssetsViewController::detailText(int index) const {
    const Row& r = row(index);
    if (!RunningExports::shared().isExporting(r.path)) return r.subtitle;
    return QStringLiteral("Exporting... %1%").arg(int(RunningExports::shared().progress(r.path) * 100));
}

int VideoAssetsViewController::indexOf(const QString& path) const {
    for (size_t i = 0; i < _rows.size(); ++i)
        if (_rows[i].path == path) return static_cast<int>(i);
    return -1;
}

void VideoAssetsViewController::refreshData() {
    if (_listing) {
        // A burst of changes while the folders are being read: one more listing after this one.
        _listAgain = true;
        return;
    }
    _listing = true;
    // Dropped when the list has gone meanwhile.
    platform::Background::run(
        this,
        [documents = _videosDirPath, originals = _originalClipsPath, thumbs = _thumbsDirPath, known = _thumbnails] {
            {
                QMutexLocker locker(&listingObserverLock);
                if (listingObserver()) listingObserver()();
            }
            return listFolders(documents, originals, thumbs, known);
        },
        [this](Listing listing) { listingArrived(std::move(listing)); }, platform::Background::Lane::Normal,
        "library listed");
}

VideoAssetsViewController::Listing VideoAssetsViewController::listFolders(
    const QString& documents, const QString& originals, const QString& thumbs,
    QHash<QString, QPair<QDateTime, QImage>> known) {
    Listing listing;
    if (!thumbs.isEmpty() && !QFileInfo::exists(thumbs)) QDir().mkdir(thumbs);
    for (const QString& folder : {documents, originals}) {
        if (folder.isEmpty()) continue;
        // Watched from the first listing on, also when the first movie has yet to be made.
        if (!QFileInfo::exists(folder)) QDir().mkpath(folder);
        if (QFileInfo(folder).isDir()) listing.folders << folder;
        const bool recordings = folder == originals;
        const QDir dir(folder);
        // Hidden entries are our own temporaries and lock files in the making, never movies.
        const QStringList names = dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& name : names) {
            const QString path = dir.filePath(name);
            if (!isAudiovisualFile(name)) {
                if (recordings) qCInfo(lcLibrary).noquote() << "Corrupt File" << path;
                continue;
            }
            if (name == QLatin1String(kIntermediateName)) continue;
            const QFileInfo info(path);
            Row row;
            row.path = path;
            row.created = MediaStore::fileCreationTime(path);
            row.title = titleFor(path, row.created);
            row.size = info.size();
            row.modified = info.lastModified();
            row.subtitle = sizeText(row.size);
            row.isRecording = recordings;
            const QFileInfo thumb(thumbs + QLatin1Char('/') + name + QStringLiteral(".jpeg"));
            if (thumb.isFile() && !isStale(thumb, info)) {
                auto cached = known.constFind(path);
                if (cached != known.constEnd() && cached->first == thumb.lastModified() && !cached->second.isNull()) {
                    row.thumbnail = cached->second;
                } else {
                    row.thumbnail = QImage(thumb.filePath());
                    listing.thumbnails.insert(path, {thumb.lastModified(), row.thumbnail});
                }
            } else {
                row.thumbnailPending = true;
            }
            listing.rows.push_back(std::move(row));
        }
    }
    return listing;
}

void VideoAssetsViewController::listingArrived(Listing listing) {
    _listing = false;
    emit aboutToReload();
    for (auto it = listing.thumbnails.cbegin(); it != listing.thumbnails.cend(); ++it)
        _thumbnails.insert(it.key(), *it);
    _listedFolders = listing.folders;
    _rows.clear();
    _settling.clear();
    auto& unusable = unusableMovies();
    for (Row& row : listing.rows) {
        const auto told = unusable.constFind(row.path);
        if (told != unusable.constEnd()) {
            // Announced already and unchanged since: left out without a word.
            if (told->first == row.size && told->second == row.modified) continue;
            unusable.erase(told);
        }
        _rows.push_back(std::move(row));
    }
    // Newest first; equal times keep the folders' order (exports before recordings, by name).
    std::stable_sort(_rows.begin(), _rows.end(), [](const Row& a, const Row& b) { return a.created > b.created; });
    for (const Row& r : _rows)
        if (r.thumbnailPending && !_inFlight.contains(r.path)) startThumbnail(r);
    watchFolders();
    emit dataReloaded();
    if (_listAgain) {
        _listAgain = false;
        refreshData();
    }
}

void VideoAssetsViewController::startThumbnail(const Row& row) {
    const QString path = row.path;
    const int64_t created = row.created;
    _inFlight.insert(path, true);
    // Skipped when the list closed before this movie's turn; one movie per core, niced: each
    // thumbnail is a single decoder's work.
    platform::Background::run(
        this,
        [path, created] {
            Thumbnail t;
            t.image = makeThumbnail(path).image;
            // The title with the duration the picture's decoding wrote.
            if (!t.image.isNull()) t.title = titleFor(path, created);
            // How the file stood once its picture was tried: the list decides from this whether
            // it is unusable, still being written or gone, without looking at the disk itself.
            const QFileInfo info(path);
            t.exists = info.exists();
            if (t.exists) t.size = info.size(), t.modified = info.lastModified();
            return t;
        },
        [this, path](const Thumbnail& t) { thumbnailFinished(path, t); }, platform::Background::Lane::Low,
        "thumbnail made");
}

void VideoAssetsViewController::thumbnailFinished(const QString& path, const Thumbnail& t) {
    const int index = indexOf(path);
    if (index >= 0) _inFlight.remove(path);
    if (index < 0) {
        // Deleted while its picture was being made: what the worker wrote after the deletion
        // would be taken for the side files of the next movie of that name. (Only what it
        // writes: a zoom track left there is the user's.)
        // In flight until they are gone: the list has settled only then. (Naming the duration
        // file looks at its folder: that too on the worker.)
        platform::Background::run(
            this,
            [path] {
                if (QFileInfo::exists(path)) return;
                for (const QString& file : {MediaStore::thumbnailFilePath(path),
                                            MediaStore::timingFilePathForVideo(QFileInfo(path).fileName())})
                    QFile::remove(file);
            },
            [this, path] { _inFlight.remove(path); }, platform::Background::Lane::Normal, "side files removed");
        return;
    }
    Row& r = _rows[static_cast<size_t>(index)];
    r.thumbnailPending = false;
    if (!t.image.isNull()) {
        r.thumbnail = t.image;
        r.title = t.title;
        emit rowChanged(index);
        return;
    }
    // A recording being made is written at its name as it grows, with no picture in it at
    // first: tried again once it has rested rather than called unusable.
    if (t.exists && t.modified.msecsTo(QDateTime::currentDateTime()) < kSettleMs) {
        _settling.insert(path);
        if (!_settleTimer) {
            _settleTimer = new QTimer(this);
            _settleTimer->setSingleShot(true);
            connect(_settleTimer, &QTimer::timeout, this, &VideoAssetsViewController::refreshData);
        }
        _settleTimer->start(kSettleMs);
        return;
    }
    auto& unusable = unusableMovies();
    const QPair<qint64, QDateTime> state{t.size, t.modified};
    // Another list open at the same time may have announced this very file already.
    const bool told = unusable.value(path) == state;
    if (t.exists) unusable.insert(path, state);
    _rows.erase(_rows.begin() + index);
    emit rowRemoved(index);
    watchFolders();
    // A file that went while its picture was being made is no unusable file, just gone.
    if (told || !t.exists) return;
    emit movieUnusable(QFileInfo(path).fileName());
}

QImage VideoAssetsViewController::generateThumbImageForVideo(const QString& path, const QSize& size, QString* reason) {
    auto fail = [&](const QString& why) {
        if (reason) *reason = why;
        return QImage();
    };
    media::Error error;
    auto asset = media::Asset::open(path.toStdString(), &error);
    if (!asset) {
        qCWarning(lcLibrary).noquote() << "cannot open" << path << ":" << QString::fromStdString(error.failureReason);
        return fail(errorText(error));
    }
    const double seconds = asset->duration().seconds();
    if (std::isfinite(seconds)) writeDurationFile(QFileInfo(path).fileName(), seconds);
    if (asset->tracksWithMediaType(media::MediaType::Video).empty())
        return fail(QStringLiteral("The movie has no pictures."));

    media::ImageGenerator generator(path.toStdString());
    generator.setAppliesPreferredTrackTransform(true);
    generator.setMaximumSize({size.width(), size.height()});
    media::RgbImage rgb = generator.copyFirstImage(&error);
    if (rgb.isNull()) {
        qCWarning(lcLibrary).noquote() << "no picture from" << path << ":" << QString::fromStdString(error.description);
        return fail(errorText(error));
    }
    QImage wrapped(rgb.bytes.data(), rgb.width, rgb.height, rgb.stride, QImage::Format_RGB888);
    return wrapped.copy();  // detach from the engine's buffer
}

VideoAssetsViewController::MadeThumbnail VideoAssetsViewController::makeThumbnail(const QString& moviePath) {
    MadeThumbnail made;
    made.image = generateThumbImageForVideo(moviePath, QSize(kThumbnailSize, kThumbnailSize), &made.reason);
    if (made.image.isNull()) return made;
    // Another maker (the list, the end of the take) may have stored one meanwhile; its picture
    // is as good as ours.
    const QString thumb = MediaStore::thumbnailFilePath(moviePath);
    if (QFileInfo::exists(thumb) && !isStale(QFileInfo(thumb), QFileInfo(moviePath))) return made;
    // Made here when the list has not made it yet: a movie without its thumbnail shows blank.
    QDir().mkpath(QFileInfo(thumb).path());
    made.stored = writeThumbnailFile(made.image, thumb);
    return made;
}

void VideoAssetsViewController::makeThumbnailAsync(const QString& moviePath, QObject* receiver,
                                                   std::function<void(const MadeThumbnail&)> done) {
    platform::Background::run(
        receiver, [moviePath] { return makeThumbnail(moviePath); },
        [done = std::move(done)](const MadeThumbnail& made) {
            if (done) done(made);
        },
        platform::Background::Lane::Normal, "take's thumbnail made");
}

bool VideoAssetsViewController::writeThumbnailFile(const QImage& image, const QString& thumbnailPath) {
    if (image.isNull()) return false;
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 90)) return false;
    QString error;
    if (!writeSideFile(thumbnailPath, jpeg, &error)) {
        qCWarning(lcLibrary).noquote() << "cannot write thumbnail" << thumbnailPath << error;
        return false;
    }
    return true;
}

namespace {

// The movie first: its side files are of no use without it.
QStringList assetFiles(const QString& moviePath) {
    QStringList files = QStringList{moviePath} + MediaStore::sideFilePaths(moviePath);
    files.removeAll(QString());
    return files;
}

// QFile::moveToTrash, where a Trash that cannot be made is a failure. (Qt 6.4, unable to make
// the Trash in the data folder, reports success having moved the file into "files/" under the
// working directory: that Trash is made here first, and such a result is put back.)
bool moveToTrash(const QString& path, QString* error) {
    const QString trash =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
    const bool made = QFileInfo(trash).isDir();
    if (!QDir().mkpath(trash + QStringLiteral("/files")) || !QDir().mkpath(trash + QStringLiteral("/info"))) {
        *error = QStringLiteral("no Trash can be made at %1").arg(trash);
        return false;
    }
    if (!made) QFile::setPermissions(trash, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile file(path);
    if (!file.moveToTrash()) {
        *error = file.errorString();
        return false;
    }
    const QString where = file.fileName();
    if (QFileInfo(where).isAbsolute()) return true;
    QFile::rename(where, path);
    QFile::remove(
        QFileInfo(where).dir().filePath(QStringLiteral("../info/%1.trashinfo").arg(QFileInfo(where).fileName())));
    *error = QStringLiteral("no Trash can be made at %1").arg(trash);
    return false;
}

bool exists(const QString& path) {
    // A link planted at a side file's name counts as there, dangling or not.
    return QFileInfo(path).isSymLink() || QFileInfo::exists(path);
}

}  // namespace

bool VideoAssetsViewController::moveVideoAssetToTrash(const QString& moviePath, QString* reason) {
    const QStringList files = assetFiles(moviePath);
    QString error;
    if (exists(moviePath) && !moveToTrash(moviePath, &error)) {
        if (reason) *reason = error;
        qCWarning(lcLibrary).noquote() << "cannot move" << moviePath << "to the Trash:" << error;
        return false;
    }
    for (const QString& side : files.mid(1)) {
        // The movie went to a Trash, so its side files normally follow. One that cannot is
        // left for a new movie of the same name to replace, rather than destroyed.
        if (exists(side) && !moveToTrash(side, &error))
            qCWarning(lcLibrary).noquote() << "cannot move" << side << "to the Trash:" << error;
    }
    return true;
}

bool VideoAssetsViewController::removeVideoAssetFiles(const QString& path, QString* reason) {
    bool movieGone = true;
    for (const QString& p : assetFiles(path)) {
        QFile file(p);
        if (!exists(p) || file.remove()) continue;
        qCWarning(lcLibrary).noquote() << "cannot delete" << p << ":" << file.errorString();
        // Side files without their movie are replaced by the next movie of the name; a movie
        // still there must not be called deleted.
        if (p == path) {
            movieGone = false;
            if (reason) *reason = file.errorString();
        }
    }
    return movieGone;
}

namespace {

// Movies being deleted: a second press while the first move runs must not find the movie half
// moved and take that for a missing Trash. Main thread.
QSet<QString>& deletionsUnderWay() {
    static QSet<QString> paths;
    return paths;
}

}  // namespace

void VideoAssetsViewController::deleteVideoAsset(const QString& moviePath, std::function<void(bool)> done) {
    TAVRIO_ASSERT_MAIN_THREAD();
    if (deletionsUnderWay().contains(moviePath)) {
        if (done) done(false);
        return;
    }
    deletionsUnderWay().insert(moviePath);
    auto finish = [moviePath, done](bool deleted) {
        deletionsUnderWay().remove(moviePath);
        if (done) done(deleted);
    };
    // A move to the Trash may be a copy to another disk's Trash, and a folder may hang: off the
    // UI thread. The callers' rows stay until it is done, and come back on nothing.
    platform::Background::run(
        QCoreApplication::instance(),
        [moviePath] {
            QString reason;
            const bool moved = moveVideoAssetToTrash(moviePath, &reason);
            return std::make_pair(moved, reason);
        },
        [moviePath, finish](const std::pair<bool, QString>& moved) {
            if (moved.first) {
                finish(true);
                return;
            }
            platform::Alert alert;
            alert.title = QStringLiteral("Delete for Good?");
            alert.message = QStringLiteral("%1 cannot be moved to the Trash (%2). Deleting it cannot be undone.")
                                .arg(QFileInfo(moviePath).fileName(), moved.second);
            alert.cancelButton = localized("Cancel");
            alert.otherButtons = {localized("Delete")};
            alert.dismissed = [moviePath, finish](int button) {
                if (button != 1) {
                    finish(false);
                    return;
                }
                platform::Background::run(
                    QCoreApplication::instance(),
                    [moviePath] {
                        QString reason;
                        return removeVideoAssetFiles(moviePath, &reason) ? QString() : reason;
                    },
                    [moviePath, finish](const QString& error) {
                        if (!error.isEmpty())
                            platform::AlertService::show(QStringLiteral("Cannot Delete"),
                                                         QStringLiteral("%1 could not be deleted: %2")
                                                             .arg(QFileInfo(moviePath).fileName(), error),
                                                         QStringLiteral("Okay"));
                        finish(error.isEmpty());
                    },
                    platform::Background::Lane::Normal, "movie deleted for good");
            };
            platform::AlertService::show(alert);
        },
        platform::Background::Lane::Normal, "movie moved to the Trash");
}
