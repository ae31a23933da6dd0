#include "MediaStore.h"
#include "ZoomAgainSession.h"
#include "ZoomTrack.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Entries = std::vector<std::pair<float, double>>;

Entries entriesOf(const ZoomTrack& track) {
    Entries out;
    for (const media::ZoomEntry& e : track.entries) out.emplace_back(e.zoom, e.atTime);
    return out;
}

void expectEntries(const ZoomTrack& track, const Entries& expected) {
    const Entries got = entriesOf(track);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_FLOAT_EQ(got[i].first, expected[i].first) << i;
        EXPECT_NEAR(got[i].second, expected[i].second, 1e-9) << i;
    }
}

constexpr double kLead = 2.0 / 600.0;  // where the recorder puts the end of a hold

ZoomTrack recordedTrack() {
    return ZoomTrack{{{1.0f, 0.0}, {1.0f, 0.5 - kLead}, {2.0f, 0.5}}, 1};
}

std::string bytesOf(const QString& path) {
    return testsupport::readFile(path.toStdString());
}

QStringList zoomsFolder() {
    return QDir(MediaStore::zoomsArchiveFilePath("x").section('/', 0, -2))
        .entryList(QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace

TEST(ZoomAgain, MovesLandAtTheMovieTimeWithHoldsAndARedoKeepsWhatCameBefore) {
    testsupport::TempHome home;
    double position = 0;  // the player's position: the session's only clock
    ZoomAgainSession session("/x/Out.mov", recordedTrack(), [&] { return position; });
    // Entry 0: time 0, unzoomed, the old track's orientation.
    ASSERT_EQ(session.track().size(), 1);
    EXPECT_EQ(session.track().orient.value_or(-1), 1);
    EXPECT_FALSE(session.hasMoves());

    position = 1.0;
    EXPECT_FLOAT_EQ(session.sliderChanged(0.5f), 2.0f);
    position = 1.05;  // the ball still moving
    session.sliderChanged(0.75f);
    position = 2.0;  // after a rest
    session.sliderChanged(1.0f);
    expectEntries(session.track(),
                  {{1.0f, 0.0}, {1.0f, 1.0 - kLead}, {2.0f, 1.0}, {2.5f, 1.05}, {2.5f, 2.0 - kLead}, {3.0f, 2.0}});
    const media::Time duration = media::Time::fromSeconds(4.0, 600);
    EXPECT_FLOAT_EQ(session.zoomAt(0.5, duration), 1.0f);
    EXPECT_FLOAT_EQ(session.zoomAt(1.5, duration), 2.5f);
    EXPECT_FLOAT_EQ(session.zoomAt(3.9, duration), 3.0f);

    // Back to 1.5 s: a move there replaces what followed and keeps what came before.
    position = 1.5;
    session.sliderChanged(0.0f);
    expectEntries(session.track(),
                  {{1.0f, 0.0}, {1.0f, 1.0 - kLead}, {2.0f, 1.0}, {2.5f, 1.05}, {2.5f, 1.5 - kLead}, {1.0f, 1.5}});
    // Paused there, the slider moved on: the move at the same time takes the last one's place.
    session.sliderChanged(0.25f);
    session.sliderChanged(0.5f);
    expectEntries(session.track(),
                  {{1.0f, 0.0}, {1.0f, 1.0 - kLead}, {2.0f, 1.0}, {2.5f, 1.05}, {2.5f, 1.5 - kLead}, {2.0f, 1.5}});
    EXPECT_FLOAT_EQ(session.zoomAt(3.0, duration), 2.0f);

    // Back at the start: the new factor is entry 0's, orientation kept, nothing after it.
    position = 0;
    session.sliderChanged(0.5f);
    expectEntries(session.track(), {{2.0f, 0.0}});
    EXPECT_EQ(session.track().orient.value_or(-1), 1);
    EXPECT_TRUE(zoomTrackProblem(session.track()).isEmpty());
    // Nothing is written before Keep.
    EXPECT_TRUE(zoomsFolder().isEmpty());
}

TEST(ZoomAgain, KeepStoresTheNewTrackAndUndoPutsTheOldOneBackByteForByte) {
    testsupport::TempHome home;
    const QString current = MediaStore::zoomsArchiveFilePath("Out.mov");
    const QString earlier = MediaStore::earlierZoomsArchiveFilePath("Out.mov");
    ASSERT_TRUE(writeZoomTrackFile(current, recordedTrack()));
    const std::string recorded = bytesOf(current);

    double position = 0;
    {
        // Discarded: the session goes without Keep, and nothing changes.
        ZoomAgainSession discarded("Out.mov", zoomsForVideoFile("Out.mov"), [&] { return position; });
        position = 1;
        discarded.sliderChanged(1.0f);
    }
    EXPECT_EQ(bytesOf(current), recorded);
    EXPECT_FALSE(hasEarlierZoomTrack("Out.mov"));

    ZoomAgainSession session("/any/where/Out.mov", zoomsForVideoFile("Out.mov"), [&] { return position; });
    position = 2;
    session.sliderChanged(0.5f);
    QString error;
    ASSERT_TRUE(session.keep(&error)) << error.toStdString();
    expectEntries(*zoomsForVideoFile("Out.mov"), entriesOf(session.track()));
    EXPECT_EQ(zoomsForVideoFile("Out.mov")->orient.value_or(-1), 1);
    EXPECT_EQ(bytesOf(earlier), recorded);
    // Written through temporaries renamed into place: none is left beside the two tracks.
    EXPECT_EQ(zoomsFolder().size(), 2) << zoomsFolder().join(' ').toStdString();

    ASSERT_TRUE(restoreEarlierZoomTrack("Out.mov", &error)) << error.toStdString();
    EXPECT_EQ(bytesOf(current), recorded);
    EXPECT_FALSE(hasEarlierZoomTrack("Out.mov"));
    EXPECT_FALSE(restoreEarlierZoomTrack("Out.mov", &error));
    EXPECT_NE(error.indexOf("no earlier zoom"), -1) << error.toStdString();
    EXPECT_EQ(bytesOf(current), recorded);
}

TEST(ZoomAgain, AFailedKeepLeavesBothFilesAsTheyWereAndAStaleEarlierZoomIsNoVersion) {
    testsupport::TempHome home;
    const QString current = MediaStore::zoomsArchiveFilePath("Out.mov");
    const QString earlier = MediaStore::earlierZoomsArchiveFilePath("Out.mov");
    ASSERT_TRUE(writeZoomTrackFile(current, recordedTrack()));
    const std::string recorded = bytesOf(current);
    const ZoomTrack first{{{3.0f, 0.0}}, 1};
    ASSERT_TRUE(replaceZoomTrack("Out.mov", first));
    const std::string firstBytes = bytesOf(current);

    // The new track cannot go in (a folder in its place): the earlier version stays what it was.
    QFile::remove(current);
    ASSERT_TRUE(QDir().mkpath(current));
    QString error;
    EXPECT_FALSE(replaceZoomTrack("Out.mov", ZoomTrack{{{2.0f, 0.0}}, 1}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(bytesOf(earlier), recorded);
    ASSERT_TRUE(QDir(current).removeRecursively());
    ASSERT_TRUE(writeZoomTrackFile(current, first));

    // The earlier version cannot be kept: the track is not replaced either.
    QFile::remove(earlier);
    ASSERT_TRUE(QDir().mkpath(earlier));
    EXPECT_FALSE(replaceZoomTrack("Out.mov", ZoomTrack{{{2.0f, 0.0}}, 1}, &error));
    EXPECT_EQ(bytesOf(current), firstBytes);
    ASSERT_TRUE(QDir(earlier).removeRecursively());

    // A movie without a track: the new one goes in with no earlier version, and an earlier
    // version another movie of the name left is dropped rather than offered for an undo.
    testsupport::writeFile(MediaStore::earlierZoomsArchiveFilePath("New.mov").toStdString(), recorded);
    ASSERT_TRUE(replaceZoomTrack("New.mov", first));
    EXPECT_EQ(bytesOf(MediaStore::zoomsArchiveFilePath("New.mov")), firstBytes);
    EXPECT_FALSE(hasEarlierZoomTrack("New.mov"));
}
