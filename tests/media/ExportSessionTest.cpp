#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <thread>

#include "media/Asset.h"
#include "media/ExportSession.h"
#include "media/MediaTestSupport.h"
#include "support/MovieWriter.h"
#include "media/FFmpeg.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

using namespace media;
using namespace mediatest;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<Asset> openOrFail(const std::string& path) {
    Error e;
    auto a = Asset::open(path, &e);
    EXPECT_TRUE(a) << path << ": " << e.description << " " << e.failureReason;
    return a;
}

// The index of the source picture on screen at t: the latest whose time is at or before t, the
// first one before any starts.
int shownAt(const std::vector<Time>& times, const Time& t) {
    int shown = 0;
    for (size_t i = 0; i < times.size(); ++i)
        if (times[i] <= t) shown = static_cast<int>(i);
    return shown;
}

// Exports `source` through an identity composition and checks that output frame k, at k/30 s,
// shows the source picture on screen at that time.
void expectFramesFollowTheSourceClock(const std::string& source, const std::vector<Time>& sourceTimes,
                                      const std::string& output) {
    auto asset = openOrFail(source);
    ASSERT_TRUE(asset);
    const Time d = asset->duration();
    ExportSession s(asset, ExportPreset::HighestQuality);
    s.setOutputPath(output);
    s.setVideoComposition(plainComposition({320, 240}));
    ASSERT_EQ(runExport(s), ExportSession::Status::Completed) << s.error().failureReason;

    auto frames = decodeFrames(output, 320, 240);
    const size_t expectedCount = static_cast<size_t>(std::ceil(d.seconds() * 30 - 1e-9));
    ASSERT_EQ(frames.size(), expectedCount);
    for (size_t k = 0; k < frames.size(); ++k) {
        const Time t(static_cast<int64_t>(k), 30);
        EXPECT_EQ(frames[k].time, t);
        EXPECT_EQ(frames[k].code, shownAt(sourceTimes, t)) << "output frame " << k;
    }
    auto out = openOrFail(output);
    ASSERT_TRUE(out);
    EXPECT_LE(std::fabs((out->duration() - d).seconds()), 1.0 / 30 + 1e-9);
}

}  // namespace

TEST(ExportComposition, EachFrameShowsTheSourcePictureOnScreenAtItsTime) {
    testsupport::TempDir dir;
    {
        SCOPED_TRACE("24 fps source: pictures repeat at the output's 30 fps");
        auto o = patternOptions(24);
        o.writer.timeBase = Time(1, 24);
        o.writer.frameRate = 24;
        std::vector<Time> times;
        for (int i = 0; i < 24; ++i) times.push_back(Time(i, 24));
        makePatternMovie(dir.str() + "/24.mov", o);
        expectFramesFollowTheSourceClock(dir.str() + "/24.mov", times, dir.str() + "/24-out.mov");
    }
    {
        SCOPED_TRACE("variable frame timing with B-frames (stored out of presentation order)");
        auto o = patternOptions(20);
        o.writer.timeBase = Time(1, 600);
        o.writer.maxBFrames = 2;
        o.writer.gopSize = 12;
        // Gaps of 10 to 50 ticks: some output frames fall between pictures, some repeat one.
        int64_t t = 0;
        for (int i = 0; i < 20; ++i) {
            o.frameTimes.push_back(Time(t, 600));
            t += 10 + (i * 7) % 41;
        }
        makePatternMovie(dir.str() + "/vfr.mov", o);
        auto packets = readPackets(dir.str() + "/vfr.mov", true);
        bool reordered = false;
        for (const auto& p : packets) reordered = reordered || p.pts != p.dts;
        ASSERT_TRUE(reordered) << "the source was meant to carry B-frames";
        expectFramesFollowTheSourceClock(dir.str() + "/vfr.mov", o.frameTimes, dir.str() + "/vfr-out.mov");
    }
    {
        SCOPED_TRACE("edit list: the first pictures come before the movie's start");
        auto o = patternOptions(30);
        std::vector<Time> shown;
        for (int i = 0; i < 30; ++i) o.frameTimes.push_back(Time(i - 6, 30));
        makePatternMovie(dir.str() + "/edit.mov", o);
        auto asset = openOrFail(dir.str() + "/edit.mov");
        ASSERT_TRUE(asset);
        EXPECT_EQ(asset->duration(), Time(24, 30));
        expectFramesFollowTheSourceClock(dir.str() + "/edit.mov", o.frameTimes, dir.str() + "/edit-out.mov");
    }
}

TEST(ExportComposition, ZoomAndPresetScaleAreOneGeometry) {
    testsupport::TempDir dir;
    const std::string src = dir.str() + "/src.mov";
    auto o = patternOptions(12, 640, 480);
    makePatternMovie(src, o);
    auto asset = openOrFail(src);
    ASSERT_TRUE(asset);
    const Size size{640, 480};
    const Time d = asset->duration();
    for (bool layerForm : {false, true}) {
        SCOPED_TRACE(layerForm ? "layer form" : "ramp form");
        const VideoComposition c =
            zoomComposition(size, d, 1, 2.5f, layerForm ? ResampleFilter::HighQuality : ResampleFilter::Bilinear);
        const std::string out = dir.str() + (layerForm ? "/layer.mov" : "/ramp.mov");
        ExportSession s(asset, ExportPreset::MediumQuality);
        s.setOutputPath(out);
        s.setVideoComposition(c);
        ASSERT_EQ(runExport(s), ExportSession::Status::Completed) << s.error().failureReason;

        auto result = openOrFail(out);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->tracksWithMediaType(MediaType::Video)[0].naturalSize, (Size{480, 360}));
        // Through the composition's transform and the 3/4 fit, every block of the frame code
        // lands where it should: a mismatch between the two scales moves it off its block.
        const AffineTransform fit = AffineTransform::makeScale(0.75f, 0.75f);
        auto frames = decodeFrames(out, 640, 480, [&](const Time& t) { return c.transformAt(t).concat(fit); });
        ASSERT_EQ(frames.size(), 12u);
        for (size_t k = 0; k < frames.size(); ++k) EXPECT_EQ(frames[k].code, static_cast<int>(k)) << "frame " << k;
        // Zoomed in: the code's outer blocks have moved away from the centre.
        const Point first = testpattern::codeBlockCentre(640, 480, testpattern::kCodeBits - 1);
        const Point end = c.transformAt(Time(11, 30)).apply(first);
        EXPECT_LT(end.x, first.x - 50);
    }
}

TEST(ExportComposition, BadCompositionsAndEmptySourcesFailCleanly) {
    testsupport::TempDir dir;
    const std::string src = dir.str() + "/src.mov";
    makePatternMovie(src, patternOptions(6));
    auto asset = openOrFail(src);
    ASSERT_TRUE(asset);
    // A render size of zero would make a 0x0 movie.
    VideoComposition empty = zoomComposition({0, 0}, asset->duration(), 1, 2);
    ExportSession s(asset, ExportPreset::HighestQuality);
    s.setOutputPath(dir.str() + "/zero.mov");
    s.setVideoComposition(empty);
    EXPECT_EQ(runExport(s), ExportSession::Status::Failed);
    EXPECT_FALSE(s.error().failureReason.empty());
}

TEST(ExportPlain, FramesKeepTheirTimesAndTheMatrixScaledToThePreset) {
    testsupport::TempDir dir;
    const std::string src = dir.str() + "/src.mov";
    auto o = patternOptions(15, 640, 360);
    o.writer.timeBase = Time(1, 600);
    o.writer.maxBFrames = 2;
    int64_t t = 0;
    for (int i = 0; i < 15; ++i) {
        o.frameTimes.push_back(Time(t, 600));
        t += i % 2 ? 20 : 35;
    }
    o.writer.displayMatrix = AffineTransform{0, 1, -1, 0, 360, 0};
    makePatternMovie(src, o);
    auto asset = openOrFail(src);
    ASSERT_TRUE(asset);

    ExportSession s(asset, ExportPreset::MediumQuality);
    s.setOutputPath(dir.str() + "/out.mov");
    ASSERT_EQ(runExport(s), ExportSession::Status::Completed) << s.error().failureReason;
    auto out = openOrFail(dir.str() + "/out.mov");
    ASSERT_TRUE(out);
    auto v = out->tracksWithMediaType(MediaType::Video).at(0);
    EXPECT_EQ(v.naturalSize, (Size{480, 270}));
    EXPECT_EQ(v.preferredTransform, (AffineTransform{0, 1, -1, 0, 270, 0}));
    EXPECT_LE(std::fabs((out->duration() - asset->duration()).seconds()), 1.0 / 30);
    const AffineTransform fit = AffineTransform::makeScale(0.75f, 0.75f);
    auto frames = decodeFrames(dir.str() + "/out.mov", 640, 360, [&](const Time&) { return fit; });
    ASSERT_EQ(frames.size(), 15u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].time, o.frameTimes[i]);
        EXPECT_EQ(frames[i].code, static_cast<int>(i));
    }
}

// Full-range pictures (phones, JPEG cameras) come out limited range whether the export converts
// them itself (no rendering) or the renderer maps them (a composition): black 16, white 235.
TEST(ExportPlain, FullRangePicturesComeOutLimitedRangeOnEveryPath) {
    testsupport::TempDir dir;
    const std::string src = dir.str() + "/full.mov";
    MovieWriterSettings ws;
    ws.fullRange = true;
    Error e;
    auto writer = MovieWriter::create(src, ws, &e);
    ASSERT_TRUE(writer) << e.description;
    av::Frame pic = av::makeFrame();
    pic->format = AV_PIX_FMT_YUV420P;
    pic->width = ws.width;
    pic->height = ws.height;
    ASSERT_GE(av_frame_get_buffer(pic.get(), 0), 0);
    for (int y = 0; y < ws.height; ++y)
        for (int x = 0; x < ws.width; ++x) pic->data[0][y * pic->linesize[0] + x] = x < ws.width / 2 ? 0 : 255;
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < ws.height / 2; ++y) std::memset(pic->data[p] + y * pic->linesize[p], 128, ws.width / 2);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(writer->writeVideoFrame(*pic, Time(i, 30)));
    ASSERT_TRUE(writer->finish());
    auto asset = openOrFail(src);
    ASSERT_TRUE(asset);

    for (bool composed : {false, true}) {
        SCOPED_TRACE(composed ? "rendered" : "converted");
        ExportSession s(asset, ExportPreset::HighestQuality);
        const std::string out = dir.str() + (composed ? "/rendered.mov" : "/converted.mov");
        s.setOutputPath(out);
        if (composed) s.setVideoComposition(plainComposition({ws.width, ws.height}));
        ASSERT_EQ(runExport(s), ExportSession::Status::Completed) << s.error().failureReason;
        int pictures = 0;
        ASSERT_TRUE(testsupport::forEachPicture(out, [&](const AVFrame& f, testsupport::PictureTime) {
            EXPECT_NE(f.color_range, AVCOL_RANGE_JPEG);
            EXPECT_NE(f.format, AV_PIX_FMT_YUVJ420P);
            EXPECT_NEAR(f.data[0][120 * f.linesize[0] + 60], 16, 2);
            EXPECT_NEAR(f.data[0][120 * f.linesize[0] + 260], 235, 2);
            return ++pictures < 3;
        }));
        EXPECT_EQ(pictures, 3);
    }
}

TEST(ExportAudio, AacIsCopiedAndOtherSoundBecomesAac) {
    testsupport::TempDir dir;
    for (AudioCodec codec : {AudioCodec::Aac, AudioCodec::PcmS16}) {
        const bool aac = codec == AudioCodec::Aac;
        SCOPED_TRACE(aac ? "AAC source" : "PCM source");
        const std::string src = dir.str() + (aac ? "/source-aac.mov" : "/source-pcm.mov");
        auto o = patternOptions(30);
        o.writer.audioCodec = codec;
        o.writer.channels = 2;
        makePatternMovie(src, o);
        auto asset = openOrFail(src);
        ASSERT_TRUE(asset);
        for (bool withComposition : {false, true}) {
            const std::string out = dir.str() + "/" + (aac ? "aac" : "pcm") + (withComposition ? "-c.mov" : ".mov");
            ExportSession s(asset, ExportPreset::HighestQuality);
            s.setOutputPath(out);
            if (withComposition) s.setVideoComposition(zoomComposition({320, 240}, asset->duration(), 1, 2));
            ASSERT_EQ(runExport(s), ExportSession::Status::Completed) << s.error().failureReason;
            auto result = openOrFail(out);
            ASSERT_TRUE(result);
            auto audio = result->tracksWithMediaType(MediaType::Audio);
            ASSERT_EQ(audio.size(), 1u);
            EXPECT_EQ(audio[0].codecName, "aac");
            EXPECT_EQ(audio[0].channelCount, 2);
            auto before = readPackets(src, false), after = readPackets(out, false);
            if (aac) {
                ASSERT_EQ(after.size(), before.size());
                for (size_t i = 0; i < before.size(); ++i) {
                    EXPECT_EQ(after[i].data, before[i].data) << "packet " << i;
                    EXPECT_EQ(after[i].pts, before[i].pts);
                }
            } else {
                // One second of sound, give or take the encoder's last frame.
                const double seconds = audio[0].timeRange.duration.seconds();
                EXPECT_NEAR(seconds, 1.0, 0.05);
            }
        }
    }
}

TEST(ExportPassthrough, PacketsStayBitIdenticalAndTheMatrixIsWritten) {
    testsupport::TempDir dir;
    const std::string src = dir.str() + "/src.mov";
    auto o = patternOptions(20);
    o.writer.maxBFrames = 2;
    o.writer.audioCodec = AudioCodec::Aac;
    makePatternMovie(src, o);
    const std::string before = fileDigest(src);
    auto asset = openOrFail(src);
    ASSERT_TRUE(asset);

    ExportSession s(asset, ExportPreset::Passthrough);
    s.setOutputPath(dir.str() + "/out.mov");
    s.setVideoTrackPreferredTransform(AffineTransform{0, 1, -1, 0, 0, 0});
    ASSERT_EQ(runExport(s), ExportSession::Status::Completed) << s.error().failureReason;
    EXPECT_EQ(s.progress(), 1.0f);
    EXPECT_EQ(fileDigest(src), before);

    for (bool video : {true, false}) {
        auto a = readPackets(src, video), b = readPackets(dir.str() + "/out.mov", video);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].data, b[i].data);
            EXPECT_EQ(a[i].pts, b[i].pts);
            EXPECT_EQ(a[i].dts, b[i].dts);
        }
    }
    auto out = openOrFail(dir.str() + "/out.mov");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->duration(), asset->duration());
    const AffineTransform t = out->tracksWithMediaType(MediaType::Video).at(0).preferredTransform;
    EXPECT_EQ((AffineTransform{t.a, t.b, t.c, t.d, 0, 0}), (AffineTransform{0, 1, -1, 0, 0, 0}));

    // The phone-portrait matrix is what other players know as a -90 degree rotation.
    std::string probe;
    const std::string cmd =
        "ffprobe -v error -select_streams v:0 -show_entries stream_side_data=rotation "
        "-of default=nw=1:nk=1 '" +
        dir.str() + "/out.mov'";
    ASSERT_EQ(testsupport::run(cmd + " 2>/dev/null", &probe), 0) << "ffprobe is needed here";
    EXPECT_EQ(probe.substr(0, 3), "-90") << probe;
}

TEST(ExportPassthrough, RealMoviesKeepEveryPacketAndEditStart) {
    testsupport::TempDir dir;
    for (const char* file : {"mediabunny__edts.mp4", "streamio__awesome'movie.mov", "ohos-avcodec__avcc_aac_mp3.mp4"}) {
        SCOPED_TRACE(file);
        auto path = testsupport::sharedMedia(file);
        if (path.empty()) GTEST_SKIP() << "shared media not available";
        auto asset = openOrFail(path.string());
        ASSERT_TRUE(asset);
        const std::string out = dir.str() + "/" + file + ".mov";
        ExportSession s(asset, ExportPreset::Passthrough);
        s.setOutputPath(out);
        ASSERT_EQ(runExport(s), ExportSession::Status::Completed) << s.error().failureReason;
        auto result = openOrFail(out);
        ASSERT_TRUE(result);
        EXPECT_NEAR(result->duration().seconds(), asset->duration().seconds(), 0.002);
        const auto in = asset->tracksWithMediaType(MediaType::Audio);
        EXPECT_EQ(result->tracksWithMediaType(MediaType::Audio).size(), in.size());
        for (bool video : {true, false})
            for (int n = 0; n < (video ? 1 : static_cast<int>(in.size())); ++n) {
                auto a = readPackets(path.string(), video, n), b = readPackets(out, video, n);
                ASSERT_EQ(a.size(), b.size());
                for (size_t i = 0; i < a.size(); ++i) {
                    ASSERT_EQ(a[i].data, b[i].data) << "packet " << i;
                    ASSERT_EQ(a[i].pts, b[i].pts) << "packet " << i;
                }
            }
    }
}

TEST(ExportStatus, CancelEndsAsCancelledAndCompletionRunsOnce) {
    testsupport::TempDir dir;
    const std::string src = dir.str() + "/long.mov";
    makePatternMovie(src, patternOptions(300));
    auto asset = openOrFail(src);
    ASSERT_TRUE(asset);
    for (const ExportPreset preset : {ExportPreset::HighestQuality, ExportPreset::Passthrough}) {
        SCOPED_TRACE(exportPresetName(preset));
        const std::string out = dir.str() + "/out-" + exportPresetName(preset) + ".mov";
        auto completions = std::make_shared<std::atomic<int>>(0);
        std::atomic<int> statusSeenByCompletion{-1};
        {
            ExportSession s(asset, preset);
            s.setOutputPath(out);
            s.setVideoComposition(zoomComposition({320, 240}, asset->duration(), 1, 3));
            EXPECT_EQ(s.status(), ExportSession::Status::Unknown);
            s.cancelExport();
            s.exportAsynchronously([&, completions] {
                statusSeenByCompletion = static_cast<int>(s.status());
                ++*completions;
            });
            // Already cancelled before it began: it must not run to the end regardless.
        }
        // The destructor waited for the end; the completion saw the final status.
        EXPECT_EQ(completions->load(), 1);
        EXPECT_EQ(statusSeenByCompletion.load(), static_cast<int>(ExportSession::Status::Cancelled));
        fs::remove(out);
    }
    // Cancelled midway: the session stops long before the end.
    ExportSession s(asset, ExportPreset::HighestQuality);
    s.setOutputPath(dir.str() + "/mid.mov");
    s.setVideoComposition(zoomComposition({320, 240}, asset->duration(), 1, 3));
    auto completions = std::make_shared<std::atomic<int>>(0);
    std::thread canceller([&] {
        while (s.progress() < 0.05f && s.status() != ExportSession::Status::Completed &&
               s.status() != ExportSession::Status::Failed)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        s.cancelExport();
    });
    EXPECT_EQ(runExport(s, completions), ExportSession::Status::Cancelled);
    canceller.join();
    EXPECT_LT(s.progress(), 1.0f);
    EXPECT_EQ(completions->load(), 1);
    EXPECT_FALSE(s.error().isError());
}

TEST(ExportStatus, WriteFailuresEndAsFailedNeverCompleted) {
    testsupport::TempDir dir;
    const std::string src = dir.str() + "/src.mov";
    auto o = patternOptions(60);
    o.writer.audioCodec = AudioCodec::Aac;
    makePatternMovie(src, o);
    auto asset = openOrFail(src);
    ASSERT_TRUE(asset);
    const std::string before = fileDigest(src);

    for (const ExportPreset preset : {ExportPreset::HighestQuality, ExportPreset::Passthrough}) {
        SCOPED_TRACE(exportPresetName(preset));
        // No such folder.
        ExportSession s(asset, preset);
        s.setOutputPath(dir.str() + "/missing/out.mov");
        EXPECT_EQ(runExport(s), ExportSession::Status::Failed);
        EXPECT_FALSE(s.error().description.empty());
        EXPECT_FALSE(s.error().recoverySuggestion.empty());

        // An existing file (here: the source itself) is never overwritten.
        ExportSession same(asset, preset);
        same.setOutputPath(src);
        EXPECT_EQ(runExport(same), ExportSession::Status::Failed);
        EXPECT_EQ(fileDigest(src), before);

        // A file size limit: the writes come up short part way, as on a full disk. The limit
        // applies to the whole process, so the export runs in a child.
        const std::string out = dir.str() + "/limited-" + exportPresetName(preset) + ".mov";
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit lim{20000, 20000};
            setrlimit(RLIMIT_FSIZE, &lim);
            ExportSession child(asset, preset);
            child.setOutputPath(out);
            _exit(static_cast<int>(child.exportAndWait()));
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(ExportSession::Status::Failed));
    }
    EXPECT_EQ(fileDigest(src), before);
}

TEST(ExportPresets, SizesAndCompatibility) {
    EXPECT_EQ(exportOutputSize(ExportPreset::HighestQuality, {1920, 1080}), (Size{1920, 1080}));
    EXPECT_EQ(exportOutputSize(ExportPreset::Box960x540, {1920, 1080}), (Size{960, 540}));
    EXPECT_EQ(exportOutputSize(ExportPreset::Box640x480, {1920, 1080}), (Size{640, 360}));
    EXPECT_EQ(exportOutputSize(ExportPreset::MediumQuality, {1920, 1080}), (Size{480, 270}));
    EXPECT_EQ(exportOutputSize(ExportPreset::MediumQuality, {640, 480}), (Size{480, 360}));
    // The box turns with a portrait picture.
    EXPECT_EQ(exportOutputSize(ExportPreset::Box960x540, {1080, 1920}), (Size{540, 960}));
    // Never enlarged; odd sizes come out even.
    EXPECT_EQ(exportOutputSize(ExportPreset::Box960x540, {320, 240}), (Size{320, 240}));
    EXPECT_EQ(exportOutputSize(ExportPreset::MediumQuality, {854, 480}), (Size{480, 270}));
    EXPECT_EQ(exportOutputSize(ExportPreset::Box640x480, {1000, 999}), (Size{480, 480}));
    EXPECT_EQ(exportOutputSize(ExportPreset::HighestQuality, {268, 155}), (Size{268, 156}));
    EXPECT_EQ(exportOutputSize(ExportPreset::HighestQuality, {0, 0}), (Size{}));

    testsupport::TempDir dir;
    using V = std::vector<ExportPreset>;
    struct Case {
        int w, h;
        V expected;
    };
    const Case cases[] = {
        {1280,
         720,
         {ExportPreset::HighestQuality, ExportPreset::Box960x540, ExportPreset::Box640x480, ExportPreset::MediumQuality,
          ExportPreset::Passthrough}},
        {720,
         1280,
         {ExportPreset::HighestQuality, ExportPreset::Box960x540, ExportPreset::Box640x480, ExportPreset::MediumQuality,
          ExportPreset::Passthrough}},
        {640,
         480,
         {ExportPreset::HighestQuality, ExportPreset::Box640x480, ExportPreset::MediumQuality,
          ExportPreset::Passthrough}},
        {320, 240, {ExportPreset::HighestQuality, ExportPreset::MediumQuality, ExportPreset::Passthrough}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.str() + "/" + std::to_string(c.w) + ".mov";
        makePatternMovie(path, patternOptions(1, c.w, c.h));
        auto a = openOrFail(path);
        ASSERT_TRUE(a);
        EXPECT_EQ(ExportSession::exportPresetsCompatibleWithAsset(*a), c.expected) << c.w << "x" << c.h;
    }
    auto sound = testsupport::sharedMedia("rails__video_without_video_stream.mp4");
    if (!sound.empty()) {
        auto a = openOrFail(sound.string());
        ASSERT_TRUE(a);
        EXPECT_EQ(ExportSession::exportPresetsCompatibleWithAsset(*a),
                  (V{ExportPreset::HighestQuality, ExportPreset::MediumQuality, ExportPreset::Passthrough}));
    }
}
