// Frame renderer benchmark: speed against libswscale in the same run, and smoothness of a slow
// zoom (how steadily a still dot moves) against an integer-crop-then-scale approach.
//
//   render_bench [--frames N]
//
// Prints one "name: value" line per measurement; ratios are ours / reference (lower is better).

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"
#include "media/VideoComposition.h"

using namespace media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kW = 1280, kH = 720;

av::Frame allocFrame(int w, int h) {
    av::Frame f = av::makeFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    if (av_frame_get_buffer(f.get(), 0) < 0) {
        std::fprintf(stderr, "out of memory\n");
        std::exit(1);
    }
    return f;
}

// A textured picture, so that nothing can take shortcuts on flat areas.
av::Frame texturedPicture() {
    av::Frame f = allocFrame(kW, kH);
    for (int p = 0; p < 3; ++p) {
        int w = p ? kW / 2 : kW, h = p ? kH / 2 : kH;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                f->data[p][y * f->linesize[p] + x] = static_cast<uint8_t>(
                    128 + 60 * std::sin(x * 0.07 + p) * std::cos(y * 0.05) + ((x * 7 + y * 13) % 17));
    }
    return f;
}

// The zoom transform of the ramp form: a magnification about the centre, preceded by the tiny
// rotation that form always carries.
AffineTransform zoomTransform(double z, bool withRotation) {
    float zf = static_cast<float>(z);
    float theta = withRotation ? -9.9999997e-06f : 0.0f;
    float k = -1.0f / zf + 1.0f;
    AffineTransform t = AffineTransform::makeScale(zf, zf).translated((-kW * k) * 0.5f, (-kH * k) * 0.5f);
    return withRotation ? t.rotated(theta) : t;
}

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// CPU time of the calling thread: on a shared machine, time the thread spent waiting for a core
// would otherwise count against whichever side happened to be running.
double threadMs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Renders with two renderers over two threads, one band each, the way an exporter would.
class BandedPair {
public:
    explicit BandedPair(ResampleFilter f) : a_(f, kW, kH), b_(f, kW, kH), sync_(2), worker_([this] { loop(); }) {}
    ~BandedPair() {
        stop_ = true;
        sync_.arrive_and_wait();
        worker_.join();
    }
    void render(const AVFrame& src, const AffineTransform& t, AVFrame& out) {
        src_ = &src;
        t_ = t;
        out_ = &out;
        int mid = FrameRenderer::bandStart(1, 2, kH);
        sync_.arrive_and_wait();
        double c0 = threadMs();
        a_.renderRows(src, t, out, 0, mid);
        double mine = threadMs() - c0;
        sync_.arrive_and_wait();
        criticalMs_ += std::max(mine, workerMs_);
    }
    // Sum over frames of the slower band's CPU time: the wall time two free cores would take.
    double takeCriticalMs() {
        double v = criticalMs_;
        criticalMs_ = 0;
        return v;
    }

private:
    void loop() {
        for (;;) {
            sync_.arrive_and_wait();
            if (stop_) return;
            double c0 = threadMs();
            b_.renderRows(*src_, t_, *out_, FrameRenderer::bandStart(1, 2, kH), kH);
            workerMs_ = threadMs() - c0;
            sync_.arrive_and_wait();
        }
    }
    FrameRenderer a_, b_;
    std::barrier<> sync_;
    const AVFrame* src_ = nullptr;
    AffineTransform t_;
    AVFrame* out_ = nullptr;
    bool stop_ = false;
    double workerMs_ = 0, criticalMs_ = 0;
    std::thread worker_;
};

// The usual way to zoom without sub-pixel geometry: crop whole pixels, scale the crop.
class IntegerCropScaler {
public:
    explicit IntegerCropScaler(int swsFlags) : flags_(swsFlags) {}
    void render(const AVFrame& src, double z, AVFrame& out) {
        int cw = std::max(2, static_cast<int>(std::lround(kW / z)));
        int ch = std::max(2, static_cast<int>(std::lround(kH / z)));
        int x = static_cast<int>(std::lround((kW - cw) / 2.0)) & ~1;
        int y = static_cast<int>(std::lround((kH - ch) / 2.0)) & ~1;
        sws_ = sws_getCachedContext(sws_, cw, ch, AV_PIX_FMT_YUV420P, kW, kH, AV_PIX_FMT_YUV420P, flags_, nullptr,
                                    nullptr, nullptr);
        const uint8_t* planes[3] = {src.data[0] + y * src.linesize[0] + x,
                                    src.data[1] + y / 2 * src.linesize[1] + x / 2,
                                    src.data[2] + y / 2 * src.linesize[2] + x / 2};
        sws_scale(sws_, planes, src.linesize, 0, ch, out.data, out.linesize);
    }
    ~IntegerCropScaler() { sws_freeContext(sws_); }

private:
    int flags_;
    SwsContext* sws_ = nullptr;
};

struct SpeedResult {
    double single = 0, banded = 0, bandedCritical = 0, reference = 0, still = 0;
};

// Per-frame time over a 1.0 -> 2.0 ramp (the transform changes every frame, as in an export).
SpeedResult measureSpeed(ResampleFilter filter, int swsFlags, int frames, const AVFrame& src) {
    av::Frame out = allocFrame(kW, kH);
    FrameRenderer single(filter, kW, kH);
    BandedPair banded(filter);
    IntegerCropScaler reference(swsFlags);
    bool rotation = filter == ResampleFilter::Bilinear;
    std::vector<double> s, b, bc, r, still;
    for (int rep = 0; rep < 5; ++rep) {
        double c0 = threadMs();
        for (int i = 0; i < frames; ++i) single.render(src, zoomTransform(1.0 + double(i) / frames, rotation), *out);
        s.push_back((threadMs() - c0) / frames);
        auto t0 = Clock::now();
        for (int i = 0; i < frames; ++i) banded.render(src, zoomTransform(1.0 + double(i) / frames, rotation), *out);
        b.push_back(msSince(t0) / frames);
        bc.push_back(banded.takeCriticalMs() / frames);
        c0 = threadMs();
        for (int i = 0; i < frames; ++i) reference.render(src, 1.0 + double(i) / frames, *out);
        r.push_back((threadMs() - c0) / frames);
        AffineTransform fixed = zoomTransform(1.37, rotation);
        c0 = threadMs();
        for (int i = 0; i < frames; ++i) single.render(src, fixed, *out);
        still.push_back((threadMs() - c0) / frames);
    }
    return {median(s), median(b), median(bc), median(r), median(still)};
}

// ---------------------------------------------------------------------------------------------
// Smoothness.

constexpr double kDotX = 905.3, kDotY = 231.7, kSigma = 1.5;
constexpr int kBackground = 30, kPeak = 200;

av::Frame dotPicture() {
    av::Frame f = allocFrame(kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            double dx = x + 0.5 - kDotX, dy = y + 0.5 - kDotY;
            double v = kBackground + (kPeak - kBackground) * std::exp(-(dx * dx + dy * dy) / (2 * kSigma * kSigma));
            f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(std::lround(v));
        }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < kH / 2; ++y) std::memset(f->data[p] + y * f->linesize[p], 128, kW / 2);
    return f;
}

// Intensity centroid of the dot above the background, in a window around where it should be.
bool centroid(const AVFrame& f, double nearX, double nearY, double& cx, double& cy) {
    constexpr int r = 14;
    int x0 = static_cast<int>(nearX) - r, y0 = static_cast<int>(nearY) - r;
    double sum = 0, sx = 0, sy = 0;
    for (int y = std::max(0, y0); y < std::min(kH, y0 + 2 * r + 1); ++y)
        for (int x = std::max(0, x0); x < std::min(kW, x0 + 2 * r + 1); ++x) {
            double w = f.data[0][y * f.linesize[0] + x] - kBackground;
            sum += w;
            sx += w * (x + 0.5);
            sy += w * (y + 0.5);
        }
    if (sum <= 0) return false;
    cx = sx / sum;
    cy = sy / sum;
    return true;
}

struct Smoothness {
    double rmsMotion = 0, maxPosition = 0;
};

// `renderAt(z, out)` renders the frame for zoom z; `expectAt(z)` is where the dot should be.
Smoothness measureSmoothness(int frames, const std::function<void(double, AVFrame&)>& renderAt,
                             const std::function<Point(double)>& expectAt) {
    av::Frame out = allocFrame(kW, kH);
    double prevEx = 0, prevEy = 0, sumSq = 0, maxPos = 0;
    for (int i = 0; i < frames; ++i) {
        double z = 1.0 + 0.5 * i / (frames - 1);
        renderAt(z, *out);
        Point e = expectAt(z);
        double cx, cy;
        if (!centroid(*out, e.x, e.y, cx, cy)) return {INFINITY, INFINITY};
        double ex = cx - e.x, ey = cy - e.y;
        maxPos = std::max(maxPos, std::hypot(ex, ey));
        if (i > 0) sumSq += (ex - prevEx) * (ex - prevEx) + (ey - prevEy) * (ey - prevEy);
        prevEx = ex;
        prevEy = ey;
    }
    return {std::sqrt(sumSq / (frames - 1)), maxPos};
}

Point exactZoom(double z) {
    return {(kDotX - kW / 2.0) * z + kW / 2.0, (kDotY - kH / 2.0) * z + kH / 2.0};
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 60, smoothFrames = 300;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--frames") frames = std::max(2, std::atoi(argv[i + 1]));

    av::Frame picture = texturedPicture();
    struct Case {
        const char* name;
        ResampleFilter filter;
        int swsFlags;
        const char* swsName;
    } cases[] = {{"good", ResampleFilter::Bilinear, SWS_BILINEAR, "bilinear"},
                 {"best", ResampleFilter::HighQuality, SWS_SPLINE, "spline"}};
    for (const Case& c : cases) {
        SpeedResult r = measureSpeed(c.filter, c.swsFlags, frames, *picture);
        std::printf(
            "render %s 1280x720 ramp: %.3f ms/frame single thread; 2 bands on 2 threads: %.3f ms/frame "
            "wall, %.3f ms/frame slower band's CPU time\n",
            c.name, r.single, r.banded, r.bandedCritical);
        std::printf(
            "render %s 1280x720 fixed zoom: %.3f ms/frame single thread (ramp minus fixed: %.3f ms/frame, "
            "the cost of a transform that changes every frame)\n",
            c.name, r.still, r.single - r.still);
        std::printf("reference swscale %s integer crop: %.3f ms/frame\n", c.swsName, r.reference);
        std::printf("ratio render %s / swscale %s: %.2f single thread, %.2f banded (CPU critical path)\n", c.name,
                    c.swsName, r.single / r.reference, r.bandedCritical / r.reference);
    }

    av::Frame dot = dotPicture();
    FrameRenderer good(ResampleFilter::Bilinear, kW, kH), best(ResampleFilter::HighQuality, kW, kH);
    Smoothness g = measureSmoothness(
        smoothFrames, [&](double z, AVFrame& out) { good.render(*dot, zoomTransform(z, true), out); },
        [](double z) {
            // The ramp form's rotation is part of the exact geometry.
            AffineTransform t = zoomTransform(z, true);
            return t.apply({kDotX, kDotY});
        });
    Smoothness b = measureSmoothness(
        smoothFrames, [&](double z, AVFrame& out) { best.render(*dot, zoomTransform(z, false), out); }, exactZoom);
    IntegerCropScaler crop(SWS_BILINEAR);
    Smoothness c = measureSmoothness(
        smoothFrames, [&](double z, AVFrame& out) { crop.render(*dot, z, out); }, exactZoom);
    std::printf("smoothness zoom 1.0->1.5 over %d frames, RMS frame-to-frame motion error:\n", smoothFrames);
    std::printf("  good: %.4f px (max position error %.3f px)\n", g.rmsMotion, g.maxPosition);
    std::printf("  best: %.4f px (max position error %.3f px)\n", b.rmsMotion, b.maxPosition);
    std::printf("  integer crop + bilinear scale: %.4f px (max position error %.3f px)\n", c.rmsMotion, c.maxPosition);
    std::printf("ratio smoothness good / integer crop: %.3f\n", g.rmsMotion / c.rmsMotion);
    std::printf("ratio smoothness best / integer crop: %.3f\n", b.rmsMotion / c.rmsMotion);
    bool ok = g.rmsMotion <= 0.05 && b.rmsMotion <= 0.02;
    std::printf("smoothness targets (good <= 0.05, best <= 0.02): %s\n", ok ? "met" : "MISSED");
    return 0;
}
