#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "media/Asset.h"
#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"
#include "support/MovieWriter.h"
#include "media/Player.h"
#include "support/TestPattern.h"
#include "media/MediaTestSupport.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

using namespace media;

namespace {

// The player's clock, moved only by the test: nothing here depends on how fast the machine is.
struct ManualClock {
    std::shared_ptr<std::atomic<int64_t>> ns = std::make_shared<std::atomic<int64_t>>(1'000'000'000);
    std::function<int64_t()> fn() const {
        auto p = ns;
        return [p] { return p->load(); };
    }
    void advance(double seconds) { *ns += static_cast<int64_t>(std::llround(seconds * 1e9)); }
};

// A sound device the test plays by hand: it heard what the test says, and keeps what it got.
struct FakeAudio : AudioOutput {
    bool device = true;
    std::mutex m;
    std::vector<int16_t> received;  // since the last flush
    int channels = 0, rate = 0;
    std::atomic<int64_t> heard{0};
    int capacity = 4410;  // frames it holds beyond what was heard
    bool open(int sampleRate, int ch) override {
        std::lock_guard lock(m);  // the player opens it on its own thread; the test reads it
        rate = sampleRate;
        channels = ch;
        return device;
    }
    int write(const int16_t* pcm, int frames) override {
        std::lock_guard lock(m);
        const int64_t held = static_cast<int64_t>(received.size()) / channels - heard;
        const int take = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(frames, capacity - held)));
        received.insert(received.end(), pcm, pcm + static_cast<size_t>(take) * channels);
        return take;
    }
    int64_t framesPlayed() override {
        std::lock_guard lock(m);
        return std::min<int64_t>(heard, static_cast<int64_t>(received.size()) / std::max(channels, 1));
    }
    void setPaused(bool) override {}
    void flush() override {
        std::lock_guard lock(m);
        received.clear();
        heard = 0;
    }
    void close() override {}
    int64_t receivedFrames() {
        std::lock_guard lock(m);
        return channels ? static_cast<int64_t>(received.size()) / channels : 0;
    }
};

// Waits for a worker thread to get somewhere; the limit only keeps a broken player from
// hanging the suite.
template <typename F>
bool eventually(F f) {
    for (int i = 0; i < 20000; ++i) {
        if (f()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return f();
}

int codeOf(const PlayerPicture& p, int w = 320, int h = 240) {
    return p.frame ? testpattern::readFrameCode(*p.frame, w, h) : -1;
}

class PlayerTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ManualClock clock;

    std::string pattern(int frames, bool sound = false) {
        auto o = mediatest::patternOptions(frames);
        if (sound) o.writer.audioCodec = AudioCodec::Aac;
        const std::string path = (dir.path() / "pattern.mov").string();
        mediatest::makePatternMovie(path, o);
        return path;
    }
    std::unique_ptr<Player> open(const std::string& path, std::optional<VideoComposition> c = {},
                                 std::shared_ptr<AudioOutput> audio = nullptr) {
        auto asset = Asset::open(path);
        EXPECT_TRUE(asset);
        PlayerItem item = PlayerItem::playerItemWithAsset(asset);
        item.setVideoComposition(std::move(c));
        auto p = std::make_unique<Player>(item, Player::Options{{}, std::move(audio), clock.fn()});
        EXPECT_TRUE(eventually([&] { return p->status() != Player::Status::Unknown; }));
        return p;
    }
    // The movie's pictures as decoded, in order.
    static std::vector<av::Frame> sourcePictures(const std::string& path) {
        std::vector<av::Frame> sources;
        testsupport::forEachPicture(path, [&](const AVFrame& f, testsupport::PictureTime) {
            sources.emplace_back(av_frame_clone(&f));
            return true;
        });
        return sources;
    }
    // Empty when the 320 x 240 yuv420p picture is what a "Good" export renders from `src` through
    // `m`, to the byte; else where it differs first.
    static std::string differsFromGood(const AVFrame& shown, const AVFrame& src, const AffineTransform& m) {
        FrameRenderer good(ResampleFilter::Bilinear, 320, 240);
        av::Frame want = av::makeFrame();
        want->format = AV_PIX_FMT_YUV420P;
        want->width = 320;
        want->height = 240;
        if (av_frame_get_buffer(want.get(), 0) < 0 || !good.render(src, m, *want)) return "no rendering";
        if (shown.width != 320 || shown.height != 240) return "size " + std::to_string(shown.width);
        for (int plane = 0; plane < 3; ++plane) {
            const int w = plane ? 160 : 320, h = plane ? 120 : 240;
            for (int y = 0; y < h; ++y)
                if (std::memcmp(shown.data[plane] + y * shown.linesize[plane],
                                want->data[plane] + y * want->linesize[plane], w) != 0)
                    return "plane " + std::to_string(plane) + " row " + std::to_string(y);
        }
        return {};
    }
    // Lets playback reach `seconds` on the manual clock and waits until the picture due then is out.
    void playTo(Player& p, double seconds, double step = 1.0 / 60) {
        double now = p.currentTime().seconds();
        while (now < seconds - 1e-9) {
            const double d = std::min(step, seconds - now);
            clock.advance(d);
            now += d;
            const int frame = static_cast<int>(std::floor(now * 30 + 1e-6));
            ASSERT_TRUE(eventually([&] {
                return p.rate() == 0 || std::lround(p.pictures().latest().time.seconds() * 30) >= std::min(frame, 59);
            }));
        }
    }
};

TEST_F(PlayerTest, PlaysPausesAndStopsAtTheEnd) {
    auto p = open(pattern(60));
    ASSERT_EQ(p->status(), Player::Status::ReadyToPlay);
    EXPECT_EQ(p->duration(), Time(2, 1));
    EXPECT_EQ(p->rate(), 0);
    EXPECT_EQ(codeOf(p->pictures().latest()), 0) << "the first picture shows before play";
    std::vector<float> rates;
    std::mutex m;
    p->setRateHandler([&](float r) {
        std::lock_guard lock(m);
        rates.push_back(r);
    });

    clock.advance(1);  // paused: time stands still
    EXPECT_EQ(p->currentTime(), Time::zero());

    p->play();
    playTo(*p, 0.5);
    EXPECT_NEAR(p->currentTime().seconds(), 0.5, 1e-6);
    EXPECT_EQ(codeOf(p->pictures().latest()), 15);

    p->pause();
    clock.advance(3);
    EXPECT_NEAR(p->currentTime().seconds(), 0.5, 1e-6);

    p->play();
    playTo(*p, 2.5, 0.1);
    ASSERT_TRUE(eventually([&] { return p->rate() == 0; })) << "the end stops playback";
    EXPECT_EQ(p->currentTime(), Time(2, 1));
    EXPECT_EQ(codeOf(p->pictures().latest()), 59);
    {
        std::lock_guard lock(m);
        EXPECT_EQ(rates, (std::vector<float>{1, 0, 1, 0}));
    }

    // Play at the end starts over.
    p->play();
    ASSERT_TRUE(eventually([&] { return codeOf(p->pictures().latest()) == 0; }));
    EXPECT_LT(p->currentTime().seconds(), 0.1);
}

TEST_F(PlayerTest, SeeksWithinTheTolerance) {
    auto o = mediatest::patternOptions(90);
    o.writer.gopSize = 30;  // keyframes at 0, 1 and 2 s
    const std::string path = (dir.path() / "gop.mov").string();
    mediatest::makePatternMovie(path, o);
    auto p = open(path);

    std::atomic<int> done{0}, superseded{0};
    auto completion = [&](bool finished) { (finished ? done : superseded)++; };

    // Exact: the picture on screen at the time, and exactly that position.
    p->seekToTime(Time(47, 30) + Time(1, 100), Time::zero(), Time::zero(), completion);
    ASSERT_TRUE(eventually([&] { return done == 1; }));
    EXPECT_EQ(p->currentTime(), Time(47, 30) + Time(1, 100));
    EXPECT_EQ(codeOf(p->pictures().latest()), 47);

    // A wide tolerance settles on the keyframe before the target.
    p->seekToTime(Time(3, 2), Time(6, 10), Time(6, 10), completion);
    ASSERT_TRUE(eventually([&] { return done == 2; }));
    EXPECT_EQ(codeOf(p->pictures().latest()), 30);
    EXPECT_NEAR(p->currentTime().seconds(), 1.0, 1e-3);

    // A narrow one: some picture inside [t - before, t + after], and the position with it.
    p->seekToTime(Time::fromSeconds(1.45), Time(1, 20), Time(1, 20), completion);
    ASSERT_TRUE(eventually([&] { return done == 3; }));
    const PlayerPicture pic = p->pictures().latest();
    EXPECT_GE(pic.time.seconds(), 1.4 - 1e-9);
    EXPECT_LE(pic.time.seconds(), 1.5 + 1e-9);
    EXPECT_EQ(codeOf(pic), std::lround(pic.time.seconds() * 30));
    EXPECT_NEAR(p->currentTime().seconds(), 1.45, 0.05 + 1e-6);

    // Beyond the end: the end. A seek overtaken by the next reports false.
    p->seekToTime(Time(10, 1), Time::zero(), Time::zero(), completion);
    p->seekToTime(Time(1, 3), Time::zero(), Time::zero(), completion);
    ASSERT_TRUE(eventually([&] { return done + superseded == 5; }));
    EXPECT_EQ(codeOf(p->pictures().latest()), 10);
    EXPECT_EQ(p->currentTime(), Time(1, 3));
    EXPECT_GE(superseded.load(), 1);
}

TEST_F(PlayerTest, TimeObserverTicksAtItsIntervalAndOnJumps) {
    auto p = open(pattern(60));
    std::mutex m;
    std::vector<double> ticks;
    const int token = p->addPeriodicTimeObserver(Time(1, 4), [&](Time t) {
        std::lock_guard lock(m);
        ticks.push_back(t.seconds());
    });
    p->play();  // a rate change reports the time at once
    playTo(*p, 1.0);
    p->pause();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(m);
        return ticks.size() >= 6;
    }));
    {
        std::lock_guard lock(m);
        ASSERT_EQ(ticks.size(), 6u) << "play, 0.25, 0.5, 0.75, 1.0, pause";
        EXPECT_EQ(ticks[0], 0);
        for (int i = 1; i <= 4; ++i) {
            EXPECT_GE(ticks[i], 0.25 * i - 1e-9);
            EXPECT_LT(ticks[i], 0.25 * i + 1.0 / 60 + 1e-6);
        }
        ticks.clear();
    }
    p->seekToTime(Time(3, 2));
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(m);
        return !ticks.empty();
    }));
    {
        std::lock_guard lock(m);
        EXPECT_EQ(ticks.back(), 1.5) << "a seek reports where it landed";
    }
    p->removeTimeObserver(token);
    p->play();
    playTo(*p, 1.8);
    std::lock_guard lock(m);
    EXPECT_EQ(ticks.size(), 1u) << "a removed observer is not called";
}

// A recording played through its zoom shows exactly what a "Good" export renders before
// encoding: the source picture on screen at t through the composition at t, bilinear.
TEST_F(PlayerTest, ComposedPicturesEqualTheGoodRenderersPictures) {
    const std::string path = pattern(30);
    auto asset = Asset::open(path);
    ASSERT_TRUE(asset);
    const Size size{320, 240};
    const VideoComposition c = mediatest::zoomComposition(size, asset->duration(), 1, 2.5f);
    auto p = open(path, c);

    const std::vector<av::Frame> sources = sourcePictures(path);
    ASSERT_EQ(sources.size(), 30u);
    for (int k : {0, 7, 16, 29}) {
        p->seekToTime(Time(k, 30));
        ASSERT_TRUE(eventually([&] { return p->pictures().latest().time == Time(k, 30); }));
        const PlayerPicture pic = p->pictures().latest();
        ASSERT_TRUE(pic.frame);
        EXPECT_EQ(differsFromGood(*pic.frame, *sources[k], c.transformAt(Time(k, 30))), "") << "frame " << k;
    }
    // The view's picture has the shown proportions, fitted into the box it asked for.
    p->setPictureBox(100, 100);
    ASSERT_TRUE(eventually([&] { return p->pictures().latest().width == 100; }));
    EXPECT_EQ(p->pictures().latest().height, 75);
}

TEST_F(PlayerTest, ANewCompositionRendersThePictureOnScreenAgainAndOnlyOfTheSameGeometry) {
    const std::string path = pattern(30);
    auto asset = Asset::open(path);
    ASSERT_TRUE(asset);
    const Size size{320, 240};
    auto steady = [&](float z) { return mediatest::zoomComposition(size, asset->duration(), z, z); };
    auto p = open(path, steady(1));
    p->seekToTime(Time(12, 30));
    ASSERT_TRUE(eventually([&] { return p->pictures().latest().time == Time(12, 30); }));
    const PlayerPicture before = p->pictures().latest();

    // Paused: the picture on screen is made again through the new zoom, as the export renders it.
    ASSERT_TRUE(p->setVideoComposition(steady(2)));
    ASSERT_TRUE(eventually([&] { return p->pictures().latest().frame != before.frame; }));
    const PlayerPicture after = p->pictures().latest();
    EXPECT_EQ(after.time, Time(12, 30));
    const std::vector<av::Frame> sources = sourcePictures(path);
    ASSERT_EQ(sources.size(), 30u);
    EXPECT_EQ(differsFromGood(*after.frame, *sources[12], steady(2).transformAt(Time(12, 30))), "");

    // Another render size or frame rate would change the pictures' geometry: refused.
    VideoComposition other = steady(3);
    other.renderSize = {160, 120};
    EXPECT_FALSE(p->setVideoComposition(other));
    other = steady(3);
    other.frameDuration = Time(1, 25);
    EXPECT_FALSE(p->setVideoComposition(other));
    EXPECT_FALSE(open(path)->setVideoComposition(steady(2)));
}

TEST_F(PlayerTest, PicturesFollowTheSoundWithinFortyMilliseconds) {
    // Flashes and clicks at the same moments, as a clapperboard.
    const std::string path = (dir.path() / "clap.mov").string();
    MovieWriterSettings s;
    s.audioCodec = AudioCodec::Aac;
    s.sampleRate = 44100;
    s.channels = 1;
    auto w = MovieWriter::create(path, s);
    ASSERT_TRUE(w);
    const std::vector<int> flashes{20, 50};
    av::Frame f = av::makeFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = 320;
    f->height = 240;
    ASSERT_GE(av_frame_get_buffer(f.get(), 0), 0);
    std::vector<int16_t> pcm(44100 * 3, 0);
    for (int flash : flashes)
        for (int i = 0; i < 441; ++i) pcm[flash * 44100 / 30 + i] = (i % 20 < 10) ? 20000 : -20000;
    for (int i = 0; i < 75; ++i) {
        const bool lit = std::find(flashes.begin(), flashes.end(), i) != flashes.end();
        for (int y = 0; y < 240; ++y) std::memset(f->data[0] + y * f->linesize[0], lit ? 235 : 16, 320);
        for (int y = 0; y < 120; ++y) {
            std::memset(f->data[1] + y * f->linesize[1], 128, 160);
            std::memset(f->data[2] + y * f->linesize[2], 128, 160);
        }
        ASSERT_TRUE(w->writeVideoFrame(*f, Time(i, 30)));
    }
    ASSERT_TRUE(w->writeAudioSamples(pcm.data(), 44100 * 5 / 2));
    ASSERT_TRUE(w->finish());

    auto audio = std::make_shared<FakeAudio>();
    auto p = open(path, {}, audio);
    p->play();
    ASSERT_TRUE(eventually([&] { return audio->receivedFrames() > 0; }));
    // The device plays 5 ms at a time; after each step the pictures catch up with it.
    std::vector<int64_t> heardAtFlash;
    bool lit = false;
    for (int64_t heard = 220; heard < 44100 * 2; heard += 220) {
        ASSERT_TRUE(eventually([&] { return audio->receivedFrames() >= heard; }));
        const double before = p->currentTime().seconds();
        audio->heard = heard;
        // Once the player has taken in what was heard, the picture due at its position is out.
        ASSERT_TRUE(eventually([&] { return p->currentTime().seconds() > before; })) << "at " << heard;
        const int frame = static_cast<int>(std::floor(p->currentTime().seconds() * 30 + 1e-9));
        ASSERT_TRUE(eventually([&] { return std::lround(p->pictures().latest().time.seconds() * 30) >= frame; }))
            << "at " << heard;
        const PlayerPicture pic = p->pictures().latest();
        const bool nowLit = pic.frame && pic.frame->data[0][120 * pic.frame->linesize[0] + 160] > 128;
        if (nowLit && !lit) heardAtFlash.push_back(heard);
        lit = nowLit;
    }
    std::vector<int64_t> clicks;
    {
        std::lock_guard lock(audio->m);
        bool loud = false;
        for (size_t i = 0; i < audio->received.size(); ++i) {
            const bool l = std::abs(audio->received[i]) > 8000;
            if (l && !loud && (clicks.empty() || static_cast<int64_t>(i) - clicks.back() > 4410))
                clicks.push_back(static_cast<int64_t>(i));
            loud = l;
        }
    }
    ASSERT_EQ(heardAtFlash.size(), flashes.size());
    ASSERT_GE(clicks.size(), flashes.size());
    for (size_t i = 0; i < flashes.size(); ++i)
        EXPECT_LE(std::abs(heardAtFlash[i] - clicks[i]), 44100 * 40 / 1000)
            << "flash " << i << " seen at " << heardAtFlash[i] << ", click heard at " << clicks[i];
}

TEST_F(PlayerTest, WithoutASoundDevicePlaysSilentOnTheClock) {
    auto audio = std::make_shared<FakeAudio>();
    audio->device = false;
    auto p = open(pattern(60, true), {}, audio);
    p->play();
    playTo(*p, 1.0);
    EXPECT_NEAR(p->currentTime().seconds(), 1.0, 1e-6);
    EXPECT_EQ(codeOf(p->pictures().latest()), 30);
    EXPECT_EQ(audio->receivedFrames(), 0);
}

// What the view gets is the picture as it is meant to be seen: stretched for non-square pixels
// and with the turn the display matrix asks for, fitted into the view's box.
TEST_F(PlayerTest, PicturesHaveTheirShownProportionsAndTurn) {
    auto o = mediatest::patternOptions(10);
    o.writer.pixelAspectWidth = 2;  // 320x240 stored, shown 640x240
    o.writer.pixelAspectHeight = 1;
    const std::string wide = (dir.path() / "wide.mov").string();
    mediatest::makePatternMovie(wide, o);
    auto p = open(wide);
    EXPECT_EQ(p->presentationSize(), (Size{640, 240}));
    p->setPictureBox(320, 320);
    ASSERT_TRUE(eventually([&] { return p->pictures().latest().width == 320; }));
    EXPECT_EQ(p->pictures().latest().height, 120);
    EXPECT_EQ(p->pictures().latest().rotation, 0);

    auto q = mediatest::patternOptions(10);
    q.writer.displayMatrix = AffineTransform{0, 1, -1, 0, 240, 0};  // a portrait recording
    const std::string portrait = (dir.path() / "portrait.mov").string();
    mediatest::makePatternMovie(portrait, q);
    auto r = open(portrait);
    EXPECT_EQ(r->presentationSize(), (Size{240, 320}));
    r->setPictureBox(120, 400);  // a tall box: the stored picture is fitted turned
    ASSERT_TRUE(eventually([&] { return r->pictures().latest().width == 160; }));
    const PlayerPicture pic = r->pictures().latest();
    EXPECT_EQ(pic.height, 120);
    EXPECT_EQ(pic.rotation, 90);
}

TEST_F(PlayerTest, FailuresAreReportedThroughDispatch) {
    // A composition with no render size cannot be played; the report goes through dispatch.
    const std::string path = pattern(10);
    std::vector<std::function<void()>> queued;
    std::mutex m;
    Player::Options o;
    o.dispatch = [&](std::function<void()> fn) {
        std::lock_guard lock(m);
        queued.push_back(std::move(fn));
    };
    PlayerItem item = PlayerItem::playerItemWithAsset(Asset::open(path));
    item.setVideoComposition(VideoComposition{});
    Player p(item, o);
    std::vector<Player::Status> seen;
    p.setStatusHandler([&](Player::Status s) { seen.push_back(s); });
    EXPECT_EQ(p.status(), Player::Status::Failed);
    EXPECT_FALSE(p.error().description.empty());
    EXPECT_TRUE(seen.empty()) << "nothing runs outside dispatch";
    std::vector<std::function<void()>> run;
    {
        std::lock_guard lock(m);
        run.swap(queued);
    }
    for (auto& fn : run) fn();
    EXPECT_EQ(seen, std::vector<Player::Status>{Player::Status::Failed});
    p.play();
    EXPECT_EQ(p.rate(), 0) << "a failed item does not play";
}

}  // namespace
