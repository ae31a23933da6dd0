// The library list with many movies.
//  1. 500 movies that have their thumbnails: from creating the list to its first paint, against
//     the 300 ms budget, with a bare QListView of 500 text rows shown the same way as reference.
//  2. 100 new movies (no thumbnails): all thumbnails made, against ffmpegthumbnailer making the
//     same 70-pixel thumbnails one file after another; meanwhile the longest time the UI thread
//     went without turning its event loop (target: 50 ms at most).
// Usage: library_bench [MOVIES_WITH_THUMBNAILS] [NEW_MOVIES]   (default 500 100)

#include "VideoAssetsScreen.h"

#include "MediaStore.h"
#include "ZoomTrack.h"
#include "support/TestPattern.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

QString makeMovie(const QString& path, int width, int height, int frames) {
    media::testpattern::MovieOptions options;
    options.writer.width = width;
    options.writer.height = height;
    options.writer.audioCodec = media::AudioCodec::Aac;
    options.frameCount = frames;
    media::Error error;
    if (!media::testpattern::makeMovie(path.toStdString(), options, &error)) {
        std::fprintf(stderr, "cannot make %s: %s\n", qPrintable(path), error.description.c_str());
        std::exit(1);
    }
    return path;
}

// Runs the loop until the widget has painted once after `start`; the time it took.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted = true;
        return false;
    }
};

double msUntilPainted(QWidget* watched, QElapsedTimer& clock) {
    PaintWatch watch;
    watched->installEventFilter(&watch);
    while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    watched->removeEventFilter(&watch);
    return clock.nsecsElapsed() / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int withThumbs = argc > 1 ? std::atoi(argv[1]) : 500;
    const int fresh = argc > 2 ? std::atoi(argv[2]) : 100;
    QTemporaryDir home;
    qputenv("TAVRIO_HOME", home.path().toUtf8());
    qputenv("QT_LOGGING_RULES", "tavrio.*=false");

    // ---- 1. A large library whose thumbnails exist.
    const QString originals = MediaStore::baseDirForOriginalVideos();
    const QString documents = MediaStore::baseDirForVideos();
    const QString thumbs = MediaStore::baseDirForThumbnails();
    QDir().mkpath(originals);
    QDir().mkpath(thumbs);
    const QString small = makeMovie(home.filePath("small.mov"), 320, 240, 30);
    {
        const QImage first = VideoAssetsViewController::generateThumbImageForVideo(small, QSize(70, 70));
        for (int i = 0; i < withThumbs; ++i) {
            const QString name = QStringLiteral("Out-%1.mov").arg(i);
            const QString folder = i % 4 == 0 ? documents : originals;
            QFile::copy(small, folder + QLatin1Char('/') + name);
            VideoAssetsViewController::writeThumbnailFile(first, thumbs + QLatin1Char('/') + name + ".jpeg");
            writeDurationFile(name, 1.0);
        }
    }
    std::vector<double> ours, bare;
    for (int round = 0; round < 7; ++round) {
        {
            ui::Window window;
            window.resize(320, 480);
            window.show();
            QCoreApplication::processEvents();
            QElapsedTimer clock;
            clock.start();
            auto* list = new VideoAssetsScreen();
            window.setRootViewController(new ui::NavigationController(list));
            ours.push_back(msUntilPainted(list->tableView()->viewport(), clock));
            if (list->library()->count() != withThumbs || list->library()->pendingThumbnails() != 0) {
                std::fprintf(stderr, "the list shows %d rows, %d pending\n", list->library()->count(),
                             list->library()->pendingThumbnails());
                return 1;
            }
        }
        {
            QListWidget bareList;
            bareList.resize(320, 480);
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < withThumbs; ++i)
                bareList.addItem(QStringLiteral("00:01 (8/12/26 00:00)\nSize: 0.1 MB %1").arg(i));
            bareList.show();
            bare.push_back(msUntilPainted(bareList.viewport(), clock));
        }
    }
    const double shown = median(ours), reference = median(bare);
    std::printf("list of %d movies with thumbnails shown: %.1f ms (median of 7; budget 300 ms: %.2f of it)\n",
                withThumbs, shown, shown / 300.0);
    std::printf("  reference, a bare QListView of %d text rows: %.1f ms; ratio %.1f\n", withThumbs, reference,
                shown / reference);

    // ---- 2. New movies: thumbnails made while the window keeps turning.
    for (const QString& folder : {originals, documents, thumbs}) {
        QDir d(folder);
        for (const QString& f : d.entryList(QDir::Files)) d.remove(f);
    }
    const QString big = makeMovie(home.filePath("big.mov"), 1280, 720, 60);
    QStringList movies;
    for (int i = 0; i < fresh; ++i) {
        const QString path = originals + QStringLiteral("/Out-%1.mov").arg(i);
        QFile::copy(big, path);
        movies << path;
    }
    // The reference first, so the page cache is equally warm for both.
    QTemporaryDir out;
    QElapsedTimer refClock;
    refClock.start();
    for (int i = 0; i < movies.size(); ++i) {
        const int status = QProcess::execute(
            QStringLiteral("ffmpegthumbnailer"),
            {QStringLiteral("-i"), movies[i], QStringLiteral("-o"), out.filePath(QStringLiteral("t%1.jpg").arg(i)),
             QStringLiteral("-s"), QStringLiteral("70"), QStringLiteral("-t"), QStringLiteral("0")});
        if (status != 0) {
            std::fprintf(stderr, "ffmpegthumbnailer failed (%d); is it installed?\n", status);
            return 1;
        }
    }
    const double refMs = refClock.nsecsElapsed() / 1e6;

    ui::Window window;
    window.resize(320, 480);
    window.show();
    QCoreApplication::processEvents();
    // A 1 ms tick: the longest gap between two ticks is the longest the UI thread was busy.
    QElapsedTimer tickClock;
    qint64 lastTick = 0, longestGap = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = tickClock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    tickClock.start();
    tick.start(1);
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    lastTick = tickClock.nsecsElapsed();
    auto* list = new VideoAssetsScreen();
    window.setRootViewController(new ui::NavigationController(list));
    const double openMs = clock.nsecsElapsed() / 1e6;
    while (list->library()->pendingThumbnails() > 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double oursMs = clock.nsecsElapsed() / 1e6;
    tick.stop();
    for (int i = 0; i < list->library()->count(); ++i)
        if (list->library()->row(i).thumbnail.isNull()) {
            std::fprintf(stderr, "row %d has no thumbnail\n", i);
            return 1;
        }
    std::printf(
        "%d new 1280x720 movies, all thumbnails made: %.0f ms; ffmpegthumbnailer one after another: "
        "%.0f ms; ratio %.2f (target 1.0 or less)\n",
        fresh, oursMs, refMs, oursMs / refMs);
    std::printf(
        "  longest the UI thread went without turning its loop: %.1f ms (target 50 ms or less); "
        "opening the list took %.1f ms of it\n",
        longestGap / 1e6, openMs);
    return 0;
}
