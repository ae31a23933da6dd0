#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <numeric>

extern "C" {
#include <libavutil/frame.h>
}

#include "media/CapturePresets.h"
#include "media/capture/AvDevice.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/DeviceBackends.h"
#include "media/capture/DeviceMonitor.h"
#include "media/capture/VirtualDevices.h"
#include "support/TestSupport.h"

using namespace media;

namespace {

double meanLuma(const AVFrame* f) {
    uint64_t sum = 0;
    for (int y = 0; y < f->height; ++y)
        for (int x = 0; x < f->width; ++x) sum += f->data[0][y * f->linesize[0] + x];
    return double(sum) / (f->width * f->height);
}

// How many luma samples differ between two pictures inside a box.
int differingPixels(const AVFrame* a, const AVFrame* b, int x0, int y0, int w, int h) {
    int n = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) n += a->data[0][y * a->linesize[0] + x] != b->data[0][y * b->linesize[0] + x];
    return n;
}

}  // namespace

TEST(CaptureDevices, VirtualDevicesComeLastAndAreNeverTheDefaults) {
    auto all = CaptureDevice::devices();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2]->uniqueID(), CaptureDevice::kVirtualCameraID);
    EXPECT_EQ(all.back()->uniqueID(), CaptureDevice::kVirtualMicrophoneID);
    // Listing again hands back the same objects, so state set on a device is kept.
    auto again = CaptureDevice::devices();
    EXPECT_EQ(all.back().get(), again.back().get());

    // The test picture and tone stand in for nothing: a machine without hardware has no default.
    auto cams = CaptureDevice::devices(MediaType::Video);
    for (auto& d : cams) EXPECT_EQ(d->mediaType(), MediaType::Video);
    auto cam = CaptureDevice::defaultDevice(MediaType::Video);
    EXPECT_EQ(bool(cam), cams.size() > 1);
    if (cam) {
        EXPECT_FALSE(cam->isVirtual());
    }
    auto mic = CaptureDevice::defaultDevice(MediaType::Audio);
    if (mic) {
        EXPECT_FALSE(mic->isVirtual());
    }
    EXPECT_EQ(all[all.size() - 2]->localizedName(), "Test Picture");
    EXPECT_EQ(all.back()->localizedName(), "Test Tone");

    Error err;
    EXPECT_FALSE(CaptureDevice::deviceWithUniqueID("/dev/video-none", &err));
    EXPECT_EQ(err.code, ENODEV);
    EXPECT_EQ(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID).get(), all[all.size() - 2].get());
}

TEST(CaptureDevices, FileCameraRefusesFilesWithoutPictures) {
    testsupport::TempDir dir;
    Error err;
    EXPECT_FALSE(CaptureDevice::deviceWithUniqueID("file:" + dir.str() + "/missing.mov", &err));
    EXPECT_TRUE(err.isError());
    auto text = dir.path() / "notes.mov";
    testsupport::writeFile(text, "this is not a movie");
    err = {};
    EXPECT_FALSE(CaptureDevice::deviceWithUniqueID("file:" + text.string(), &err));
    EXPECT_TRUE(err.isError());
    auto soundOnly = testsupport::sharedMedia("rails__video_without_video_stream.mp4");
    if (!soundOnly.empty()) {
        err = {};
        EXPECT_FALSE(CaptureDevice::deviceWithUniqueID("file:" + soundOnly.string(), &err));
        EXPECT_TRUE(err.isError());
    }
}

TEST(CaptureDevices, PresetSizesFollowWhatTheCameraOffers) {
    auto fmt = [](std::initializer_list<Size> sizes) {
        std::vector<VideoFormat> v;
        for (Size s : sizes) v.push_back({"yuyv422", s, {30}});
        return v;
    };
    // High: the largest 16:9 size up to 1920x1080 ...
    EXPECT_EQ(sizeForPreset(CapturePreset::High, fmt({{3840, 2160}, {1920, 1080}, {1280, 720}})), (Size{1920, 1080}));
    EXPECT_EQ(sizeForPreset(CapturePreset::High, fmt({{640, 480}, {960, 540}, {1280, 960}})), (Size{960, 540}));
    // ... else simply the largest that fits (a 4:3 camera).
    EXPECT_EQ(sizeForPreset(CapturePreset::High, fmt({{640, 480}, {1600, 1200}, {800, 600}})), (Size{800, 600}));
    // A webcam: raw YUYV only slow at 1080p, MJPEG at 30 fps: 1080p at 30 fps, whichever format.
    std::vector<VideoFormat> webcam{{"yuyv422", {1920, 1080}, {5}},
                                    {"yuyv422", {640, 480}, {30}},
                                    {"mjpeg", {1920, 1080}, {30, 15}},
                                    {"mjpeg", {1280, 720}, {60, 30}}};
    EXPECT_EQ(modeForPreset(CapturePreset::High, webcam).size, (Size{1920, 1080}));
    EXPECT_EQ(modeForPreset(CapturePreset::High, webcam).frameRate, 30);
    // Without MJPEG a 1080p that only crawls gives way to a size that flows.
    webcam.erase(webcam.begin() + 2, webcam.end());
    EXPECT_EQ(modeForPreset(CapturePreset::High, webcam).size, (Size{640, 480}));
    // The fixed presets are their own size whatever the camera has: pictures get scaled.
    EXPECT_EQ(sizeForPreset(CapturePreset::Size640x480, fmt({{1280, 720}})), (Size{640, 480}));
    EXPECT_EQ(sizeForPreset(CapturePreset::Medium, fmt({{1280, 720}})), (Size{480, 360}));
    EXPECT_EQ(sizeForPreset(CapturePreset::Low, fmt({{1280, 720}})), (Size{192, 144}));
}

TEST(CaptureDevices, TheTestPictureOffersAWebcamsModesAndDeliversItsLargeOnesThroughJpeg) {
    auto cam = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID);
    ASSERT_TRUE(cam);
    const CaptureMode high = modeForPreset(CapturePreset::High, cam->formats());
    EXPECT_EQ(high.size, (Size{1920, 1080}));
    for (const auto& f : cam->formats())
        if (f.pixelFormat != "mjpeg") {
            EXPECT_LE(int64_t(f.size.width) * f.size.height, 640 * 480);
        }
    Error err;
    auto src = cam->openVideo(high.size, high.frameRate, &err);
    ASSERT_TRUE(src) << err.description;
    VideoSample s;
    ASSERT_TRUE(src->read(s, &err));
    // A decoded JPEG, as a UVC camera's MJPEG mode gives it: 4:2:2 in full range.
    EXPECT_EQ(s.frame->format, AV_PIX_FMT_YUVJ422P);
    EXPECT_EQ(s.frame->width, 1920);
    EXPECT_EQ(s.frame->height, 1080);
    auto small = cam->openVideo({640, 480}, 30, &err);
    ASSERT_TRUE(small && small->read(s, &err));
    EXPECT_EQ(s.frame->format, AV_PIX_FMT_YUV420P);
}

TEST(CaptureDevices, VirtualCameraPicturesMoveKeepTimeAndBrightenWithTheTorch) {
    auto cam = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID);
    ASSERT_TRUE(cam);
    Error err;
    auto src = cam->openVideo({320, 240}, 30, &err);
    ASSERT_TRUE(src) << err.description;
    EXPECT_EQ(src->size(), (Size{320, 240}));

    std::vector<VideoSample> s(3);
    for (auto& x : s) ASSERT_TRUE(src->read(x, &err));
    // Stamped on the 30 fps grid of the monotonic clock; a reader held up by the machine gets the
    // current picture and a sequence that says how many it missed.
    for (int i = 1; i < 3; ++i) {
        int64_t steps = s[size_t(i)].sequence - s[size_t(i) - 1].sequence;
        EXPECT_GE(steps, 1);
        EXPECT_NEAR(double(s[size_t(i)].timeNs - s[size_t(i) - 1].timeNs), steps * 1e9 / 30, 1e5);
    }
    EXPECT_LE(s[2].timeNs, monotonicNowNs());
    const AVFrame* a = s[0].frame.get();
    const AVFrame* b = s[1].frame.get();
    ASSERT_EQ(a->width, 320);
    // Consecutive pictures differ (the motion and the clock's frame digits) ...
    EXPECT_GT(differingPixels(a, b, 0, 0, 320, 240), 100);
    // ... while the centre mark stays put: white at the very centre, in both.
    EXPECT_GT(a->data[0][120 * a->linesize[0] + 160], 200);
    EXPECT_GT(b->data[0][120 * b->linesize[0] + 160], 200);

    // The clock: a picture one second on shows other seconds digits than frame 0 did.
    TestPattern pattern({320, 240});
    AVFrame* f0 = pattern.render(0, 30, false);
    AVFrame* f1 = pattern.render(30, 30, false);
    AVFrame* f1b = pattern.render(30, 30, false);
    int scale = 2;
    int clockW = 11 * 6 * scale, clockH = 7 * scale;
    EXPECT_GT(differingPixels(f0, f1, 8, 8, clockW, clockH), 10);
    EXPECT_EQ(differingPixels(f1, f1b, 0, 0, 320, 240), 0);  // the same instant draws the same picture

    // The torch needs the configuration lock, then lights the picture up.
    EXPECT_TRUE(cam->hasTorch());
    EXPECT_FALSE(cam->setTorchMode(TorchMode::On));  // not locked
    ASSERT_TRUE(cam->lockForConfiguration(&err)) << err.description;
    EXPECT_FALSE(cam->isTorchModeSupported(TorchMode::Auto));
    EXPECT_FALSE(cam->setTorchMode(TorchMode::Auto));
    EXPECT_TRUE(cam->setTorchMode(TorchMode::On));
    VideoSample lit;
    ASSERT_TRUE(src->read(lit, &err));
    EXPECT_GT(meanLuma(lit.frame.get()), meanLuma(a) + 30);
    EXPECT_TRUE(cam->setTorchMode(TorchMode::Off));
    cam->unlockForConfiguration();
    av_frame_free(&f0);
    av_frame_free(&f1);
    av_frame_free(&f1b);
}

TEST(CaptureDevices, ConfigurationLockIsExclusiveBetweenProgramsAndGuardsEveryControl) {
    auto cam = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID);
    ASSERT_TRUE(cam);
    // Another program holds the lock: a separate open file description stands in for it.
    int other = ::open(cam->configurationLockPath().c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    Error err;
    EXPECT_FALSE(cam->lockForConfiguration(&err));
    EXPECT_EQ(err.code, EBUSY);
    EXPECT_FALSE(err.description.empty());
    EXPECT_FALSE(cam->isLockedForConfiguration());
    EXPECT_FALSE(cam->setFocusPointOfInterest({0.2, 0.3}));
    ::flock(other, LOCK_UN);
    ::close(other);

    // Nested locking within the program; the last unlock releases it for others.
    ASSERT_TRUE(cam->lockForConfiguration(&err));
    ASSERT_TRUE(cam->lockForConfiguration(&err));
    cam->unlockForConfiguration();
    EXPECT_TRUE(cam->isLockedForConfiguration());
    EXPECT_TRUE(cam->setFocusPointOfInterest({0.2, 0.3}));
    EXPECT_TRUE(cam->setFocusMode(FocusMode::AutoFocus));
    EXPECT_TRUE(cam->setExposurePointOfInterest({0.7, 0.1}));
    EXPECT_TRUE(cam->setExposureMode(ExposureMode::ContinuousAutoExposure));
    EXPECT_FALSE(cam->setExposureMode(ExposureMode::AutoExpose));  // not offered
    EXPECT_FALSE(cam->setFocusPointOfInterest({1.5, 0.5}));        // outside the picture
    cam->unlockForConfiguration();
    EXPECT_EQ(cam->focusMode(), FocusMode::AutoFocus);
    EXPECT_DOUBLE_EQ(cam->focusPointOfInterest().x, 0.2);
    EXPECT_DOUBLE_EQ(cam->exposurePointOfInterest().y, 0.1);
    int probe = ::open(cam->configurationLockPath().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0);
    ::close(probe);

    // A microphone has no camera controls at all.
    auto mic = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualMicrophoneID);
    ASSERT_TRUE(mic->lockForConfiguration(&err));
    EXPECT_FALSE(mic->hasTorch());
    EXPECT_FALSE(mic->setTorchMode(TorchMode::On));
    EXPECT_FALSE(mic->setFocusMode(FocusMode::Locked));
    mic->unlockForConfiguration();
}

TEST(CaptureDevices, VirtualMicrophonePlaysAToneWithAClickOnEverySecond) {
    const int rate = 48000;
    std::vector<int16_t> s(size_t(rate) * 2);
    VirtualMicrophoneTone::fill(s.data(), int(s.size()), 0, rate);
    // Filling in pieces gives the same signal: the tone runs on across chunks.
    std::vector<int16_t> pieces(s.size());
    for (int at = 0; at < int(s.size()); at += 960) VirtualMicrophoneTone::fill(pieces.data() + at, 960, at, rate);
    EXPECT_EQ(s, pieces);

    auto peak = [&](int from, int to) {
        int p = 0;
        for (int i = from; i < to; ++i) p = std::max(p, std::abs(int(s[size_t(i)])));
        return p;
    };
    // Loud clicks right at 0 s and 1 s, the quieter tone in between.
    EXPECT_GT(peak(0, 100), 25000);
    EXPECT_GT(peak(rate, rate + 100), 25000);
    EXPECT_LT(peak(rate / 4, rate / 2), 9000);
    EXPECT_GT(peak(rate / 4, rate / 2), 7000);
    // 440 Hz: 880 zero crossings a second, away from the clicks.
    int crossings = 0;
    for (int i = rate / 10; i < rate / 10 + rate / 2; ++i) crossings += (s[size_t(i)] < 0) != (s[size_t(i) + 1] < 0);
    EXPECT_NEAR(crossings, 440, 3);

    auto mic = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualMicrophoneID);
    Error err;
    auto src = mic->openAudio(&err);
    ASSERT_TRUE(src);
    AudioSample a, b;
    ASSERT_TRUE(src->read(a, &err));
    ASSERT_TRUE(src->read(b, &err));
    EXPECT_EQ(a.sampleRate, rate);
    EXPECT_EQ(a.channels, 1);
    // Chunks follow each other without gap on the clock.
    EXPECT_EQ(b.timeNs - a.timeNs, int64_t(a.frames()) * 1000000000LL / rate);
}

TEST(CaptureDevices, MonitorReportsOnlyChangesAndNothingAfterItIsGone) {
    // Real devices (the test picture and tone) coming and going from a list of the test's own;
    // a real camera plugged in through PipeWire is the PipeWire tests' business.
    const auto camera = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID);
    const auto microphone = CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualMicrophoneID);
    ASSERT_TRUE(camera && microphone);
    std::vector<std::string> events;
    std::vector<std::function<void()>> posted;
    std::mutex m;
    DeviceMonitor::DeviceList present{camera};
    auto deliver = [&] {
        std::vector<std::function<void()>> now;
        {
            std::lock_guard l(m);
            now.swap(posted);
        }
        for (auto& f : now) f();
    };
    {
        DeviceMonitor monitor(
            [&](std::function<void()> f) {
                std::lock_guard l(m);
                posted.push_back(std::move(f));
            },
            [&](std::shared_ptr<CaptureDevice> d) { events.push_back("+" + d->uniqueID()); },
            [&](std::shared_ptr<CaptureDevice> d) { events.push_back("-" + d->uniqueID()); }, {},
            [&] {
                std::lock_guard l(m);
                return present;
            });
        // The devices present at the start are the baseline, and looking again changes nothing.
        monitor.rescan();
        deliver();
        EXPECT_TRUE(events.empty());
        {
            std::lock_guard l(m);
            present = {camera, microphone};
        }
        monitor.rescan();
        deliver();
        EXPECT_EQ(events, std::vector<std::string>{"+" + microphone->uniqueID()});
        {
            std::lock_guard l(m);
            present = {microphone};
        }
        monitor.rescan();
    }
    // Reports still queued when the monitor went are dropped, never delivered to a gone owner.
    events.clear();
    deliver();
    EXPECT_TRUE(events.empty());
}

// libavdevice is opened when capture first needs it rather than linked (its eighty-odd libraries
// held up the window's start); once open, its inputs are found through libavformat as before.
TEST(CaptureDevices, DeviceInputsComeFromTheLibraryOpenedOnDemand) {
    ASSERT_NE(backends::avDevice(), nullptr) << backends::avDeviceProblem();
    EXPECT_EQ(backends::avDevice(), backends::avDevice());
    EXPECT_NE(av_find_input_format("video4linux2"), nullptr);
    EXPECT_NE(av_find_input_format("alsa"), nullptr);
}

TEST(CaptureDevices, ACameraPipeWireCarriesIsListedOnceThroughPipeWire) {
    // A by-id style link to the node, as udev makes: the same camera under another file name.
    testsupport::TempDir dir;
    const auto node = dir.path() / "video0";
    testsupport::writeFile(node, "");
    std::filesystem::create_symlink(node, dir.path() / "usb-Maker_Cam-video-index0");
    const std::vector<backends::Found> v4l2{
        {"/dev/v4l/by-id/usb-Maker_Cam", "Cam", (dir.path() / "usb-Maker_Cam-video-index0").string()},
        {"v4l2:platform:other", "Other", (dir.path() / "video2").string()}};
    const std::vector<backends::Found> pipeWire{{"pipewire:v4l2_input.usb", "Cam (V4L2)", node.string()},
                                                {"pipewire:libcamera_input.front", "Front", ""}};
    const auto merged = backends::mergeCameras(v4l2, pipeWire);
    std::vector<std::string> ids;
    for (auto& f : merged) ids.push_back(f.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"pipewire:v4l2_input.usb", "pipewire:libcamera_input.front",
                                             "v4l2:platform:other"}));
    // Without PipeWire, V4L2's list as it is.
    EXPECT_EQ(backends::mergeCameras(v4l2, {}).size(), 2u);
}
