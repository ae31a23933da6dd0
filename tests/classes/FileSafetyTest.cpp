// Nothing lost, nothing clobbered: the zoom track kept while recording, exports that never
// take or remove a name that is not theirs, side files that never write through a link.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <filesystem>
#include <functional>

#include "MediaStore.h"
#include "TavrioExportController.h"
#include "VideoAssetsViewController.h"
#include "ZoomSampler.h"
#include "ZoomTrack.h"
#include "support/TestPattern.h"
#include "support/QtApp.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::spinUntil;

using Status = media::ExportSession::Status;

namespace {

// Log lines, caught for the length of a test.
class LogCatcher {
public:
    LogCatcher() {
        lines().clear();
        previous_ =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { lines().append(m); });
    }
    ~LogCatcher() { qInstallMessageHandler(previous_); }
    static QStringList& lines() {
        static QStringList all;
        return all;
    }
    int count(const QString& part) const {
        int n = 0;
        for (const QString& l : lines()) n += l.contains(part);
        return n;
    }

private:
    QtMessageHandler previous_;
};

struct Ends : TavrioExportControllerDelegate {
    Status zoomStatus = Status::Unknown, rotationStatus = Status::Unknown;
    bool needsRotation = false;
    QString finalPath;
    std::function<void()> onStart;
    void exportDidStart() override {
        if (onStart) onStart();
    }
    void exportFinished(Status status, const QString& path, bool needs) override {
        zoomStatus = status;
        needsRotation = needs;
        if (!(status == Status::Completed && needs)) finalPath = path;
    }
    void rotationFinished(Status status, const QString& path) override {
        rotationStatus = status;
        finalPath = path;
    }
    bool done() const {
        return rotationStatus != Status::Unknown ||
               (zoomStatus != Status::Unknown && !(zoomStatus == Status::Completed && needsRotation));
    }
};

class Safety : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::qtApp();
        recording = MediaStore::filePathForRecording();
        media::testpattern::MovieOptions o;
        o.writer.width = 160;
        o.writer.height = 120;
        o.frameCount = 15;
        media::Error e;
        ASSERT_TRUE(media::testpattern::makeMovie(recording.toStdString(), o, &e)) << e.description;
    }
    void writeTrack(const ZoomTrack& track) {
        ASSERT_TRUE(writeZoomTrackFile(MediaStore::zoomsArchiveFilePath(QFileInfo(recording).fileName()), track));
    }
    QStringList documents() const {
        return QDir(MediaStore::baseDirForVideos())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    testsupport::TempHome home;
    QString recording;
};

}  // namespace

TEST(LiveZoomTrack, OnDiskFromTheStartAndWithinASecondOfEachEntry) {
    testsupport::qtApp();
    testsupport::TempHome home;
    const QString file = MediaStore::zoomsArchiveFilePath(QStringLiteral("Out.mov"));
    int64_t clock = 5000000000000;
    ZoomSampler s([&] { return clock; });
    auto onDisk = [&] { return readZoomTrackFile(file).value_or(ZoomTrack{}).size(); };
    // The writes run off the main thread and report back to it.
    auto written = [](const ZoomSampler& sampler) { return spinUntil([&] { return !sampler.isWriting(); }); };

    s.sliderChanged(0.5f);
    s.recordingBegan(1, file);
    ASSERT_TRUE(written(s));
    EXPECT_EQ(onDisk(), 1);  // entry 0 at once: a crash right away still keeps the orientation
    clock += 300000000;
    s.sliderChanged(0.6f);
    EXPECT_TRUE(s.hasPendingEntries());  // a burst of moves is not a burst of writes
    EXPECT_FALSE(s.isWriting());
    clock += 800000000;
    s.sliderChanged(0.7f);  // a second since the last write: written now
    EXPECT_FALSE(s.hasPendingEntries());
    ASSERT_TRUE(written(s));
    EXPECT_EQ(onDisk(), s.zooms().size());
    const qsizetype stored = onDisk();
    clock += 50000000;
    s.sliderChanged(1.0f);
    EXPECT_TRUE(s.hasPendingEntries());
    s.writePendingEntries();  // what the one-second timer does
    ASSERT_TRUE(written(s));
    ASSERT_EQ(onDisk(), stored + 1);
    EXPECT_FLOAT_EQ(readZoomTrackFile(file)->entries.back().zoom, 3.0f);

    clock += 50000000;
    s.sliderChanged(0.0f);
    std::optional<bool> whole;
    s.recordingEnded([&](bool ok) { whole = ok; });  // the end writes what is still waiting
    ASSERT_TRUE(spinUntil([&] { return whole.has_value(); }));
    EXPECT_TRUE(*whole);
    // Written in pieces, byte for byte what one write of the whole track gives.
    EXPECT_EQ(testsupport::readFile(file.toStdString()), zoomTrackFileBytes(s.zooms()).toStdString());
    EXPECT_EQ(readZoomTrackFile(file)->orient.value_or(-1), 1);

    // Without a track file the sampler keeps its entries in memory only.
    QFile::remove(file);
    ZoomSampler memoryOnly([&] { return clock; });
    memoryOnly.recordingBegan(3);
    memoryOnly.sliderChanged(1.0f);
    whole.reset();
    memoryOnly.recordingEnded([&](bool ok) { whole = ok; });
    ASSERT_TRUE(spinUntil([&] { return whole.has_value(); }));
    EXPECT_TRUE(*whole);
    EXPECT_FALSE(QFileInfo::exists(file));

    // A write that fails keeps its entries for the next, which stores them once it can.
    ZoomSampler blocked([&] { return clock; });
    const fs::path folder = home.path() / "not-yet";
    const QString late = QString::fromStdString((folder / "x.zooms.lkbx").string());
    blocked.recordingBegan(3, late);
    ASSERT_TRUE(written(blocked));
    EXPECT_TRUE(blocked.lastWriteFailed());
    clock += 2000000000;
    blocked.sliderChanged(0.5f);
    ASSERT_TRUE(written(blocked));
    fs::create_directories(folder);
    whole.reset();
    blocked.recordingEnded([&](bool ok) { whole = ok; });
    ASSERT_TRUE(spinUntil([&] { return whole.has_value(); }));
    EXPECT_TRUE(*whole);
    EXPECT_EQ(readZoomTrackFile(late), blocked.zooms());

    // A take that keeps no movie keeps no track: removed after the writes, never written again.
    ZoomSampler dropped([&] { return clock; });
    dropped.recordingBegan(3, file);
    dropped.recordingEnded();
    dropped.removeTrackFile();
    dropped.writePendingEntries();
    whole.reset();
    dropped.recordingEnded([&](bool ok) { whole = ok; });
    ASSERT_TRUE(spinUntil([&] { return whole.has_value(); }));
    EXPECT_FALSE(QFileInfo::exists(file));
}

TEST(ZoomCurveEnd, TheLastEntryHoldsEvenWhenItCameWithinATick) {
    // A thousand entries within a microsecond, ending on 2.99: that zoom holds from there on.
    std::vector<media::ZoomEntry> burst{{1.0f, 0.0}};
    for (int i = 1; i <= 1000; ++i) burst.push_back({1.0f + 1.99f * float(i) / 1000.0f, 0.5 + i * 1e-9});
    const auto segments = media::ZoomCurve(burst, media::Time(1800, 600)).segments();
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.back().range.end(), media::Time(1800, 600));
    EXPECT_EQ(segments.back().fromZoom, 2.99f);
    EXPECT_EQ(segments.back().toZoom, 2.99f);
    // Two entries a tick apart at the end: the later one's zoom is the one that holds.
    const auto late =
        media::ZoomCurve({{1.0f, 0.0}, {2.0f, 1.0}, {3.0f, 1.0 + 1e-6}}, media::Time(1800, 600)).segments();
    ASSERT_EQ(late.size(), 2u);
    EXPECT_EQ(late[0].toZoom, 2.0f);
    EXPECT_EQ(late[1].fromZoom, 3.0f);
    EXPECT_EQ(late[1].range.start, media::Time(600, 600));
}

TEST_F(Safety, FactorsOutsideTheSliderRangeAreClampedAndOddTracksLogged) {
    writeTrack(ZoomTrack{{{0.5f, 0.0}, {1e-30f, 0.2}, {7.0f, 0.3}}, 3});
    LogCatcher log;
    TavrioExportController job(recording);
    EXPECT_TRUE(job.zoomTrackProblemText().isEmpty());
    const auto& segments = job.zoomCurve()->segments();
    ASSERT_FALSE(segments.empty());
    for (const auto& s : segments) {
        EXPECT_GE(s.fromZoom, 1.0f);
        EXPECT_LE(s.toZoom, 3.0f);
    }
    EXPECT_EQ(segments.front().fromZoom, 1.0f);
    EXPECT_EQ(segments.back().toZoom, 3.0f);
    EXPECT_EQ(log.count(QStringLiteral("clamped")), 1);

    // Entry 0 after every other entry: the gesture cannot be placed, and the log says so.
    writeTrack(ZoomTrack{{{1.0f, 9.0}, {2.0f, 0.1}, {2.5f, 0.2}}, 3});
    TavrioExportController later(recording);
    EXPECT_EQ(log.count(QStringLiteral("after every other entry")), 1);
    EXPECT_EQ(log.count(QStringLiteral("clamped")), 1);
}

TEST_F(Safety, ANameTakenOrLinkedWhileExportingIsLeftAloneAndTheNextFreeOneTaken) {
    writeTrack(ZoomTrack{{{1.0f, 0.0}}, 3});
    const fs::path outside = home.path() / "outside.txt";
    testsupport::writeFile(outside, "precious");
    for (bool link : {false, true}) {
        SCOPED_TRACE(link ? "link" : "file");
        TavrioExportController job(recording);
        Ends ends;
        job.setDelegate(&ends);
        QString chosen;
        // Someone takes the chosen name after it was chosen, before the movie is complete.
        ends.onStart = [&] {
            chosen = job.outVideo();
            if (link)
                QFile::link(QString::fromStdString(outside.string()), chosen);
            else
                testsupport::writeFile(chosen.toStdString(), "theirs");
        };
        job.startExporting();
        ASSERT_TRUE(spinUntil([&] { return ends.done(); }));
        ASSERT_EQ(ends.zoomStatus, Status::Completed);
        EXPECT_NE(ends.finalPath, chosen);
        EXPECT_EQ(job.outVideo(), ends.finalPath);
        EXPECT_TRUE(QFileInfo(ends.finalPath).isFile());
        EXPECT_EQ(QFileInfo(chosen).isSymLink(), link);
        if (!link) {
            EXPECT_EQ(testsupport::readFile(chosen.toStdString()), "theirs");
        }
    }
    EXPECT_EQ(testsupport::readFile(outside), "precious");
    EXPECT_EQ(documents(), (QStringList{"Video-1.mov", "Video-2.mov", "Video-3.mov", "Video.mov"}));
}

TEST_F(Safety, TwoPortraitExportsTakeTurnsWithTheIntermediate) {
    writeTrack(ZoomTrack{{{1.0f, 0.0}, {2.0f, 0.2}}, 1});
    TavrioExportController first(recording), second(recording);
    Ends a, b;
    first.setDelegate(&a);
    second.setDelegate(&b);
    first.startExporting();
    second.startExporting();  // waits: the first holds the intermediate
    ASSERT_TRUE(spinUntil([&] { return a.done() && b.done(); }));
    EXPECT_EQ(a.rotationStatus, Status::Completed);
    EXPECT_EQ(b.rotationStatus, Status::Completed);
    EXPECT_NE(a.finalPath, b.finalPath);
    EXPECT_EQ(documents(), (QStringList{"Video-1.mov", "Video.mov"}));

    // Cancelled while it waits: it ends as cancelled and never touches the intermediate.
    TavrioExportController holder(recording), waiter(recording);
    Ends h, w;
    holder.setDelegate(&h);
    waiter.setDelegate(&w);
    holder.startExporting();
    waiter.startExporting();
    waiter.cancelExporting();
    EXPECT_EQ(w.zoomStatus, Status::Cancelled);
    ASSERT_TRUE(spinUntil([&] { return h.done(); }));
    EXPECT_EQ(h.rotationStatus, Status::Completed);
    EXPECT_EQ(documents(), (QStringList{"Video-1.mov", "Video-2.mov", "Video.mov"}));
}

TEST_F(Safety, SideFilesReplaceAPlantedLinkAndNeverWriteItsTarget) {
    const QString name = QFileInfo(recording).fileName();
    QDir().mkpath(MediaStore::baseDirForThumbnails());
    const QString zooms = MediaStore::zoomsArchiveFilePath(name);
    const QString duration = MediaStore::timingFilePathForVideo(name);
    const QString thumb = MediaStore::baseDirForThumbnails() + "/" + name + ".jpeg";
    int i = 0;
    for (const QString& side : {zooms, duration, thumb}) {
        SCOPED_TRACE(side.toStdString());
        const fs::path target = home.path() / ("outside-" + std::to_string(++i));
        testsupport::writeFile(target, "precious");
        ASSERT_TRUE(QFile::link(QString::fromStdString(target.string()), side));
    }
    ASSERT_TRUE(writeZoomTrackFile(zooms, ZoomTrack{{{1.5f, 0.0}}, 3}));
    ASSERT_TRUE(writeDurationFile(name, 75.0));
    QImage image(8, 8, QImage::Format_RGB888);
    image.fill(Qt::red);
    ASSERT_TRUE(VideoAssetsViewController::writeThumbnailFile(image, thumb));
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(testsupport::readFile(home.path() / ("outside-" + std::to_string(k))), "precious");
    for (const QString& side : {zooms, duration, thumb}) {
        EXPECT_FALSE(QFileInfo(side).isSymLink()) << side.toStdString();
        EXPECT_TRUE(QFileInfo(side).isFile()) << side.toStdString();
    }
    EXPECT_EQ(readDurationFile(name), "01:15");

    // Links to files that do not exist yet: nothing appears outside the data folder.
    const QString other = QStringLiteral("Out-9.mov");
    const fs::path nowhere = home.path() / "nowhere.txt";
    ASSERT_TRUE(QFile::link(QString::fromStdString(nowhere.string()), MediaStore::timingFilePathForVideo(other)));
    ASSERT_TRUE(writeDurationFile(other, 5.0));
    EXPECT_FALSE(fs::exists(nowhere));
    EXPECT_EQ(readDurationFile(other), "00:05");
}
