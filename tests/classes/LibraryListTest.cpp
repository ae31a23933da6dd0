// The library list's state without a screen: which files become rows, in which order, with which
// texts; thumbnails made off the main thread; unusable movies announced once; deletion; and the
// copy into the Videos folder.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <condition_variable>
#include <optional>
#include <sys/resource.h>

#include "MediaStore.h"
#include "VideoAssetsViewController.h"
#include "VideosFolder.h"
#include "ZoomTrack.h"
#include "support/TestPattern.h"
#include "platform/AlertService.h"
#include "platform/Background.h"
#include "support/QtApp.h"
#include "support/TestSupport.h"
#include "support/WorkWatch.h"

namespace fs = std::filesystem;
using testsupport::spinUntil;

namespace {

// A small movie with a picture and a tone, made once and copied wherever a test needs one.
const QString& sampleMovie() {
    static testsupport::TempDir dir;
    static const QString path = [] {
        const std::string p = (dir.path() / "sample.mov").string();
        media::testpattern::MovieOptions options;
        options.writer.width = 160;
        options.writer.height = 120;
        options.writer.audioCodec = media::AudioCodec::Aac;
        options.frameCount = 45;  // 1.5 s
        media::Error error;
        EXPECT_TRUE(media::testpattern::makeMovie(p, options, &error)) << error.description;
        return QString::fromStdString(p);
    }();
    return path;
}

QString put(const QString& folder, const QString& name, const QString& from = sampleMovie()) {
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name;
    EXPECT_TRUE(QFile::copy(from, path)) << path.toStdString();
    return path;
}

QString putText(const QString& folder, const QString& name, const QByteArray& bytes) {
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

QString originals() {
    return MediaStore::baseDirForOriginalVideos();
}
QString documents() {
    return MediaStore::baseDirForVideos();
}

// Records alerts and the library's log lines for one test.
struct Recorder {
    Recorder() {
        testsupport::qtApp();
        platform::AlertService::setPresenter([this](const platform::Alert& a) { alerts.push_back(a); });
        lines().clear();
        previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { lines() << m; });
    }
    ~Recorder() {
        qInstallMessageHandler(previous);
        platform::AlertService::setPresenter({});
    }
    static QStringList& lines() {
        static QStringList l;
        return l;
    }
    // The movies a list announced as unusable, for its screen to tell.
    void follow(VideoAssetsViewController* list) {
        QObject::connect(list, &VideoAssetsViewController::movieUnusable, list,
                         [this](const QString& name) { unusable << name; });
    }
    std::vector<platform::Alert> alerts;
    QStringList unusable;
    QtMessageHandler previous;
};

// Counts a signal's emissions.
template <typename Signal>
std::shared_ptr<int> counter(VideoAssetsViewController* list, Signal signal) {
    auto n = std::make_shared<int>(0);
    QObject::connect(list, signal, list, [n] { ++*n; });
    return n;
}

QStringList movieFolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

bool settled(const VideoAssetsViewController& list) {
    return !list.isListing() && list.pendingThumbnails() == 0;
}

// The rows as the listing on its worker thread gives them.
void listed(VideoAssetsViewController& list) {
    ASSERT_TRUE(spinUntil([&] { return !list.isListing(); }));
}
void load(VideoAssetsViewController& list) {
    list.viewDidLoad();
    listed(list);
}
void reload(VideoAssetsViewController& list) {
    list.refreshData();
    listed(list);
}

// The rows as they were when the listing arrived, before any thumbnail came back.
struct FirstListing {
    std::vector<VideoAssetsViewController::Row> rows;
    int pending = -1;
};
std::shared_ptr<FirstListing> firstListing(VideoAssetsViewController* list) {
    auto first = std::make_shared<FirstListing>();
    QObject::connect(list, &VideoAssetsViewController::dataReloaded, list, [first, list] {
        if (first->pending >= 0) return;
        for (int i = 0; i < list->count(); ++i) first->rows.push_back(list->row(i));
        first->pending = list->pendingThumbnails();
    });
    return first;
}

QStringList names(const VideoAssetsViewController& list) {
    QStringList n;
    for (const QString& p : list.fileList()) n << QFileInfo(p).fileName();
    return n;
}

}  // namespace

TEST(LibraryList, RowsAreNewestFirstAcrossBothFoldersWithTheirColoursAndTexts) {
    testsupport::TempHome home;
    Recorder rec;
    // Created in this order, so birth times increase: the folders interleave.
    put(originals(), "Out.mov");
    put(documents(), "Video.mov");
    put(originals(), "Out-1.mov");
    putText(originals(), "notes.txt", "not a movie");
    putText(documents(), "notes.txt", "not a movie either");

    VideoAssetsViewController list;
    rec.follow(&list);
    const auto first = firstListing(&list);
    load(list);
    EXPECT_TRUE(QFileInfo(MediaStore::baseDirForThumbnails()).isDir());
    EXPECT_EQ(names(list), (QStringList{"Out-1.mov", "Video.mov", "Out.mov"}));
    // No duration file and no thumbnail yet: a blank duration and the placeholder.
    ASSERT_EQ(first->rows.size(), 3u);
    EXPECT_TRUE(first->rows[0].title.startsWith(QStringLiteral(" (")));
    EXPECT_TRUE(first->rows[0].title.endsWith(QLatin1Char(')')));
    EXPECT_TRUE(first->rows[0].thumbnail.isNull());
    EXPECT_TRUE(first->rows[0].thumbnailPending);

    EXPECT_TRUE(list.row(0).isRecording);
    EXPECT_FALSE(list.row(1).isRecording);
    EXPECT_TRUE(list.isExportNeededForAsset(list.row(0).path));
    EXPECT_FALSE(list.isExportNeededForAsset(list.row(1).path));
    EXPECT_FALSE(list.isExportNeededForAsset(originals() + "2/Out.mov"));

    const qint64 size = QFileInfo(sampleMovie()).size();
    EXPECT_EQ(list.row(2).subtitle, QString::asprintf("Size: %.1f MB", size / 1e6));

    // Non-movies are left out; only the recordings folder's is logged.
    EXPECT_EQ(Recorder::lines().filter("Corrupt File").size(), 1);
    EXPECT_TRUE(Recorder::lines().filter("Corrupt File").first().endsWith(originals() + "/notes.txt"));

    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    EXPECT_TRUE(rec.unusable.isEmpty());
    for (int i = 0; i < list.count(); ++i) {
        const auto& row = list.row(i);
        EXPECT_FALSE(row.thumbnail.isNull()) << i;
        EXPECT_LE(std::max(row.thumbnail.width(), row.thumbnail.height()), VideoAssetsViewController::kThumbnailSize);
        EXPECT_TRUE(row.title.startsWith(QStringLiteral("00:01 ("))) << row.title.toStdString();
        EXPECT_TRUE(QFileInfo::exists(MediaStore::thumbnailPathForVideo(row.path)));
        EXPECT_EQ(readDurationFile(QFileInfo(row.path).fileName()), QStringLiteral("00:01"));
    }
}

TEST(LibraryList, SizesAndFileTypes) {
    EXPECT_EQ(VideoAssetsViewController::sizeText(2500000), "Size: 2.5 MB");
    EXPECT_EQ(VideoAssetsViewController::sizeText(49999), "Size: 0.0 MB");
    EXPECT_EQ(VideoAssetsViewController::sizeText(0), "Size: 0.0 MB");
    EXPECT_EQ(VideoAssetsViewController::sizeText(1234567890), "Size: 1234.6 MB");

    for (const char* name : {"Out.mov", "CLIP.MOV", "a.mp4", "a.m4v", "a.mkv", "a.webm", "a.avi", "a.3gp", "a.m4a",
                             "a.mp3", "a.wav", "archive.tar.mov"})
        EXPECT_TRUE(VideoAssetsViewController::isAudiovisualFile(name)) << name;
    for (const char* name : {"notes.txt", "a.jpeg", "Out.mov.jpeg", "Out.mov.zooms.lkbx", "noextension", "a.pdf",
                             ".Out.mov.abc123.partial", "mov"})
        EXPECT_FALSE(VideoAssetsViewController::isAudiovisualFile(name)) << name;
}

TEST(LibraryList, ThumbnailsArriveLaterAndFromOtherThreads) {
    testsupport::TempHome home;
    Recorder rec;
    for (int i = 0; i < 6; ++i) put(originals(), QStringLiteral("Out-%1.mov").arg(i));
    put(documents(), "Video.mov");
    // One that already has a thumbnail: it is shown at once and not made again.
    QDir().mkpath(MediaStore::baseDirForThumbnails());
    QImage red(40, 30, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(
        VideoAssetsViewController::writeThumbnailFile(red, MediaStore::baseDirForThumbnails() + "/Video.mov.jpeg"));

    VideoAssetsViewController list;
    rec.follow(&list);
    auto changed = counter(&list, &VideoAssetsViewController::rowChanged);
    const auto first = firstListing(&list);
    load(list);
    // The refresh itself made none of them: every missing one is still on its way.
    EXPECT_EQ(first->pending, 6);
    EXPECT_EQ(list.count(), 7);
    const int video = list.indexOf(documents() + "/Video.mov");
    ASSERT_GE(video, 0);
    EXPECT_EQ(list.row(video).thumbnail.size(), QSize(40, 30));
    EXPECT_FALSE(list.row(video).thumbnailPending);

    // A refresh while they are being made starts none of them twice (each made is one change).
    list.refreshData();
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    EXPECT_EQ(*changed, 6);
    for (int i = 0; i < list.count(); ++i) EXPECT_FALSE(list.row(i).thumbnail.isNull()) << i;
    EXPECT_EQ(QImage(MediaStore::baseDirForThumbnails() + "/Video.mov.jpeg").size(), QSize(40, 30));
    EXPECT_TRUE(rec.unusable.isEmpty());
}

TEST(LibraryList, TheFoldersAreReadOffTheMainThreadOnceForABurstAndNotForAListGone) {
    testsupport::TempHome home;
    Recorder rec;
    put(originals(), "Out.mov");
    put(documents(), "Video.mov");
    std::atomic<int> listings{0}, onMainThread{0};
    QThread* const mainThread = QThread::currentThread();
    VideoAssetsViewController::setListingObserver([&] {
        ++listings;
        if (QThread::currentThread() == mainThread) ++onMainThread;
    });

    VideoAssetsViewController list;
    auto reloaded = counter(&list, &VideoAssetsViewController::dataReloaded);
    list.viewDidLoad();
    EXPECT_EQ(list.count(), 0) << "nothing read on the spot";
    EXPECT_TRUE(list.isListing());
    listed(list);
    EXPECT_EQ(names(list), (QStringList{"Video.mov", "Out.mov"}));

    // A burst of changes while the folders are being read: one listing more, not one each.
    const int before = listings;
    for (int i = 0; i < 20; ++i) list.refreshData();
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    EXPECT_LE(listings - before, 2);
    EXPECT_LE(*reloaded, 3);
    EXPECT_EQ(names(list), (QStringList{"Video.mov", "Out.mov"}));

    // A list closed while its folders are read hears nothing of them.
    const int beforeGone = listings;
    {
        VideoAssetsViewController gone;
        gone.viewDidLoad();
    }
    platform::Background::drain();
    QCoreApplication::processEvents();  // its rows arrive, to nobody
    EXPECT_EQ(listings, beforeGone + 1);
    VideoAssetsViewController::setListingObserver({});
    EXPECT_EQ(onMainThread, 0);
}

TEST(LibraryList, TheFoldersAreWatchedFromAThreadOfTheirOwnSoAHungFolderHoldsNoRowBack) {
    testsupport::TempHome home;
    Recorder rec;
    put(originals(), "Out.mov");
    // Adding a watch looks its path up, as long as a network folder hangs: here it hangs until
    // released.
    std::mutex m;
    std::condition_variable cv;
    bool hung = true;
    std::atomic<int> watches{0}, onMainThread{0};
    QThread* const mainThread = QThread::currentThread();
    VideoAssetsViewController::setWatchObserver([&] {
        ++watches;
        if (QThread::currentThread() == mainThread) {
            ++onMainThread;
            return;
        }
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return !hung; });
    });
    auto release = [&] {
        {
            std::lock_guard<std::mutex> lock(m);
            hung = false;
        }
        cv.notify_all();
    };

    VideoAssetsViewController list;
    list.viewDidLoad();
    EXPECT_TRUE(spinUntil([&] { return list.count() == 1 && watches == 1; }));
    EXPECT_TRUE(list.isListing()) << "the watch is not in place yet";
    // The list goes on meanwhile: a refresh lists what is there now.
    put(documents(), "Video.mov");
    list.refreshData();
    EXPECT_TRUE(spinUntil([&] { return list.count() == 2; }));
    release();
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));

    // In place, it follows the disk by itself.
    put(originals(), "Out-1.mov");
    EXPECT_TRUE(spinUntil([&] { return list.count() == 3; }));
    EXPECT_EQ(onMainThread, 0);
    VideoAssetsViewController::setWatchObserver({});
}

TEST(LibraryList, AnUnusableMovieIsAnnouncedOnceLeftOutAndKept) {
    testsupport::TempHome home;
    Recorder rec;
    put(originals(), "Out.mov");
    const QString junk = putText(originals(), "Out-2.mov", QByteArray(5000, 'x'));
    const QString empty = putText(documents(), "Empty.mp4", QByteArray());
    const QString sound =
        testsupport::sharedMedia("mp4parse__afconvert-aac-0.5s.mp4").empty()
            ? QString()
            : put(documents(), "Sound.m4a",
                  QString::fromStdString(testsupport::sharedMedia("mp4parse__afconvert-aac-0.5s.mp4").string()));

    VideoAssetsViewController list;
    rec.follow(&list);
    auto removed = counter(&list, &VideoAssetsViewController::rowRemoved);
    const auto first = firstListing(&list);
    list.viewDidLoad();
    const int unusable = sound.isEmpty() ? 2 : 3;
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    EXPECT_EQ(first->rows.size(), size_t(1 + unusable));  // shown until their turn comes
    EXPECT_EQ(names(list), QStringList{"Out.mov"});
    EXPECT_EQ(*removed, unusable);

    // The list raises no alert itself: it announces each movie once for its screen to tell.
    EXPECT_TRUE(rec.alerts.empty());
    EXPECT_EQ(rec.unusable.count("Out-2.mov"), 1);
    EXPECT_EQ(rec.unusable.count("Empty.mp4"), 1);
    if (!sound.isEmpty()) {
        EXPECT_EQ(rec.unusable.count("Sound.m4a"), 1);
        // Its duration was read on the way, and its file stays.
        EXPECT_FALSE(readDurationFile("Sound.m4a").isEmpty());
    }
    EXPECT_EQ(rec.unusable.size(), qsizetype(unusable));

    // Later refreshes (a deletion, say) leave them out without announcing them again.
    list.refreshData();
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    EXPECT_EQ(names(list), QStringList{"Out.mov"});
    EXPECT_EQ(rec.unusable.size(), qsizetype(unusable));
    EXPECT_EQ(QFileInfo(junk).size(), 5000);
    EXPECT_TRUE(QFileInfo::exists(empty));

    // Nor does a list opened anew: the files are as they were when the user heard of them.
    VideoAssetsViewController again;
    rec.follow(&again);
    again.viewDidLoad();
    ASSERT_TRUE(spinUntil([&] { return settled(again); }));
    EXPECT_EQ(names(again), QStringList{"Out.mov"});
    EXPECT_EQ(rec.unusable.size(), qsizetype(unusable));
}

namespace {

// What the Trash holds: each trashed file's name there and the path it came from.
std::map<QString, QString> trashed(const testsupport::TempHome& home) {
    std::map<QString, QString> out;
    const QDir info(QString::fromStdString((home.trash() / "info").string()));
    for (const QString& name : info.entryList({"*.trashinfo"}, QDir::Files)) {
        QFile f(info.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("Path=")) out[name.chopped(10)] = QUrl::fromPercentEncoding(line.mid(5));
    }
    return out;
}

}  // namespace

TEST(LibraryList, DeletingAMovieMovesItsFourFilesToTheTrashRestorableAndNothingElse) {
    testsupport::TempHome home;
    Recorder rec;
    const QString keep = put(originals(), "Out.mov");
    const QString gone = put(originals(), "Out-1.mov");
    for (const QString& name : {QStringLiteral("Out.mov"), QStringLiteral("Out-1.mov")})
        ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath(name), ZoomTrack{{{1.0f, 0.0}}, 3}));
    VideoAssetsViewController list;
    list.viewDidLoad();
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    const QStringList files{gone, MediaStore::thumbnailPathForVideo(gone),
                            MediaStore::zoomsArchiveFilePath("Out-1.mov"),
                            MediaStore::timingFilePathForVideo("Out-1.mov")};
    std::map<QString, QByteArray> before;
    for (const QString& f : files) before[f] = QByteArray::fromStdString(testsupport::readFile(f.toStdString()));

    auto reloaded = counter(&list, &VideoAssetsViewController::dataReloaded);
    std::optional<bool> deleted;
    auto removed = counter(&list, &VideoAssetsViewController::rowRemoved);
    {
        // The move runs off the main thread; while a slow disk holds it, the row and every file
        // stay, and a second press changes nothing.
        testsupport::WorkWatch slowDisk({"movie moved to the Trash"}, true);
        list.deleteVideoAssetAtPath(gone, [&](bool d) { deleted = d; });
        std::optional<bool> again;
        list.deleteVideoAssetAtPath(gone, [&](bool d) { again = d; });
        EXPECT_EQ(again, false);
        ASSERT_TRUE(spinUntil([&] { return slowDisk.started() == 1; }));
        QCoreApplication::processEvents();
        EXPECT_FALSE(deleted.has_value());
        EXPECT_EQ(*removed, 0);
        EXPECT_EQ(list.count(), 2);
        for (const QString& f : files) EXPECT_TRUE(QFileInfo::exists(f)) << f.toStdString();
        slowDisk.release();
        ASSERT_TRUE(spinUntil([&] { return deleted.has_value(); }));
        EXPECT_EQ(slowDisk.onMainThread(), 0);
    }
    EXPECT_EQ(*removed, 1);  // the row went when the move was done
    listed(list);
    EXPECT_EQ(deleted, true);
    EXPECT_TRUE(rec.alerts.empty());  // a Trash needs no question
    EXPECT_EQ(*reloaded, 1);
    for (const QString& f : files) EXPECT_FALSE(QFileInfo::exists(f)) << f.toStdString();
    EXPECT_EQ(list.fileList(), QStringList{keep});
    EXPECT_TRUE(QFileInfo::exists(MediaStore::thumbnailPathForVideo(keep)));
    EXPECT_TRUE(QFileInfo::exists(MediaStore::zoomsArchiveFilePath("Out.mov")));
    EXPECT_TRUE(QFileInfo::exists(MediaStore::timingFilePathForVideo("Out.mov")));

    // All four are in the Trash, each saying where it came from; put back, the movie is a
    // recording of the library again with its zoom track, byte for byte.
    const auto inTrash = trashed(home);
    ASSERT_EQ(inTrash.size(), 4u);
    for (const auto& [name, origin] : inTrash) {
        ASSERT_TRUE(before.count(origin)) << origin.toStdString();
        const QString held = QString::fromStdString((home.trash() / "files").string()) + "/" + name;
        ASSERT_TRUE(QFile::rename(held, origin)) << origin.toStdString();
        EXPECT_EQ(QByteArray::fromStdString(testsupport::readFile(origin.toStdString())), before[origin]);
    }
    reload(list);
    EXPECT_EQ(list.count(), 2);
    EXPECT_TRUE(readZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out-1.mov")).has_value());
}

TEST(LibraryList, WithoutATrashDeletingAsksFirstAndARefusalKeepsEverything) {
    testsupport::TempHome home;
    Recorder rec;
    const QString movie = put(originals(), "Out.mov");
    ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out.mov"), ZoomTrack{{{1.0f, 0.0}}, 3}));
    // A Trash that cannot be made: a plain file stands where its folder would be.
    fs::create_directories(home.trash().parent_path());
    testsupport::writeFile(home.trash(), "not a folder");
    VideoAssetsViewController list;
    list.viewDidLoad();
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    const QStringList files{movie, MediaStore::thumbnailPathForVideo(movie),
                            MediaStore::zoomsArchiveFilePath("Out.mov"), MediaStore::timingFilePathForVideo("Out.mov")};

    std::optional<bool> outcome;
    list.deleteVideoAssetAtPath(movie, [&](bool d) { outcome = d; });
    ASSERT_TRUE(spinUntil([&] { return !rec.alerts.empty(); }));
    ASSERT_EQ(rec.alerts.size(), 1u);
    const platform::Alert& ask = rec.alerts[0];
    EXPECT_TRUE(ask.message.contains("Out.mov cannot be moved to the Trash")) << ask.message.toStdString();
    EXPECT_TRUE(ask.message.contains("cannot be undone")) << ask.message.toStdString();
    EXPECT_EQ(ask.otherButtons, QStringList{"Delete"});
    EXPECT_FALSE(outcome.has_value());  // nothing happens before the answer
    ask.dismissed(0);                   // Cancel
    EXPECT_EQ(outcome, false);
    for (const QString& f : files) EXPECT_TRUE(QFileInfo::exists(f)) << f.toStdString();
    EXPECT_EQ(list.fileList(), QStringList{movie});

    // Agreed to: gone for good.
    list.deleteVideoAssetAtPath(movie, [&](bool d) { outcome = d; });
    ASSERT_TRUE(spinUntil([&] { return rec.alerts.size() == 2; }));
    rec.alerts[1].dismissed(1);
    ASSERT_TRUE(spinUntil([&] { return outcome == true; }));
    listed(list);
    EXPECT_EQ(outcome, true);
    for (const QString& f : files) EXPECT_FALSE(QFileInfo::exists(f)) << f.toStdString();
    EXPECT_EQ(list.count(), 0);
    // Agreed to, but what stands at the name will not go (here a folder, which even root cannot
    // unlink): told why, and not called deleted.
    const QString stuck = originals() + "/Stuck.mov";
    ASSERT_TRUE(QDir().mkpath(stuck + "/inside"));
    outcome.reset();
    VideoAssetsViewController::deleteVideoAsset(stuck, [&](bool d) { outcome = d; });
    ASSERT_TRUE(spinUntil([&] { return rec.alerts.size() == 3; }));
    rec.alerts[2].dismissed(1);
    ASSERT_TRUE(spinUntil([&] { return outcome.has_value(); }));
    EXPECT_EQ(outcome, false);
    ASSERT_EQ(rec.alerts.size(), 4u);
    EXPECT_EQ(rec.alerts[3].title, "Cannot Delete");
    EXPECT_TRUE(rec.alerts[3].message.startsWith("Stuck.mov could not be deleted: "))
        << rec.alerts[3].message.toStdString();
    EXPECT_TRUE(QFileInfo::exists(stuck + "/inside"));
}

TEST(LibraryList, AMovieDeletedWhileItsThumbnailIsMadeLeavesNoSideFiles) {
    testsupport::TempHome home;
    Recorder rec;
    for (int i = 0; i < 4; ++i) put(originals(), QStringLiteral("Out-%1.mov").arg(i));
    VideoAssetsViewController list;
    int pending = -1;
    QObject::connect(&list, &VideoAssetsViewController::dataReloaded, &list, [&] {
        if (pending >= 0) return;
        pending = list.pendingThumbnails();
        for (int i = 0; i < 4; ++i) list.deleteVideoAssetAtPath(originals() + QStringLiteral("/Out-%1.mov").arg(i));
    });
    list.viewDidLoad();
    ASSERT_TRUE(spinUntil([&] { return pending >= 0; }));
    EXPECT_EQ(pending, 4);
    ASSERT_TRUE(spinUntil([&] { return settled(list) && list.count() == 0; }));
    EXPECT_TRUE(rec.alerts.empty());
    EXPECT_TRUE(movieFolderEntries(MediaStore::baseDirForThumbnails()).isEmpty());
    EXPECT_TRUE(movieFolderEntries(QFileInfo(MediaStore::timingFilePathForVideo("x")).path()).isEmpty());
}

TEST(LibraryList, EveryRealFileIsShownOrAnnouncedOnceAndNeverChanged) {
    const fs::path folder = testsupport::sharedMedia("MANIFEST.md").parent_path();
    if (folder.empty()) GTEST_SKIP() << "no ../shared/media";
    testsupport::TempHome home;
    Recorder rec;
    std::map<QString, QByteArray> before;
    int i = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const QString name = QString::fromStdString(entry.path().filename().string());
        if (!VideoAssetsViewController::isAudiovisualFile(name)) continue;
        // Half in each folder.
        const QString path =
            put(i++ % 2 ? documents() : originals(), name, QString::fromStdString(entry.path().string()));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        before[path] = f.readAll();
    }
    ASSERT_GT(before.size(), 10u);
    VideoAssetsViewController list;
    rec.follow(&list);
    list.viewDidLoad();
    ASSERT_TRUE(spinUntil([&] { return settled(list); }));
    std::map<QString, int> announced;
    for (const QString& name : rec.unusable) ++announced[name];
    for (const auto& [path, bytes] : before) {
        const QString name = QFileInfo(path).fileName();
        const bool shown = list.indexOf(path) >= 0;
        EXPECT_EQ(int(shown) + announced[name], 1) << name.toStdString();
        if (shown) {
            EXPECT_FALSE(list.row(list.indexOf(path)).thumbnail.isNull()) << name.toStdString();
        }
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), bytes) << name.toStdString();
    }
}

// ---- The Videos folder

TEST(VideosFolder, ComesFromTheEnvironmentOrTheUserDirsFile) {
    testsupport::TempDir dir;
    {
        testsupport::ScopedEnv videos("XDG_VIDEOS_DIR", dir.str() + "/Films");
        EXPECT_EQ(VideosFolder::folder(), QString::fromStdString(dir.str() + "/Films/Tavrio"));
    }
    testsupport::ScopedEnv noVideos("XDG_VIDEOS_DIR", "");
    testsupport::ScopedEnv config("XDG_CONFIG_HOME", dir.str());
    testsupport::writeFile(dir.path() / "user-dirs.dirs", "XDG_VIDEOS_DIR=\"" + dir.str() + "/Filme\"\n");
    EXPECT_EQ(VideosFolder::folder(), QString::fromStdString(dir.str() + "/Filme/Tavrio"));
}

TEST(VideosFolder, CopiesUnderFreeNamesAndNeverOverwrites) {
    testsupport::TempDir dir;
    const QString target = QString::fromStdString(dir.str() + "/Videos/Tavrio");
    const QString movie = put(QString::fromStdString(dir.str() + "/src"), "Video.mov");
    QString error;
    EXPECT_EQ(VideosFolder::copyVideo(movie, target, &error), target + "/Video.mov") << error.toStdString();
    EXPECT_EQ(VideosFolder::copyVideo(movie, target, &error), target + "/Video-1.mov");
    // A file of somebody else's, and a link, are stepped over, never written to.
    putText(target, "Video-2.mov", "mine");
    ASSERT_EQ(::symlink("/nonexistent/target", (target + "/Video-3.mov").toLocal8Bit().constData()), 0);
    EXPECT_EQ(VideosFolder::copyVideo(movie, target, &error), target + "/Video-4.mov");
    QFile other(target + "/Video-2.mov");
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), "mine");
    EXPECT_TRUE(QFileInfo(target + "/Video-3.mov").isSymLink());
    QFile a(movie), b(target + "/Video-4.mov");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());
    // A gap is filled first.
    QFile::remove(target + "/Video.mov");
    EXPECT_EQ(VideosFolder::copyVideo(movie, target, &error), target + "/Video.mov");
}

TEST(VideosFolder, AFailedCopyLeavesNothingBehind) {
    testsupport::TempDir dir;
    const QString target = QString::fromStdString(dir.str() + "/Videos/Tavrio");
    const QString movie = put(QString::fromStdString(dir.str() + "/src"), "Video.mov");
    QDir().mkpath(target);
    // A disk that fills up half way: the file-size limit stops the write.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit lim = old;
    lim.rlim_cur = QFileInfo(movie).size() / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
    QString error;
    const QString saved = VideosFolder::copyVideo(movie, target, &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(saved.isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QDir(target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

    // A missing movie fails the same way.
    EXPECT_TRUE(VideosFolder::copyVideo(movie + "x", target, &error).isEmpty());
    EXPECT_TRUE(QDir(target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST(VideosFolder, OnlyMoviesWithADecodablePictureAreCompatible) {
    testsupport::TempDir dir;
    const QString folder = QString::fromStdString(dir.str());
    EXPECT_TRUE(VideosFolder::videoAtPathIsCompatible(put(folder, "Video.mov")));
    QString reason;
    EXPECT_FALSE(VideosFolder::videoAtPathIsCompatible(putText(folder, "junk.mov", QByteArray(3000, 'j')), &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(VideosFolder::videoAtPathIsCompatible(folder + "/missing.mov"));
    const fs::path sound = testsupport::sharedMedia("mp4parse__afconvert-aac-0.5s.mp4");
    if (!sound.empty()) {
        EXPECT_FALSE(VideosFolder::videoAtPathIsCompatible(QString::fromStdString(sound.string())));
    }
    const fs::path header = testsupport::sharedMedia("mp4parse__bipbop_nonfragment_header.mp4");
    if (!header.empty()) {
        EXPECT_FALSE(VideosFolder::videoAtPathIsCompatible(QString::fromStdString(header.string())));
    }
}
