// A long zoom track from its file to a composition: the peak memory of reading it into the
// typed track, building its curve and both compositions, for ENTRIES entries against the same
// path for 1,000 entries (what the process costs anyway) and against the file's own size; and
// the reading time against Python's plistlib on the same file.
// Then writing it: the peak memory and time of the track's writer against the property-list
// tree libplist wrote it from before (what a recording did every second), and the cost of the
// recording's one-second store of ten more entries onto the long track.
// Usage: zoom_track_read_bench [ENTRIES]   (default 1000000)
// Each path runs in a process of its own, so that writing the file counts in neither peak.

#include "MediaStore.h"
#include "ZoomTrack.h"

#include "media/VideoComposition.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// This process's own high-water mark (VmHWM): unlike the resource usage's maximum, it does not
// count what the parent held when it started us.
long ownPeakKiB() {
    long peakKiB = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %ld kB", &peakKiB) == 1) break;
        std::fclose(status);
    }
    return peakKiB;
}

// The child's work: prints "<peak KiB> <seconds reading> <entries> <segments>".
int readPath(const QString& path, double movieSeconds) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::optional<ZoomTrack> track = readZoomTrackFile(path);
    const auto t1 = std::chrono::steady_clock::now();
    if (!track || !zoomTrackProblem(*track).isEmpty()) return 1;
    const media::Time duration = media::Time::fromSeconds(movieSeconds, 600);
    const auto curve = zoomCurveFor(*track, duration);
    const media::VideoComposition good = media::makeRampComposition({1920, 1080}, curve);
    const media::VideoComposition best = media::makeLayerComposition({1920, 1080}, curve);
    // Evaluated as an export would, so nothing is left unbuilt.
    double sum = 0;
    for (int k = 0; k < 1000; ++k) {
        const media::Time t = media::Time::fromSeconds(movieSeconds * k / 1000, 600);
        sum += good.transformAt(t).a + best.transformAt(t).a;
    }
    const long peakKiB = ownPeakKiB();
    std::printf("%ld %.6f %lld %zu %g\n", peakKiB, std::chrono::duration<double>(t1 - t0).count(),
                static_cast<long long>(track->size()), curve->segments().size(), sum);
    return 0;
}

ZoomTrack makeTrack(int entries) {
    ZoomTrack track;
    track.orient = 3;
    track.entries.reserve(size_t(entries));
    track.entries.push_back({1.0f, 0.0});
    for (int i = 1; i < entries; ++i) track.entries.push_back({1.0f + float(i % 2000) / 1000.0f, i * 0.0333333});
    return track;
}

// The child's work for a write: prints "<peak KiB> <seconds writing> <seconds for ten more>".
// "old" builds the whole property-list tree and has libplist write its text, as tracks were
// written; "new" is the track's writer.
int writePath(const QString& path, int entries, bool old) {
    const ZoomTrack track = makeTrack(entries);
    const ZoomTrack more = makeTrack(10);
    using Clock = std::chrono::steady_clock;
    auto writeOld = [&](const ZoomTrack& t) {
        QVariantList list;
        for (size_t i = 0; i < t.entries.size(); ++i) {
            QVariantMap entry{{QLatin1String(kZoomKey), double(t.entries[i].zoom)},
                              {QLatin1String(kAtTimeKey), t.entries[i].atTime}};
            if (i == 0) entry.insert(QLatin1String(kOrientKey), *t.orient);
            list.append(entry);
        }
        const std::optional<QByteArray> xml = platform::PropertyList::toXml(list);
        return xml && writeSideFile(path, *xml);
    };
    double first = 0, again = 0;
    if (old) {
        const auto t0 = Clock::now();
        if (!writeOld(track)) return 1;
        const auto t1 = Clock::now();
        ZoomTrack longer = track;
        longer.entries.insert(longer.entries.end(), more.entries.begin(), more.entries.end());
        const auto t2 = Clock::now();
        if (!writeOld(longer)) return 1;
        first = std::chrono::duration<double>(t1 - t0).count();
        again = std::chrono::duration<double>(Clock::now() - t2).count();
    } else {
        ZoomTrackFileWriter writer(path, track.orient);
        const auto t0 = Clock::now();
        if (!writer.store(track.entries)) return 1;
        const auto t1 = Clock::now();
        if (!writer.store(more.entries)) return 1;
        first = std::chrono::duration<double>(t1 - t0).count();
        again = std::chrono::duration<double>(Clock::now() - t1).count();
    }
    const long peakKiB = ownPeakKiB();
    std::printf("%ld %.6f %.6f\n", peakKiB, first, again);
    return 0;
}

struct WriteRun {
    long peakKiB = 0;
    double seconds = 0, tenMoreSeconds = 0;
};

std::optional<WriteRun> runWrite(const QString& self, const QString& path, int entries, bool old) {
    QProcess child;
    child.start(self,
                {old ? QStringLiteral("--write-old") : QStringLiteral("--write-new"), path, QString::number(entries)});
    child.waitForFinished(-1);
    const QStringList out = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    if (child.exitCode() != 0 || out.size() < 3) return std::nullopt;
    return WriteRun{out[0].toLong(), out[1].toDouble(), out[2].toDouble()};
}

struct PathRun {
    long peakKiB = 0;
    double readSeconds = 0;
    long long entries = 0;
    size_t segments = 0;
};

std::optional<PathRun> runPath(const QString& self, const QString& path, double movieSeconds) {
    QProcess child;
    child.start(self, {QStringLiteral("--read"), path, QString::number(movieSeconds, 'g', 17)});
    child.waitForFinished(-1);
    const QStringList out = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char(' '));
    if (child.exitCode() != 0 || out.size() < 4) return std::nullopt;
    return PathRun{out[0].toLong(), out[1].toDouble(), out[2].toLongLong(), size_t(out[3].toULongLong())};
}

QString writeTrack(const QString& movie, int entries) {
    const QString path = MediaStore::zoomsArchiveFilePath(movie);
    return writeZoomTrackFile(path, makeTrack(entries)) ? path : QString();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--read")
        return readPath(QString::fromLocal8Bit(argv[2]), std::atof(argv[3]));
    if (argc == 4 && (QByteArray(argv[1]) == "--write-old" || QByteArray(argv[1]) == "--write-new"))
        return writePath(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), QByteArray(argv[1]) == "--write-old");
    const int entries = argc > 1 ? std::atoi(argv[1]) : 1000000;
    constexpr int kReferenceEntries = 1000;
    QTemporaryDir home;
    qputenv("TAVRIO_HOME", home.path().toUtf8());

    const QString big = writeTrack(QStringLiteral("Bench.mov"), entries);
    const QString small = writeTrack(QStringLiteral("Small.mov"), kReferenceEntries);
    if (big.isEmpty() || small.isEmpty()) {
        std::fprintf(stderr, "cannot write the tracks\n");
        return 1;
    }
    const QString self = QCoreApplication::applicationFilePath();
    // Movies as long as the tracks, so that every entry has its segment.
    const auto ours = runPath(self, big, entries * 0.0333333 + 1);
    const auto reference = runPath(self, small, kReferenceEntries * 0.0333333 + 1);
    if (!ours || !reference || ours->entries != entries) {
        std::fprintf(stderr, "read back wrong\n");
        return 1;
    }
    const double fileMB = double(QFileInfo(big).size()) / 1e6;
    const double peakMB = double(ours->peakKiB) * 1024 / 1e6, refMB = double(reference->peakKiB) * 1024 / 1e6;

    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                             QStringLiteral("import plistlib, sys, time\n"
                                                            "t = time.perf_counter()\n"
                                                            "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
                                                            "print(time.perf_counter() - t, len(d))\n"),
                                             big});
    python.waitForFinished(-1);
    const double pythonSeconds =
        QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char(' ')).value(0).toDouble();

    std::printf("entries %d (%zu segments), file %.1f MB\n", entries, ours->segments, fileMB);
    std::printf("peak memory, file to compositions   %7.1f MB   (target under 100 MB)\n", peakMB);
    std::printf("  same path, %d entries            %7.1f MB   difference %.1f MB = %.0f bytes an entry\n",
                kReferenceEntries, refMB, peakMB - refMB, (peakMB - refMB) * 1e6 / entries);
    std::printf("  against the file's size           ratio %.2f\n", (peakMB - refMB) / fileMB);
    std::printf("read + check (ours)                 %.3f s\n", ours->readSeconds);
    if (pythonSeconds > 0)
        std::printf("read (python plistlib)              %.3f s   ratio ours/python %.2f\n", pythonSeconds,
                    ours->readSeconds / pythonSeconds);
    else
        std::printf("python3 plistlib reference unavailable\n");

    // Writing: each side in its own process, in turns, the median of three rounds counting.
    const QString written = MediaStore::zoomsArchiveFilePath(QStringLiteral("Written.mov"));
    std::vector<WriteRun> olds, news;
    for (int round = 0; round < 3; ++round) {
        const auto o = runWrite(self, written, entries, true);
        const auto n = runWrite(self, written, entries, false);
        if (!o || !n) {
            std::fprintf(stderr, "cannot write the track\n");
            return 1;
        }
        olds.push_back(*o);
        news.push_back(*n);
    }
    auto median = [](std::vector<WriteRun> runs, auto field) {
        std::sort(runs.begin(), runs.end(), [&](const WriteRun& a, const WriteRun& b) { return a.*field < b.*field; });
        return runs[runs.size() / 2].*field;
    };
    const double oldPeak = double(median(olds, &WriteRun::peakKiB)) * 1024 / 1e6;
    const double newPeak = double(median(news, &WriteRun::peakKiB)) * 1024 / 1e6;
    const double oldTime = median(olds, &WriteRun::seconds), newTime = median(news, &WriteRun::seconds);
    const double oldMore = median(olds, &WriteRun::tenMoreSeconds), newMore = median(news, &WriteRun::tenMoreSeconds);
    // The track itself (16 bytes an entry) is in both peaks: it is what the recording holds anyway.
    std::printf("write %d entries, peak memory (new)  %7.1f MB   old %.1f MB   ratio new/old %.3f\n", entries, newPeak,
                oldPeak, newPeak / oldPeak);
    std::printf("write %d entries, time (new)         %.3f s   old %.3f s   ratio new/old %.2f\n", entries, newTime,
                oldTime, newTime / oldTime);
    std::printf("ten more entries onto it (new)       %.3f s   old %.3f s   ratio new/old %.3f\n", newMore, oldMore,
                newMore / oldMore);
    return 0;
}
