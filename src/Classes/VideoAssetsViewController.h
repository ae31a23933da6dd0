#pragma once
// The library list's own state: which movies the list shows, in which order, with which texts
// and pictures; making missing thumbnails; deleting a movie with its side files. The screen that
// draws it (src/app) asks for rows and follows the signals.
//
// Missing thumbnails are made on worker threads, newest movie first, so opening a library of
// many new movies never stalls the window; a row shows the placeholder picture until its
// thumbnail arrives. A movie no picture can be made from is announced once ("Format Not
// Supported") for as long as it stays unchanged, however often the list is opened, and its row
// removed; the file itself stays where it is.
//
// The list follows both folders on disk: movies that appear (a recording of tavrio-cli, a copy
// from the file manager), vanish or grow update the rows without the list being opened again.
// The folders are read on a worker thread (a folder on a slow or hung disk never stalls the
// window); the rows arrive on the main thread, the first ones shortly after the list opens.

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QFileSystemWatcher;
class QThread;
class QTimer;

#include "VideoLibraryUpdateDelegate.h"

class VideoAssetsViewController : public QObject, public VideoLibraryUpdateDelegate {
    Q_OBJECT
public:
    // The size the list asks thumbnails for, in pixels.
    // Large enough to fill a row's picture box on a screen of twice the point scale.
    static constexpr int kThumbnailSize = 192;
    // The export's intermediate movie: never a movie of the list, also when a killed export
    // left it behind.
    static constexpr const char* kIntermediateName = "For_Portrait_Exporting.mov";

    struct Row {
        QString path;
        QString title;     // "duration (short date and time)"
        QString subtitle;  // "Size: 2.5 MB"
        bool isRecording = false;
        QImage thumbnail;  // null: the placeholder shows
        bool thumbnailPending = false;
        int64_t created = 0;  // ns since the epoch, for the order
        qint64 size = 0;
        QDateTime modified;
    };

    explicit VideoAssetsViewController(QObject* parent = nullptr);
    ~VideoAssetsViewController() override;

    VideoAssetsViewControllerDelegate* delegate() const { return _delegate; }
    void setDelegate(VideoAssetsViewControllerDelegate* delegate) { _delegate = delegate; }

    // Takes the folders, then refreshes (which creates Thumbs if it is missing: nobody else does).
    void viewDidLoad();
    // Rebuilds the rows from both folders, newest first, and starts making missing thumbnails.
    // The folders are read off the main thread: the rows change (aboutToReload, dataReloaded)
    // when the listing comes back. Asked again while a listing runs, one more follows it.
    void refreshData();
    // A listing of the folders is under way, or the watch on what it found is still being set
    // up (before the first, the list has no rows yet).
    bool isListing() const { return _listing || _watchesPending > 0; }
    // Tests: called on the thread that lists the folders, each time before it reads them.
    static void setListingObserver(std::function<void()> observer);
    // Tests: called on the thread that sets up the watch on the folders, each time before it
    // changes what is watched.
    static void setWatchObserver(std::function<void()> observer);

    QStringList fileList() const;
    int count() const { return static_cast<int>(_rows.size()); }
    const Row& row(int index) const { return _rows.at(static_cast<size_t>(index)); }
    int indexOf(const QString& path) const;
    // The row's second line: its size, or while its export runs, how far that has come.
    QString detailText(int index) const;
    // Thumbnails still being made, or to be tried again once their movie has stopped growing.
    int pendingThumbnails() const { return static_cast<int>(_inFlight.size() + _settling.size()); }

    // VideoLibraryUpdateDelegate
    bool isExportNeededForAsset(const QString& path) override;
    // Deletes as deleteVideoAsset() does, then refreshes the rows.
    void deleteVideoAssetAtPath(const QString& path, std::function<void(bool deleted)> done = {}) override;

    // Sends the dismissal to the delegate (the screen then closes itself).
    void doneButtonPressed();

    // Whether a file name is a movie or a sound by the shared MIME database; ".mov" always is.
    static bool isAudiovisualFile(const QString& fileName);
    static QString sizeText(qint64 bytes);
    // The locale's short date and time, without seconds (the C locale's short time has them).
    static QString dateText(const QDateTime& time);

    // The movie's first frame, upright, scaled down to fit `size` (pixels). Writes the movie's
    // duration file first whenever its duration is known, picture or not. A null image when the
    // movie has no video track or none of it decodes; then `*reason` (when given) says why in a
    // sentence or two a user can read. Safe on any thread.
    static QImage generateThumbImageForVideo(const QString& moviePath, const QSize& size, QString* reason = nullptr);
    // Stores a thumbnail as JPEG of quality 0.9, atomically; false when it cannot be written.
    static bool writeThumbnailFile(const QImage& image, const QString& thumbnailPath);

    // A movie's thumbnail as the list shows it, for whoever makes one (the list, the end of a
    // take): the picture within kThumbnailSize, its duration file, and the JPEG in Thumbs unless
    // a current one is there already (one older than the movie belongs to an earlier movie of
    // that name and is replaced). Decodes, so call it on a worker thread.
    struct MadeThumbnail {
        QImage image;        // null when the movie gives none
        QString reason;      // why not, in a user's words
        bool stored = true;  // the Thumbs file is there (false: it could not be written)
    };
    static MadeThumbnail makeThumbnail(const QString& moviePath);
    // makeThumbnail on a worker of Qt's pool; `done` runs on the main thread, and not at all
    // when `receiver` has gone by then.
    static void makeThumbnailAsync(const QString& moviePath, QObject* receiver,
                                   std::function<void(const MadeThumbnail&)> done);
    // Moves the movie, then its thumbnail, zoom track and duration file (those that exist), to
    // the desktop's Trash, each restorable to where it was. False with nothing moved when the
    // movie cannot go to a Trash (its filesystem has none, or none can be written); *reason
    // then says why.
    static bool moveVideoAssetToTrash(const QString& moviePath, QString* reason = nullptr);
    // Removes the movie and its side files for good: only once the user has agreed to that.
    // False when the movie itself stays, *reason saying why.
    static bool removeVideoAssetFiles(const QString& moviePath, QString* reason = nullptr);
    // Deletes a movie so that it can be restored: to the Trash, or where there is none, after
    // asking whether to delete it for good (saying that this cannot be undone). The files are
    // moved off the main thread; `done` (may be empty) hears on the main thread whether the
    // movie went, once the move is done or the question answered (a failure to delete is told).
    // Asked again for a movie whose deletion runs: done(false), nothing more.
    static void deleteVideoAsset(const QString& moviePath, std::function<void(bool deleted)> done);

signals:
    // The rows are about to be rebuilt: the screen notes what is current.
    void aboutToReload();
    // Every row may have changed (refresh, deletion).
    void dataReloaded();
    // One row's picture or title changed.
    void rowChanged(int index);
    // A row went away (its movie cannot be shown); later rows moved up by one.
    void rowRemoved(int index);
    // A movie no picture can be made from, for the screen to tell: once while the file stays as
    // it is, however many lists are open or refreshed.
    void movieUnusable(const QString& fileName);

private:
    struct Listing;
    static Listing listFolders(const QString& documents, const QString& originals, const QString& thumbs,
                               QHash<QString, QPair<QDateTime, QImage>> known);
    void listingArrived(Listing listing);
    void startThumbnail(const Row& row);
    struct Thumbnail {
        QImage image;
        QString title;
        bool exists = false;
        qint64 size = 0;
        QDateTime modified;
    };
    void thumbnailFinished(const QString& path, const Thumbnail& made);
    void watchFolders();
    void folderChanged();

    // Threads: all fields belong to the main thread. Workers get copies of paths and hand their
    // results back through platform::Background, with the list as their context.
    VideoAssetsViewControllerDelegate* _delegate = nullptr;
    QString _videosDirPath;
    QString _thumbsDirPath;
    QString _originalClipsPath;
    std::vector<Row> _rows;
    // Movies whose thumbnail is being made, and movies known to give none (by size and time,
    // so a replaced file is tried again).
    QHash<QString, bool> _inFlight;
    // Thumbnails read before, by the thumbnail file's time: a refresh after every change on
    // disk must not read every picture again.
    QHash<QString, QPair<QDateTime, QImage>> _thumbnails;
    // Movies changed too recently to call them unusable, and when to try them again.
    static constexpr int kSettleMs = 2000;
    QSet<QString> _settling;
    QTimer* _settleTimer = nullptr;
    // The watcher lives in a thread of its own: adding a watch looks its path up, which blocks
    // for as long as a network folder hangs, and its notices need an event loop in its thread,
    // which the background pool's workers do not run. Made with the first listing; quit, not
    // waited for, when the list goes. Only _watched, the paths asked for, is read here.
    QThread* _watcherThread = nullptr;
    QFileSystemWatcher* _watcher = nullptr;
    QSet<QString> _watched;
    int _watchesPending = 0;  // changes of the watched paths not yet made in its thread
    QTimer* _refreshSoon = nullptr;
    bool _listing = false;
    bool _listAgain = false;
    // The folders that existed at the last listing: those the watcher follows.
    QStringList _listedFolders;
};
