#include <gtest/gtest.h>

#include <atomic>

extern "C" {
#include <libavutil/frame.h>
}

#include "CaptureTestSupport.h"
#include "media/CapturePresets.h"
#include "media/capture/CaptureSession.h"
#include "media/capture/MovieFileOutput.h"
#include "support/TestSupport.h"

using namespace media;
using capturetest::waitFor;

namespace {

std::shared_ptr<CaptureDeviceInput> virtualCamera() {
    return CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID));
}
std::shared_ptr<CaptureDeviceInput> virtualMicrophone() {
    return CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualMicrophoneID));
}

}  // namespace

TEST(CaptureSession, CanAddRulesAndConnections) {
    CaptureSession session;
    auto cam = virtualCamera();
    auto mic = virtualMicrophone();
    ASSERT_TRUE(cam && mic);
    EXPECT_FALSE(session.canAddInput(nullptr));
    EXPECT_FALSE(CaptureDeviceInput::create(nullptr));

    auto out = std::make_shared<MovieFileOutput>();
    ASSERT_TRUE(session.addOutput(out));
    EXPECT_FALSE(session.canAddOutput(out));                                  // once
    EXPECT_FALSE(session.canAddOutput(std::make_shared<MovieFileOutput>()));  // one movie output
    CaptureSession other;
    EXPECT_FALSE(other.canAddOutput(out));  // and in one session

    ASSERT_TRUE(session.addInput(cam));
    EXPECT_FALSE(session.canAddInput(cam));
    // A second input for the same camera, or a second camera, is refused: one picture source.
    EXPECT_FALSE(session.canAddInput(virtualCamera()));
    ASSERT_TRUE(session.addInput(mic));
    EXPECT_FALSE(session.canAddInput(virtualMicrophone()));

    // Each input port got a connection to the output, of its own media type.
    auto v = out->connectionWithMediaType(MediaType::Video);
    auto a = out->connectionWithMediaType(MediaType::Audio);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->inputPorts().front(), cam->ports().front());
    EXPECT_EQ(a->inputPorts().front(), mic->ports().front());
    EXPECT_TRUE(v->isVideoOrientationSupported());
    EXPECT_FALSE(a->isVideoOrientationSupported());
    EXPECT_EQ(out->connections().size(), 2u);

    session.removeInput(mic);
    EXPECT_FALSE(out->connectionWithMediaType(MediaType::Audio));
    EXPECT_TRUE(session.canAddInput(virtualMicrophone()));
    session.removeOutput(out);
    EXPECT_TRUE(out->connections().empty());
    EXPECT_TRUE(other.canAddOutput(out));

    EXPECT_EQ(session.sessionPreset(), CapturePreset::High);
    EXPECT_EQ(session.videoSize(), (Size{1920, 1080}));
    session.setSessionPreset(CapturePreset::Low);
    EXPECT_EQ(session.videoSize(), (Size{192, 144}));
}

TEST(CaptureSession, RunsAtThePresetSizeAndRestartsOnceForABracketedChange) {
    CaptureSession session;
    session.setSessionPreset(CapturePreset::Low);
    auto cam = virtualCamera();
    ASSERT_TRUE(session.addInput(cam));
    std::mutex m;
    std::vector<Size> reported;
    session.setFormatDescriptionChangeHandler({}, [&](std::shared_ptr<CaptureInputPort> p) {
        std::lock_guard l(m);
        reported.push_back(p->formatDescription().dimensions);
    });
    session.startRunning();
    ASSERT_TRUE(session.isRunning());
    auto port = cam->ports().front();
    FormatDescription f = port->formatDescription();
    EXPECT_EQ(f.dimensions, (Size{192, 144}));
    EXPECT_EQ(f.cleanAperture, (PixelRect{0, 0, 192, 144}));

    ASSERT_TRUE(waitFor([&] { return session.previewSlot().latest().frame != nullptr; }));
    VideoSample first = session.previewSlot().latest();
    EXPECT_EQ(first.frame->width, 192);
    EXPECT_EQ(first.frame->height, 144);

    // Two changes inside one bracket: the inputs restart once, with both applied.
    session.beginConfiguration();
    session.setSessionPreset(CapturePreset::Medium);
    session.setSessionPreset(CapturePreset::Size640x480);
    EXPECT_EQ(port->formatDescription().dimensions, (Size{192, 144}));  // nothing applied yet
    session.commitConfiguration();
    EXPECT_EQ(port->formatDescription().dimensions, (Size{640, 480}));
    {
        std::lock_guard l(m);
        ASSERT_EQ(reported.size(), 2u);
        EXPECT_EQ(reported[1], (Size{640, 480}));
    }
    uint64_t gen = session.previewSlot().generation();
    ASSERT_TRUE(waitFor([&] {
        auto s = session.previewSlot().latest();
        return session.previewSlot().generation() > gen && s.frame && s.frame->width == 640;
    }));

    session.stopRunning();
    EXPECT_FALSE(session.isRunning());
    EXPECT_FALSE(session.previewSlot().latest().frame);
    // A stopped session takes a preset without running anything.
    session.setSessionPreset(CapturePreset::Low);
    EXPECT_FALSE(session.isRunning());
}

TEST(CaptureSession, FileCameraPicturesAreCroppedToThePresetShapeNotStretched) {
    auto movie = testsupport::sharedMedia("rails__video.mp4");
    if (movie.empty()) GTEST_SKIP() << "shared media not present";
    Error err;
    auto dev = CaptureDevice::deviceWithUniqueID("file:" + movie.string(), &err);
    ASSERT_TRUE(dev) << err.description;
    ASSERT_EQ(dev->formats().size(), 1u);
    Size natural = dev->formats().front().size;
    EXPECT_FALSE(natural.empty());

    CaptureSession session;
    session.setSessionPreset(CapturePreset::Size640x480);
    ASSERT_TRUE(session.addInput(CaptureDeviceInput::create(dev)));
    session.startRunning();
    ASSERT_TRUE(session.isRunning());
    ASSERT_TRUE(waitFor([&] { return session.previewSlot().latest().frame != nullptr; }));
    auto s = session.previewSlot().latest();
    EXPECT_EQ(s.frame->width, 640);
    EXPECT_EQ(s.frame->height, 480);
    EXPECT_EQ(s.frame->format, AV_PIX_FMT_YUV420P);
}

TEST(CaptureSession, PreviewSlotSharesPicturesAndCoalescesWakeUps) {
    PreviewSlot slot;
    std::vector<std::function<void()>> posted;
    int woken = 0;
    slot.setNewFrameHandler([&](std::function<void()> f) { posted.push_back(std::move(f)); }, [&] { ++woken; });
    AVFrame* f = av_frame_alloc();
    VideoSample s{shareFrame(f), 1, 1};
    slot.put(s);
    slot.put(s);
    slot.put(s);
    // Three pictures while the UI was busy: one wake-up pending, not three.
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(slot.generation(), 3u);
    // The UI gets the very frame put in: no copy.
    EXPECT_EQ(slot.latest().frame.get(), f);
    posted[0]();
    EXPECT_EQ(woken, 1);
    slot.put(s);
    EXPECT_EQ(posted.size(), 2u);

    // A wake-up still queued when its slot is destroyed does nothing.
    auto gone = std::make_unique<PreviewSlot>();
    gone->setNewFrameHandler([&](std::function<void()> f) { posted.push_back(std::move(f)); }, [&] { ++woken; });
    gone->put(s);
    gone.reset();
    posted.back()();
    EXPECT_EQ(woken, 1);
}

TEST(CaptureSession, PreviewWakeUpDroppedByTheDispatcherDoesNotStopThePreview) {
    PreviewSlot slot;
    std::vector<std::function<void()>> posted;
    bool dropping = true;
    int woken = 0;
    // A dispatcher that drops calls, as a queue that is shutting down or full would.
    slot.setNewFrameHandler(
        [&](std::function<void()> f) {
            if (!dropping) posted.push_back(std::move(f));
        },
        [&] { ++woken; });
    AVFrame* f = av_frame_alloc();
    VideoSample s{shareFrame(f), 1, 1};
    slot.put(s);
    dropping = false;
    slot.put(s);
    ASSERT_EQ(posted.size(), 1u);
    posted[0]();
    EXPECT_EQ(woken, 1);

    // A queued wake-up destroyed unrun frees the turn as well.
    slot.put(s);
    ASSERT_EQ(posted.size(), 2u);
    posted.pop_back();
    // Pictures that arrive while the handler runs get their own wake-up.
    slot.setNewFrameHandler([&](std::function<void()> fn) { posted.push_back(std::move(fn)); },
                            [&] {
                                ++woken;
                                if (woken == 2) slot.put(s);
                            });
    slot.put(s);
    ASSERT_EQ(posted.size(), 2u);
    slot.put(s);  // that wake-up is still pending: nothing new is posted
    ASSERT_EQ(posted.size(), 2u);
    posted[1]();
    EXPECT_EQ(woken, 2);
    ASSERT_EQ(posted.size(), 3u);
}

TEST(CaptureSession, DisplayMatrixTurnsStoredPicturesUpright) {
    Size s{640, 480};
    AffineTransform p = displayMatrixForOrientation(VideoOrientation::Portrait, s);
    EXPECT_EQ(p.a, 0);
    EXPECT_EQ(p.b, 1);
    EXPECT_EQ(p.c, -1);
    EXPECT_EQ(p.d, 0);
    // Every orientation maps the stored picture onto the positive quadrant (nothing off screen).
    for (auto o : {VideoOrientation::Portrait, VideoOrientation::PortraitUpsideDown, VideoOrientation::LandscapeRight,
                   VideoOrientation::LandscapeLeft}) {
        AffineTransform t = displayMatrixForOrientation(o, s);
        for (Point c : {Point{0, 0}, Point{640, 0}, Point{0, 480}, Point{640, 480}}) {
            Point q = t.apply(c);
            EXPECT_GE(q.x, 0) << int(o);
            EXPECT_GE(q.y, 0) << int(o);
        }
    }
    EXPECT_TRUE(displayMatrixForOrientation(VideoOrientation::LandscapeRight, s).isIdentity());
}
