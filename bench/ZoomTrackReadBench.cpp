// Reading a long zoom track: ours (libplist underneath) against Python's plistlib on the same
// file. Usage: zoom_track_read_bench [ENTRIES]   (default 1000000)

#include "MediaStore.h"
#include "ZoomTrack.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir home;
    qputenv("TAVRIO_HOME", home.path().toUtf8());

    ZoomTrack track;
    track.reserve(entries);
    track.append(makeZoomEntry(1.0f, 0.0, 3));
    for (int i = 1; i < entries; ++i) track.append(makeZoomEntry(1.0f + float(i % 2000) / 1000.0f, i * 0.0333333));
    const QString path = MediaStore::zoomsArchiveFilePath(QStringLiteral("Bench.mov"));
    auto t0 = std::chrono::steady_clock::now();
    if (!writeZoomTrackFile(path, track)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    auto t1 = std::chrono::steady_clock::now();
    const auto read = readZoomTrackFile(path);
    const bool usable = read && zoomTrackProblem(*read).isEmpty();
    auto t2 = std::chrono::steady_clock::now();
    if (!read || read->size() != entries || !usable) {
        std::fprintf(stderr, "read back wrong\n");
        return 1;
    }
    const double write = std::chrono::duration<double>(t1 - t0).count();
    const double ours = std::chrono::duration<double>(t2 - t1).count();

    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                             QStringLiteral("import plistlib, sys, time\n"
                                                            "t = time.perf_counter()\n"
                                                            "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
                                                            "print(time.perf_counter() - t, len(d))\n"),
                                             path});
    python.waitForFinished(-1);
    const QStringList out = QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char(' '));
    const double reference = out.value(0).toDouble();

    std::printf("entries %d, file %.1f MB\n", entries, double(QFileInfo(path).size()) / 1e6);
    std::printf("write (ours)              %.3f s\n", write);
    std::printf("read + check (ours)       %.3f s\n", ours);
    if (reference > 0)
        std::printf("read (python plistlib)    %.3f s   ratio ours/python %.2f\n", reference, ours / reference);
    else
        std::printf("python3 plistlib reference unavailable\n");
    return 0;
}
