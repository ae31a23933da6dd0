#include "ZoomTrack.h"
#include "MediaStore.h"
#include "platform/PropertyList.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPoint>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <span>

namespace fs = std::filesystem;

namespace {

QString q(const fs::path& p) {
    return QString::fromStdString(p.string());
}

uint64_t bits(double d) {
    return std::bit_cast<uint64_t>(d);
}
uint32_t bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

// Floats a slider produces (2 x value + 1) that have no short decimal form.
const float kZooms[] = {
    1.0f, 3.0f, 2.0f * 0.3333333f + 1.0f, std::nextafter(1.0f, 2.0f), std::nextafter(3.0f, 0.0f), 2.0f * 0.1f + 1.0f};
const double kTimes[] = {0.0, 0.1 + 0.2, 1e-300, 12345.678901234567, 1.0 / 3.0, 7200.000000000001};

ZoomTrack sampleTrack() {
    ZoomTrack track;
    track.orient = 3;
    for (int i = 0; i < 6; ++i) track.entries.push_back({kZooms[i], kTimes[i]});
    return track;
}

void expectSampleTrack(const std::optional<ZoomTrack>& track) {
    ASSERT_TRUE(track);
    ASSERT_EQ(track->size(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(bits(track->entries.at(i).zoom), bits(kZooms[i])) << "entry " << i;
        EXPECT_EQ(bits(track->entries.at(i).atTime), bits(kTimes[i])) << "entry " << i;
    }
    EXPECT_EQ(videoOrientationForZooms(track), 3);
    EXPECT_TRUE(zoomTrackProblem(*track).isEmpty());
}

std::string python(const std::string& script, int* status = nullptr) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.path() / "script.py", script);
    std::string out;
    const int rc = testsupport::run("python3 " + (dir.path() / "script.py").string(), &out);
    if (status)
        *status = rc;
    else
        EXPECT_EQ(rc, 0) << out;
    return out;
}

}  // namespace

TEST(ZoomTrack, RoundTripsThroughTheStoreBitExact) {
    testsupport::TempHome home;
    ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out-3.mov"), sampleTrack()));
    const fs::path file = home.path() / "Library" / "Zooms" / "Out-3.mov.zooms.lkbx";
    ASSERT_TRUE(fs::exists(file));
    const std::string xml = testsupport::readFile(file);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(xml.find("<integer>3</integer>"), std::string::npos);

    // Readers get the movie's path and use only its file name.
    expectSampleTrack(zoomsForVideoFile(q(home.path() / "Library" / "Originals" / "Out-3.mov")));
    EXPECT_FALSE(zoomsForVideoFile("/elsewhere/Out-4.mov"));

    // Writing the same name again replaces the track and leaves no temporary files.
    ZoomTrack shorter{{{2.5f, 0.0}}, 1};
    ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out-3.mov"), shorter));
    const auto reread = zoomsForVideoFile("Out-3.mov");
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->size(), 1);
    EXPECT_EQ(videoOrientationForZooms(reread), 1);
    EXPECT_EQ(QDir(q(file.parent_path())).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Out-3.mov.zooms.lkbx"});
}

TEST(ZoomTrack, OrientationIsEntryZerosAndDefaultsToZero) {
    testsupport::TempHome home;
    EXPECT_EQ(videoOrientationForZooms(std::nullopt), 0);
    EXPECT_EQ(videoOrientationForZooms(ZoomTrack{}), 0);
    EXPECT_EQ(videoOrientationForZooms(ZoomTrack{{{1.0f, 0.0}}}), 0);
    EXPECT_EQ(videoOrientationForZooms(ZoomTrack{{{1.0f, 0.0}}, 4}), 4);
    // Only entry 0 counts; a real is taken as its whole part, anything else as none.
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array>";
    auto orientRead = [&](const std::string& first, const std::string& second) {
        testsupport::writeFile(MediaStore::zoomsArchiveFilePath("O.mov").toStdString(),
                               head + "<dict><key>zoom</key><real>1</real><key>atTime</key><real>0</real>" + first +
                                   "</dict><dict><key>zoom</key><real>1</real><key>atTime</key><real>1</real>" +
                                   second + "</dict></array></plist>");
        return videoOrientationForZooms(zoomsForVideoFile("O.mov"));
    };
    EXPECT_EQ(orientRead("", "<key>orient</key><integer>4</integer>"), 0);
    EXPECT_EQ(orientRead("<key>orient</key><real>4</real>", ""), 4);
    EXPECT_EQ(orientRead("<key>orient</key><string>3</string>", ""), 0);
    EXPECT_EQ(orientRead("<key>orient</key><real>1e300</real>", ""), 0);
}

TEST(ZoomTrack, UnusableTracksAreNamedAndTimesMayGoBackwards) {
    auto problem = [](ZoomTrack t) { return zoomTrackProblem(t).toStdString(); };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(problem(ZoomTrack{{{1.0f, 5.0}, {2.0f, 1.0}}, 3}), "");
    EXPECT_EQ(problem(ZoomTrack{{{1.0f, -1.0}}, 3}), "");
    EXPECT_NE(problem({}), "");
    for (float zoom : {0.0f, -1.0f, nan, inf, -inf})
        EXPECT_NE(problem(ZoomTrack{{{1.0f, 0.0}, {zoom, 1.0}}}), "") << "zoom " << zoom;
    for (double t : {double(nan), double(inf), -double(inf)})
        EXPECT_NE(problem(ZoomTrack{{{1.0f, 0.0}, {2.0f, t}}}), "") << "time " << t;
    // The first fault is the one named, whether the file's shape or a value.
    ZoomTrack shapeLater{{{1.0f, 0.0}, {-1.0f, 1.0}, {nan, 2.0}}};
    shapeLater.readProblem = "entry 2 has no zoom";
    shapeLater.readProblemEntry = 2;
    EXPECT_EQ(problem(shapeLater), "entry 1: zoom -1 is not a positive finite factor");
    ZoomTrack shapeFirst{{{1.0f, 0.0}, {nan, 1.0}, {-1.0f, 2.0}}};
    shapeFirst.readProblem = "entry 1 has no zoom";
    shapeFirst.readProblemEntry = 1;
    EXPECT_EQ(problem(shapeFirst), "entry 1 has no zoom");
}

TEST(ZoomTrack, MalformedFilesReadAsMissingOrUnusable) {
    testsupport::TempHome home;
    auto trackFile = [](const char* movie) { return MediaStore::zoomsArchiveFilePath(movie).toStdString(); };
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";

    testsupport::writeFile(trackFile("empty.mov"), "");
    testsupport::writeFile(trackFile("text.mov"), "zoom 1.5 at 0\n");
    testsupport::writeFile(trackFile("dict.mov"), head + "<dict><key>zoom</key><real>1</real></dict></plist>");
    testsupport::writeFile(trackFile("cut.mov"), head + "<array><dict><key>zoom</key><real>1.5</re");
    for (const char* movie : {"empty.mov", "text.mov", "dict.mov", "cut.mov", "missing.mov"}) {
        EXPECT_FALSE(zoomsForVideoFile(movie)) << movie;
        EXPECT_EQ(videoOrientationForZooms(zoomsForVideoFile(movie)), 0);
    }

    // Readable arrays whose entries are wrong: read, and reported as unusable.
    const char* bodies[] = {
        "<array/>",
        "<array><string>zoom</string></array>",
        "<array><dict><key>zoom</key><real>1.5</real></dict></array>",
        "<array><dict><key>zoom</key><string>1.5</string><key>atTime</key><real>0</real></dict></array>",
        "<array><dict><key>zoom</key><real>0</real><key>atTime</key><real>0</real></dict></array>",
        "<array><dict><key>zoom</key><real>-2</real><key>atTime</key><real>0</real></dict></array>",
        "<array><dict><key>zoom</key><real>nan</real><key>atTime</key><real>0</real></dict></array>",
        "<array><dict><key>zoom</key><real>1</real><key>atTime</key><real>inf</real></dict></array>",
        "<array><dict><key>zoom</key><real>+infinity</real><key>atTime</key><real>0</real></dict></array>",
        "<array><dict><key>zoom</key><real>1e39</real><key>atTime</key><real>0</real></dict></array>",
        "<array><dict><key>zoom</key><real>1</real><key>atTime</key><true/></dict></array>",
        "<array><dict><key>atTime</key><real>0</real></dict></array>",
    };
    int i = 0;
    for (const char* body : bodies) {
        const std::string movie = "bad" + std::to_string(i++) + ".mov";
        testsupport::writeFile(trackFile(movie.c_str()), head + body + "</plist>");
        const auto track = zoomsForVideoFile(QString::fromStdString(movie));
        if (track) {
            EXPECT_FALSE(zoomTrackProblem(*track).isEmpty()) << body;
        }
    }
    // The first two have no factor to misread: they must come back, unusable, not vanish.
    EXPECT_TRUE(zoomsForVideoFile("bad0.mov"));
    const auto notADict = zoomsForVideoFile("bad1.mov");
    ASSERT_TRUE(notADict);
    EXPECT_TRUE(zoomTrackProblem(*notADict).contains("not a dictionary"));
    EXPECT_EQ(videoOrientationForZooms(notADict), 0);
    // Integers are numbers: a hand-written track with whole factors is usable.
    testsupport::writeFile(trackFile("whole.mov"),
                           head +
                               "<array><dict><key>zoom</key><integer>2</integer><key>atTime</key><integer>0</integer>"
                               "</dict></array></plist>");
    const auto whole = zoomsForVideoFile("whole.mov");
    ASSERT_TRUE(whole);
    EXPECT_TRUE(zoomTrackProblem(*whole).isEmpty());
    EXPECT_EQ((*whole)[0], (media::ZoomEntry{2.0f, 0.0}));
}

TEST(ZoomTrack, FailedWritesAreReportedAndKeepTheOldTrack) {
    testsupport::TempHome home;
    const QString path = MediaStore::zoomsArchiveFilePath("Out.mov");
    ASSERT_TRUE(writeZoomTrackFile(path, sampleTrack()));

    // The Zooms folder replaced by a file: the write fails cleanly.
    const fs::path zooms = home.path() / "Library" / "Zooms";
    fs::remove_all(zooms);
    testsupport::writeFile(zooms, "not a folder");
    EXPECT_FALSE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath("Out.mov"), sampleTrack()));
    EXPECT_FALSE(zoomsForVideoFile("Out.mov"));
}

TEST(ZoomTrack, AMillionEntriesRead) {
    testsupport::TempHome home;
    // Written directly: the point is the reader.
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n"
        "<dict><key>zoom</key><real>1</real><key>atTime</key><real>0</real><key>orient</key><integer>1</integer></"
        "dict>\n";
    const int n = 1000000;
    xml.reserve(size_t(n) * 80);
    for (int i = 1; i < n; ++i)
        xml +=
            "<dict><key>zoom</key><real>2.5</real><key>atTime</key><real>" + std::to_string(i) + ".5</real></dict>\n";
    xml += "</array>\n</plist>\n";
    testsupport::writeFile(MediaStore::zoomsArchiveFilePath("Big.mov").toStdString(), xml);
    const auto track = zoomsForVideoFile("Big.mov");
    ASSERT_TRUE(track);
    ASSERT_EQ(track->size(), n);
    EXPECT_EQ(track->entries.back().atTime, n - 1 + 0.5);
    EXPECT_EQ((track->entries.at(n / 2)).zoom, 2.5f);
    EXPECT_EQ(videoOrientationForZooms(track), 1);
    EXPECT_TRUE(zoomTrackProblem(*track).isEmpty());
}

// Python's plistlib is an independent implementation of the published format.
TEST(ZoomTrack, InteroperatesWithPythonPlistlibToTheBit) {
    testsupport::TempHome home;
    const QString zooms = MediaStore::zoomsArchiveFilePath("Py.mov");
    const std::string dir = QFileInfo(zooms).path().toStdString();
    // Python writes, as XML and as binary; floats are made from the same 32-bit patterns.
    std::string script =
        "import plistlib, struct\n"
        "def f(bits): return struct.unpack('<f', struct.pack('<I', bits))[0]\n"
        "def d(bits): return struct.unpack('<d', struct.pack('<Q', bits))[0]\n"
        "track = []\n";
    for (int i = 0; i < 6; ++i) {
        script += "track.append({'zoom': f(" + std::to_string(bits(kZooms[i])) + "), 'atTime': d(" +
                  std::to_string(bits(kTimes[i])) + ")" + (i == 0 ? ", 'orient': 3" : "") + "})\n";
    }
    script += "open('" + dir +
              "/Py.mov.zooms.lkbx', 'wb').write(plistlib.dumps(track))\n"
              "open('" +
              dir + "/PyBin.mov.zooms.lkbx', 'wb').write(plistlib.dumps(track, fmt=plistlib.FMT_BINARY))\n";
    python(script);
    expectSampleTrack(zoomsForVideoFile("Py.mov"));
    expectSampleTrack(zoomsForVideoFile("PyBin.mov"));

    // We write, Python reads: every value's bits, the types, and the keys per entry.
    ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath("Ours.mov"), sampleTrack()));
    const std::string out = python(
        "import plistlib, struct\n"
        "track = plistlib.load(open('" +
        dir +
        "/Ours.mov.zooms.lkbx', 'rb'))\n"
        "for e in track:\n"
        "    assert type(e['zoom']) is float and type(e['atTime']) is float, e\n"
        "    print(struct.unpack('<Q', struct.pack('<d', e['zoom']))[0], "
        "struct.unpack('<Q', struct.pack('<d', e['atTime']))[0], "
        "e.get('orient', 'none'), ','.join(sorted(e)))\n");
    std::string expected;
    for (int i = 0; i < 6; ++i) {
        expected += std::to_string(bits(double(kZooms[i]))) + " " + std::to_string(bits(kTimes[i])) + " " +
                    (i == 0 ? "3 atTime,orient,zoom" : "none atTime,zoom") + "\n";
    }
    EXPECT_EQ(out, expected);
}

TEST(Duration, TextTruncatesEachField) {
    const std::pair<double, const char*> cases[] = {
        {0, "00:00"},        {59.99, "00:59"},       {60, "01:00"},         {75.9, "01:15"},
        {3599.5, "59:59"},   {3599.999, "59:59"},    {3600, "01:00:00"},    {3725, "01:02:05"},
        {36000, "10:00:00"}, {359999.9, "99:59:59"}, {360000, "100:00:00"}, {0.4, "00:00"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(durationText(seconds).toStdString(), text) << seconds;
    EXPECT_TRUE(durationText(std::nan("")).isEmpty());
    EXPECT_TRUE(durationText(std::numeric_limits<double>::infinity()).isEmpty());
    EXPECT_FALSE(durationText(1e300).isEmpty());  // absurd but finite: text, no overflow
}

TEST(Duration, FileHoldsBareTextAndNonFiniteKeepsTheOldOne) {
    testsupport::TempHome home;
    const fs::path file = home.path() / "Library" / "Durations" / "Out-3.mov.duration.lkbx";
    EXPECT_TRUE(readDurationFile("Out-3.mov").isEmpty());
    ASSERT_TRUE(writeDurationFile("Out-3.mov", 3725.4));
    EXPECT_EQ(testsupport::readFile(file), "01:02:05");  // no BOM, no line end
    EXPECT_EQ(readDurationFile("Out-3.mov"), "01:02:05");

    EXPECT_FALSE(writeDurationFile("Out-3.mov", std::nan("")));
    EXPECT_FALSE(writeDurationFile("Out-3.mov", -std::numeric_limits<double>::infinity()));
    EXPECT_EQ(testsupport::readFile(file), "01:02:05");
    EXPECT_FALSE(writeDurationFile("New.mov", std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(fs::exists(file.parent_path() / "New.mov.duration.lkbx"));

    ASSERT_TRUE(writeDurationFile("Out-3.mov", 59.99));
    EXPECT_EQ(testsupport::readFile(file), "00:59");
    EXPECT_EQ(QDir(q(file.parent_path())).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Out-3.mov.duration.lkbx"});
}

TEST(ZoomTrack, FilesAreWrittenAsTheKeyedEntriesAlwaysWereAndReadBackTheSame) {
    testsupport::TempHome home;
    // The stored form, spelled out: a dictionary per entry, the zoom as the float's exact
    // double, the orientation in entry 0 only.
    QVariantList stored;
    for (int i = 0; i < 6; ++i) {
        QVariantMap entry{{kZoomKey, double(kZooms[i])}, {kAtTimeKey, kTimes[i]}};
        if (i == 0) entry.insert(kOrientKey, qint64(3));
        stored.append(entry);
    }
    const std::optional<QByteArray> expected = platform::PropertyList::toXml(stored);
    ASSERT_TRUE(expected);
    const QString path = MediaStore::zoomsArchiveFilePath("Out.mov");
    ASSERT_TRUE(writeZoomTrackFile(path, sampleTrack()));
    EXPECT_EQ(testsupport::readFile(path.toStdString()), expected->toStdString());

    // Read as a stream, a file gives what the whole-file reader gives, value for value.
    const std::optional<QVariant> whole = platform::PropertyList::readFile(path);
    ASSERT_TRUE(whole);
    const auto track = readZoomTrackFile(path);
    ASSERT_TRUE(track);
    ASSERT_EQ(track->size(), whole->toList().size());
    for (qsizetype i = 0; i < track->size(); ++i) {
        const QVariantMap m = whole->toList()[i].toMap();
        EXPECT_EQ(bits((*track)[i].zoom), bits(float(m.value(kZoomKey).toDouble()))) << i;
        EXPECT_EQ(bits((*track)[i].atTime), bits(m.value(kAtTimeKey).toDouble())) << i;
    }

    // A track without an orientation is written without one.
    ZoomTrack plain = sampleTrack();
    plain.orient.reset();
    ASSERT_TRUE(writeZoomTrackFile(path, plain));
    EXPECT_EQ(testsupport::readFile(path.toStdString()).find("orient"), std::string::npos);
    EXPECT_EQ(*readZoomTrackFile(path), plain);
}

TEST(ZoomTrack, EveryValueIsWrittenAsLibplistWritesItAndPiecesAddUpToTheWhole) {
    testsupport::TempHome home;
    // What libplist, which wrote every track before, makes of the same entries.
    auto libplist = [](const ZoomTrack& track) {
        QVariantList list;
        for (size_t i = 0; i < track.entries.size(); ++i) {
            QVariantMap entry{{kZoomKey, double(track.entries[i].zoom)}, {kAtTimeKey, track.entries[i].atTime}};
            if (i == 0 && track.orient) entry.insert(kOrientKey, *track.orient);
            list.append(entry);
        }
        return platform::PropertyList::toXml(list).value_or(QByteArray()).toStdString();
    };
    using limits = std::numeric_limits<double>;
    ZoomTrack track;
    track.orient = std::numeric_limits<qint64>::min();
    for (double d : {0.0, -0.0, limits::quiet_NaN(), -limits::quiet_NaN(), limits::infinity(), -limits::infinity(),
                     limits::denorm_min(), limits::max(), 1e21, 1e-7, 123456789.125, 0.5, 100.0, -2.5})
        track.entries.push_back({float(d), d});
    // Any bit pattern at all, NaN payloads included.
    std::mt19937_64 random(20);
    for (int i = 0; i < 5000; ++i)
        track.entries.push_back({std::bit_cast<float>(uint32_t(random())), std::bit_cast<double>(random())});
    EXPECT_EQ(zoomTrackFileBytes(track).toStdString(), libplist(track));
    EXPECT_EQ(zoomTrackFileBytes(ZoomTrack{}).toStdString(), libplist(ZoomTrack{}));
    EXPECT_EQ(zoomTrackFileBytes(ZoomTrack{{{2.0f, 1.0}}, 3}).toStdString(), libplist(ZoomTrack{{{2.0f, 1.0}}, 3}));

    // Stored a piece at a time, a store failing between (its folder gone, so the file it copies
    // from has no name any more): the file is the whole track's, byte for byte.
    const fs::path folder = home.path() / "Zooms";
    fs::create_directories(folder);
    const QString path = q(folder / "Out.mov.zooms.lkbx");
    ZoomTrackFileWriter writer(path, track.orient);
    const std::span<const media::ZoomEntry> all(track.entries);
    ASSERT_TRUE(writer.store(all.subspan(0, 1)));
    EXPECT_EQ(*readZoomTrackFile(path), ZoomTrack({track.entries[0]}, track.orient));
    ASSERT_TRUE(writer.store({}));
    ASSERT_TRUE(writer.store(all.subspan(1, 10)));
    fs::remove_all(folder);
    QString error;
    EXPECT_FALSE(writer.store(all.subspan(11, 100), false, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(writer.hasUnstored());
    fs::create_directories(folder);
    ASSERT_TRUE(writer.store(all.subspan(111)));
    EXPECT_FALSE(writer.hasUnstored());
    EXPECT_EQ(testsupport::readFile(path.toStdString()), libplist(track));
    EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), "Out.mov.zooms.lkbx");  // no temporary left

    // Started anew, the file holds only what is given then.
    ASSERT_TRUE(writer.store(all.subspan(0, 2), true));
    EXPECT_EQ(*readZoomTrackFile(path), ZoomTrack({track.entries[0], track.entries[1]}, track.orient));
}
