#include <gtest/gtest.h>

#include <cmath>

#include "media/Asset.h"
#include "media/MediaTestSupport.h"
#include "support/TestSupport.h"

using namespace media;
using namespace mediatest;

TEST(Asset, MadeMovieReportsExactDurationSizeTracksAndMatrix) {
    testsupport::TempDir dir;
    const std::string path = dir.str() + "/portrait.mov";
    auto o = patternOptions(31, 320, 240);
    o.writer.audioCodec = AudioCodec::Aac;
    o.writer.displayMatrix = AffineTransform{0, 1, -1, 0, 240, 0};
    makePatternMovie(path, o);

    Error e;
    auto asset = Asset::open(path, &e);
    ASSERT_TRUE(asset) << e.description;
    // 31 frames at 30 fps: 31/30 s exactly, not 1.033 (what the container's milliseconds say).
    EXPECT_EQ(asset->duration(), Time(31, 30)) << asset->duration().toString();
    ASSERT_EQ(asset->tracks().size(), 2u);
    EXPECT_EQ(asset->tracks()[0].mediaType, MediaType::Video);
    EXPECT_EQ(asset->tracks()[1].mediaType, MediaType::Audio);
    auto video = asset->tracksWithMediaType(MediaType::Video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].codecName, "h264");
    EXPECT_EQ(video[0].naturalSize, (Size{320, 240}));
    EXPECT_EQ(video[0].preferredTransform, (AffineTransform{0, 1, -1, 0, 240, 0}));
    EXPECT_NEAR(video[0].nominalFrameRate, 30.0, 0.01);
    EXPECT_FALSE(video[0].samplesMissing);
    EXPECT_EQ(asset->trackWithID(video[0].trackID)->streamIndex, video[0].streamIndex);
    auto audio = asset->tracksWithMediaType(MediaType::Audio);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0].codecName, "aac");
    EXPECT_EQ(audio[0].sampleRate, 44100);

    // Every frame carries its own number, so later tests can tell which frame is shown.
    auto frames = decodeFrames(path, 320, 240);
    ASSERT_EQ(frames.size(), 31u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].code, static_cast<int>(i));
        EXPECT_EQ(frames[i].time, Time(static_cast<int64_t>(i), 30));
    }
}

TEST(Asset, FilesThatAreNotMoviesGiveAnErrorWithAllThreeTexts) {
    testsupport::TempDir dir;
    const std::string text = dir.str() + "/notes.mov";
    testsupport::writeFile(text, "this is not a movie, only words\n");
    for (const std::string& path : {text, dir.str() + "/missing.mov"}) {
        Error e;
        EXPECT_FALSE(Asset::open(path, &e)) << path;
        EXPECT_TRUE(e.isError());
        EXPECT_FALSE(e.description.empty());
        EXPECT_FALSE(e.failureReason.empty());
        EXPECT_FALSE(e.recoverySuggestion.empty());
    }
}

TEST(Asset, RealMoviesDisplayMatricesSizesAndDurations) {
    struct Case {
        const char* file;
        Size size;
        AffineTransform rotation;  // a, b, c, d only
        double seconds;
    };
    const Case cases[] = {
        {"jsonize__iphone_rotated.mov", {568, 320}, {0, 1, -1, 0, 0, 0}, 1321.0 / 600},
        {"streamio__sideways movie.mov", {640, 480}, {0, 1, -1, 0, 0, 0}, 610.0 / 600},
        {"ohos-avcodec__camera_h265_aac_rotate270.mp4", {720, 1280}, {0, -1, 1, 0, 0, 0}, 2.02},
        // Mirrored as well as turned: the determinant is -1.
        {"ohos-avcodec__FLIP_V_90.mp4", {1152, 2560}, {0, -1, -1, 0, 0, 0}, 1.0639},
        // An all-zero matrix counts as none.
        {"mp4parse__no_timescale.mp4", {320, 240}, {1, 0, 0, 1, 0, 0}, 6.0424},
        {"mediabunny__edts.mp4", {854, 480}, {1, 0, 0, 1, 0, 0}, 9.0},
        {"rails__video.mp4", {640, 480}, {1, 0, 0, 1, 0, 0}, 5.1667},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto path = testsupport::sharedMedia(c.file);
        if (path.empty()) GTEST_SKIP() << "shared media not available";
        Error e;
        auto asset = Asset::open(path.string(), &e);
        ASSERT_TRUE(asset) << e.description;
        auto video = asset->tracksWithMediaType(MediaType::Video);
        ASSERT_FALSE(video.empty());
        EXPECT_EQ(video[0].naturalSize, c.size);
        const AffineTransform& t = video[0].preferredTransform;
        EXPECT_EQ((AffineTransform{t.a, t.b, t.c, t.d, 0, 0}), c.rotation);
        EXPECT_NEAR(asset->duration().seconds(), c.seconds, 0.0005);
    }
    // A sound track stored before the picture stays first: tracks come in file order.
    auto path = testsupport::sharedMedia("rails__video.mp4");
    auto asset = Asset::open(path.string());
    ASSERT_TRUE(asset);
    EXPECT_EQ(asset->tracks()[0].mediaType, MediaType::Audio);
    EXPECT_EQ(asset->tracks()[1].mediaType, MediaType::Video);
}

TEST(Asset, CutShortMoviesAreRecognised) {
    for (const char* file : {"mediabunny__annex-b.mp4", "gomp4__sample_qt.mp4", "mp4parse__zero_empty_stsc.mp4"}) {
        SCOPED_TRACE(file);
        auto path = testsupport::sharedMedia(file);
        if (path.empty()) GTEST_SKIP() << "shared media not available";
        auto asset = Asset::open(path.string());
        ASSERT_TRUE(asset);
        auto video = asset->tracksWithMediaType(MediaType::Video);
        ASSERT_FALSE(video.empty());
        EXPECT_TRUE(video[0].samplesMissing);
    }
    auto whole = Asset::open(testsupport::sharedMedia("streamio__sideways movie.mov").string());
    ASSERT_TRUE(whole);
    for (const auto& t : whole->tracks()) EXPECT_FALSE(t.samplesMissing);
}

namespace {

// Rewrites the movie header's time scale in place, as a damaged file would have it.
void damageMovieTimeScale(const std::string& path, uint32_t timescale) {
    std::string bytes = testsupport::readFile(path);
    const size_t at = bytes.find("mvhd");
    ASSERT_NE(at, std::string::npos);
    const size_t field = at + 4 + 4 + (bytes[at + 4] == 1 ? 16 : 8);
    for (int i = 0; i < 4; ++i) bytes[field + i] = static_cast<char>(timescale >> (24 - 8 * i));
    testsupport::writeFile(path, bytes);
}

}  // namespace

TEST(Asset, DurationComesFromTheSamplesWhenTheHeaderClaimsFarMore) {
    testsupport::TempDir dir;
    const std::string path = dir.str() + "/damaged.mov";
    auto o = patternOptions(60);
    o.writer.audioCodec = AudioCodec::Aac;
    makePatternMovie(path, o);
    ASSERT_EQ(Asset::open(path)->duration(), Time(2, 1));
    // The header's 2000 ticks of 1/1000 s become 2000 s; the tracks still hold 2 s of samples.
    damageMovieTimeScale(path, 1);
    auto asset = Asset::open(path);
    ASSERT_TRUE(asset);
    EXPECT_NEAR(asset->duration().seconds(), 2.0, 0.03) << asset->duration().toString();
    EXPECT_FALSE(asset->isIncomplete());

    // A header that is merely a little longer than the samples (edit lists, rounding) is kept.
    auto minimal = testsupport::sharedMedia("mp4parse__minimal.mp4");
    if (minimal.empty()) GTEST_SKIP() << "shared media not available";
    EXPECT_NEAR(Asset::open(minimal.string())->duration().seconds(), 0.062, 0.0005);
}

TEST(Asset, CutShortMovieMadeHereIsIncompleteAndPixelAspectGivesTheShownSize) {
    testsupport::TempDir dir;
    const std::string whole = dir.str() + "/whole.mov", cut = dir.str() + "/cut.mov";
    auto o = patternOptions(30);
    o.writer.pixelAspectWidth = 3;
    o.writer.pixelAspectHeight = 2;
    makePatternMovie(whole, o);
    // With the index moved to the front, cutting the file drops samples the index still lists.
    ASSERT_EQ(testsupport::run("ffmpeg -v error -y -i '" + whole + "' -c copy -movflags +faststart '" + dir.str() +
                               "/fast.mov'"),
              0);
    const std::string fast = testsupport::readFile(dir.str() + "/fast.mov");
    testsupport::writeFile(cut, fast.substr(0, fast.size() * 2 / 3));

    auto w = Asset::open(whole);
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->isIncomplete());
    const AssetTrack v = w->tracksWithMediaType(MediaType::Video).at(0);
    EXPECT_EQ(v.naturalSize, (Size{320, 240}));
    EXPECT_DOUBLE_EQ(v.pixelAspectRatio, 1.5);
    EXPECT_EQ(v.displaySize, (Size{480, 240}));

    auto c = Asset::open(cut);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->isIncomplete());
    EXPECT_EQ(c->duration(), Time(1, 1));  // what the index promised

    auto square = Asset::open(testsupport::sharedMedia("rails__video.mp4").string());
    if (!square) GTEST_SKIP() << "shared media not available";
    const AssetTrack sv = square->tracksWithMediaType(MediaType::Video).at(0);
    EXPECT_EQ(sv.displaySize, sv.naturalSize);
    EXPECT_DOUBLE_EQ(sv.pixelAspectRatio, 1.0);
}

TEST(Asset, LoadAsyncHandsTheResultToTheDispatcher) {
    testsupport::TempDir dir;
    const std::string path = dir.str() + "/a.mov";
    makePatternMovie(path, patternOptions(3));
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::function<void()>> posted;
    auto dispatch = [&](std::function<void()> f) {
        std::lock_guard<std::mutex> lock(m);
        posted.push_back(std::move(f));
        cv.notify_all();
    };
    std::shared_ptr<Asset> got;
    Error gotError;
    int calls = 0;
    Asset::loadAsync(path, dispatch, [&](std::shared_ptr<Asset> a, Error e) {
        got = a;
        gotError = e;
        ++calls;
    });
    Asset::loadAsync(dir.str() + "/missing.mov", dispatch, [&](std::shared_ptr<Asset> a, Error e) {
        EXPECT_FALSE(a);
        EXPECT_TRUE(e.isError());
        ++calls;
    });
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::minutes(1), [&] { return posted.size() == 2; }));
    // Nothing ran on the loader's thread: the completion waits for the dispatcher.
    EXPECT_EQ(calls, 0);
    for (auto& f : posted) f();
    EXPECT_EQ(calls, 2);
    ASSERT_TRUE(got);
    EXPECT_FALSE(gotError.isError());
    EXPECT_EQ(got->duration(), Time(3, 30));
}
