#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"
#include "media/MediaInternal.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

using namespace media;

namespace {

av::Frame makeFrame(int w, int h, AVPixelFormat fmt = AV_PIX_FMT_YUV420P) {
    av::Frame f = av::makeFrame();
    f->format = fmt;
    f->width = w;
    f->height = h;
    if (av_frame_get_buffer(f.get(), 0) < 0) throw std::runtime_error("no memory");
    return f;
}

int planeW(const AVFrame& f, int p) {
    return p ? (f.width + 1) / 2 : f.width;
}
int planeH(const AVFrame& f, int p) {
    return p ? (f.height + 1) / 2 : f.height;
}
uint8_t& at(AVFrame& f, int p, int x, int y) {
    return f.data[p][y * f.linesize[p] + x];
}
uint8_t at(const AVFrame& f, int p, int x, int y) {
    return f.data[p][y * f.linesize[p] + x];
}

// Fills every plane from a function of the sample's centre in luma coordinates, honouring the
// frame's chroma siting (unspecified = left).
void fill(AVFrame& f, const std::function<double(int plane, double x, double y)>& value) {
    double hx = 0, hy = 0.5;
    if (f.chroma_location == AVCHROMA_LOC_CENTER) hx = 0.5;
    if (f.chroma_location == AVCHROMA_LOC_TOPLEFT) hy = 0;
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < planeH(f, p); ++y)
            for (int x = 0; x < planeW(f, p); ++x) {
                double cx = p ? 2 * x + 0.5 + hx : x + 0.5, cy = p ? 2 * y + 0.5 + hy : y + 0.5;
                at(f, p, x, y) = static_cast<uint8_t>(std::clamp(std::lround(value(p, cx, cy)), 0L, 255L));
            }
}

double gauss(double dx, double dy, double sigma) {
    return std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
}

// Intensity-weighted centre of what rises above `background` in a plane, within `radius` of
// (nearX, nearY), returned in luma coordinates of an output with left siting.
Point centroid(const AVFrame& f, int p, double background, double nearX, double nearY, double radius) {
    double step = p ? 2 : 1, ox = p ? 0.5 : 0.5, oy = p ? 1.0 : 0.5;
    double sum = 0, sx = 0, sy = 0;
    for (int y = 0; y < planeH(f, p); ++y)
        for (int x = 0; x < planeW(f, p); ++x) {
            double cx = step * x + ox, cy = step * y + oy;
            if (std::hypot(cx - nearX, cy - nearY) > radius) continue;
            double w = at(f, p, x, y) - background;
            sum += w;
            sx += w * cx;
            sy += w * cy;
        }
    return sum > 0 ? Point{sx / sum, sy / sum} : Point{NAN, NAN};
}

AffineTransform zoomAbout(double z, double cx, double cy, bool tinyRotation) {
    AffineTransform t{static_cast<float>(z),          0, 0, static_cast<float>(z), static_cast<float>(cx - z * cx),
                      static_cast<float>(cy - z * cy)};
    return tinyRotation ? t.rotated(-9.9999997e-06f) : t;
}

const ResampleFilter kFilters[] = {ResampleFilter::Bilinear, ResampleFilter::HighQuality};
const char* name(ResampleFilter f) {
    return f == ResampleFilter::Bilinear ? "bilinear" : "high quality";
}

bool planesEqual(const AVFrame& a, const AVFrame& b, int tolerance = 0) {
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < planeH(a, p); ++y)
            for (int x = 0; x < planeW(a, p); ++x)
                if (std::abs(at(a, p, x, y) - at(b, p, x, y)) > tolerance) return false;
    return true;
}

// A bright luma blob and a chroma blob (in U) at the same place of the picture.
struct Blob {
    double x, y, sigma;
};

void drawBlobs(AVFrame& f, Blob b) {
    fill(f, [&](int p, double x, double y) {
        double g = gauss(x - b.x, y - b.y, p ? 2 * b.sigma : b.sigma);
        return p == 0 ? 40 + 160 * g : (p == 1 ? 128 + 90 * g : 128);
    });
}

}  // namespace

// The blob must land where the exact transform puts it, in luma and in chroma, at every zoom and
// for pure sub-pixel moves: catches half-pixel centre errors, zoom windows rounded to whole
// pixels, chroma planes mapped with luma geometry or without their siting, and scaling about the
// wrong centre.
TEST(FrameRenderer, BlobsLandWhereTheTransformSays) {
    const int w = 480, h = 270;
    const Blob blob{270.3, 120.6, 2.0};
    struct Case {
        double zoom, dx, dy;
        AVChromaLocation siting;
    } cases[] = {{1.0, 0, 0, AVCHROMA_LOC_LEFT},         {1.37, 0, 0, AVCHROMA_LOC_UNSPECIFIED},
                 {2.0, 0, 0, AVCHROMA_LOC_LEFT},         {3.0, 0, 0, AVCHROMA_LOC_CENTER},
                 {1.0, 0.25, 0, AVCHROMA_LOC_LEFT},      {1.0, 0.5, 0.3, AVCHROMA_LOC_CENTER},
                 {1.0, -0.7, 0.9, AVCHROMA_LOC_TOPLEFT}, {1.37, 0.33, -0.41, AVCHROMA_LOC_LEFT}};
    for (ResampleFilter filter : kFilters) {
        FrameRenderer renderer(filter, w, h);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(name(filter)) + " zoom " + std::to_string(c.zoom) + " move " +
                         std::to_string(c.dx) + "," + std::to_string(c.dy) + " siting " + std::to_string(c.siting));
            av::Frame src = makeFrame(w, h);
            src->chroma_location = c.siting;
            drawBlobs(*src, blob);
            AffineTransform t = zoomAbout(c.zoom, w / 2.0, h / 2.0, filter == ResampleFilter::Bilinear);
            t.tx += static_cast<float>(c.dx);
            t.ty += static_cast<float>(c.dy);
            av::Frame out = makeFrame(w, h);
            Error err;
            ASSERT_TRUE(renderer.render(*src, t, *out, &err)) << err.failureReason;
            EXPECT_EQ(out->chroma_location, AVCHROMA_LOC_LEFT);

            Point expected = t.apply({blob.x, blob.y});
            double radius = 5 * blob.sigma * c.zoom + 4;
            Point luma = centroid(*out, 0, 40, expected.x, expected.y, radius);
            EXPECT_NEAR(luma.x, expected.x, 0.05);
            EXPECT_NEAR(luma.y, expected.y, 0.05);
            // Chroma has half the samples; a siting mistake is a quarter to half a luma pixel.
            Point chroma = centroid(*out, 1, 128, expected.x, expected.y, 2 * radius);
            EXPECT_NEAR(chroma.x, expected.x, 0.1);
            EXPECT_NEAR(chroma.y, expected.y, 0.1);
        }
    }
}

// Fit-to-size with enlargement, and a rotation by a quarter turn (a portrait picture turned
// upright): a renderer that dropped the off-diagonal terms would put the blob elsewhere.
TEST(FrameRenderer, EnlargesAndRotatesIntoAnOutputOfAnotherSize) {
    const int sw = 240, sh = 136;
    const Blob blob{150.4, 60.7, 1.5};
    av::Frame src = makeFrame(sw, sh);
    drawBlobs(*src, blob);
    struct Case {
        const char* what;
        AffineTransform t;
        int ow, oh;
    } cases[] = {
        {"enlarge 2.5x", AffineTransform::makeScale(2.5f, 2.5f), 600, 340},
        {"quarter turn", AffineTransform{0, 1, -1, 0, static_cast<float>(sh), 0}, sh, sw},
        {"quarter turn and enlarge", AffineTransform{0, 2, -2, 0, static_cast<float>(2 * sh), 0}, 2 * sh, 2 * sw},
    };
    for (ResampleFilter filter : kFilters)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(name(filter)) + " " + c.what);
            FrameRenderer renderer(filter, c.ow, c.oh);
            av::Frame out = makeFrame(c.ow, c.oh);
            ASSERT_TRUE(renderer.render(*src, c.t, *out));
            Point expected = c.t.apply({blob.x, blob.y});
            double scale = std::hypot(c.t.a, c.t.b);
            Point luma = centroid(*out, 0, 40, expected.x, expected.y, 5 * blob.sigma * scale + 4);
            EXPECT_NEAR(luma.x, expected.x, 0.05);
            EXPECT_NEAR(luma.y, expected.y, 0.05);
            Point chroma = centroid(*out, 1, 128, expected.x, expected.y, 10 * blob.sigma * scale + 8);
            EXPECT_NEAR(chroma.x, expected.x, 0.15);
            EXPECT_NEAR(chroma.y, expected.y, 0.15);
        }
}

TEST(FrameRenderer, IdentityIsAnExactCopy) {
    std::mt19937 rng(7);
    for (ResampleFilter filter : kFilters) {
        av::Frame src = makeFrame(322, 182);
        fill(*src, [&](int, double, double) { return static_cast<double>(rng() % 256); });
        av::Frame out = makeFrame(322, 182);
        FrameRenderer renderer(filter, 322, 182);
        ASSERT_TRUE(renderer.render(*src, AffineTransform::identity(), *out));
        EXPECT_TRUE(planesEqual(*src, *out)) << name(filter);
    }
}

// Where the transform maps outside the source, the output is black (limited range), and the
// picture itself is untouched by that: a shrink and a move that uncover every edge.
TEST(FrameRenderer, OutsideThePictureIsBlack) {
    const int w = 160, h = 90;
    av::Frame src = makeFrame(w, h);
    fill(*src, [](int p, double, double) { return p == 0 ? 200.0 : (p == 1 ? 90.0 : 170.0); });
    for (ResampleFilter filter : kFilters) {
        SCOPED_TRACE(name(filter));
        FrameRenderer renderer(filter, w, h);
        av::Frame out = makeFrame(w, h);
        // Half size about the centre: the picture covers [40, 120) x [22.5, 67.5).
        ASSERT_TRUE(renderer.render(*src, zoomAbout(0.5, w / 2.0, h / 2.0, false), *out));
        for (int y : {0, 21, 68, 89}) EXPECT_EQ(at(*out, 0, 80, y), 16) << y;
        for (int x : {0, 39, 120, 159}) EXPECT_EQ(at(*out, 0, x, 45), 16) << x;
        EXPECT_EQ(at(*out, 0, 80, 45), 200);
        EXPECT_EQ(at(*out, 0, 41, 24), 200);
        EXPECT_EQ(at(*out, 1, 0, 0), 128);
        EXPECT_EQ(at(*out, 2, 79, 44), 128);
        EXPECT_EQ(at(*out, 1, 40, 22), 90);
        EXPECT_EQ(at(*out, 2, 40, 22), 170);

        // Moved right and down by a fraction: edge pixels keep the picture's value, not a blend
        // with black, and the uncovered band is black.
        ASSERT_TRUE(renderer.render(*src, AffineTransform::makeTranslation(10.4f, 3.2f), *out));
        EXPECT_EQ(at(*out, 0, 9, 40), 16);
        EXPECT_EQ(at(*out, 0, 11, 40), 200);
        EXPECT_EQ(at(*out, 0, 80, 2), 16);
        EXPECT_EQ(at(*out, 0, 80, 4), 200);
        EXPECT_EQ(at(*out, 0, 159, 89), 200);
    }
}

// Full-range sources come out limited range, including black and the exact-copy path.
TEST(FrameRenderer, FullRangeSourcesAreConvertedToLimitedRange) {
    const int w = 64, h = 48;
    av::Frame src = makeFrame(w, h, AV_PIX_FMT_YUVJ420P);
    fill(*src, [](int p, double x, double) { return p == 0 ? (x < 32 ? 0.0 : 255.0) : (x < 32 ? 0.0 : 255.0); });
    const AffineTransform transforms[] = {AffineTransform::identity(), zoomAbout(0.5, 32, 24, false)};
    for (ResampleFilter filter : kFilters)
        for (const AffineTransform& t : transforms) {
            SCOPED_TRACE(std::string(name(filter)) + (t.isIdentity() ? " identity" : " shrink"));
            FrameRenderer renderer(filter, w, h);
            av::Frame out = makeFrame(w, h);
            out->color_range = AVCOL_RANGE_JPEG;
            ASSERT_TRUE(renderer.render(*src, t, *out));
            EXPECT_EQ(out->color_range, AVCOL_RANGE_MPEG);
            Point dark = t.apply({4, 24}), light = t.apply({60, 24});
            EXPECT_EQ(at(*out, 0, static_cast<int>(dark.x), static_cast<int>(dark.y)), 16);
            EXPECT_EQ(at(*out, 0, static_cast<int>(light.x), static_cast<int>(light.y)), 235);
            EXPECT_EQ(at(*out, 1, static_cast<int>(dark.x) / 2, static_cast<int>(dark.y) / 2), 16);
            EXPECT_EQ(at(*out, 2, static_cast<int>(light.x) / 2, static_cast<int>(light.y) / 2), 240);
            if (!t.isIdentity()) {
                EXPECT_EQ(at(*out, 0, 0, 0), 16);  // black stays black
            }
        }
}

// Bands rendered separately (as worker threads do) join into the whole frame; odd band edges
// must not drop or duplicate a chroma row.
TEST(FrameRenderer, BandsTileTheFrame) {
    const int w = 200, h = 151;
    std::mt19937 rng(3);
    av::Frame src = makeFrame(w, h);
    fill(*src, [&](int, double x, double y) { return 128 + 100 * std::sin(x * 0.3) * std::cos(y * 0.2) + rng() % 9; });
    for (ResampleFilter filter : kFilters) {
        SCOPED_TRACE(name(filter));
        AffineTransform t = zoomAbout(1.61, w / 2.0, h / 2.0, filter == ResampleFilter::Bilinear);
        av::Frame whole = makeFrame(w, h), banded = makeFrame(w, h);
        FrameRenderer one(filter, w, h);
        ASSERT_TRUE(one.render(*src, t, *whole));
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < planeH(*banded, p); ++y)
                std::memset(banded->data[p] + y * banded->linesize[p], 7, planeW(*banded, p));
        const int cuts[] = {0, 37, 38, 100, 151};
        for (int b = 0; b + 1 < 5; ++b) {
            FrameRenderer part(filter, w, h);
            ASSERT_TRUE(part.renderRows(*src, t, *banded, cuts[b], cuts[b + 1]));
        }
        // zimg computes each band's filter from its own window; allow a rounding step there.
        EXPECT_TRUE(planesEqual(*whole, *banded, filter == ResampleFilter::Bilinear ? 0 : 1));
    }

    for (int count : {1, 2, 3, 7})
        for (int height : {2, 151, 720}) {
            EXPECT_EQ(FrameRenderer::bandStart(0, count, height), 0);
            EXPECT_EQ(FrameRenderer::bandStart(count, count, height), height);
            for (int i = 1; i < count; ++i) {
                EXPECT_EQ(FrameRenderer::bandStart(i, count, height) % 2, 0);
                EXPECT_LE(FrameRenderer::bandStart(i - 1, count, height), FrameRenderer::bandStart(i, count, height));
            }
        }
}

// Odd and tiny sizes, in and out, under a zoom with rotation and a shrink: nothing crashes, and
// a flat picture stays flat where it is shown.
TEST(FrameRenderer, OddAndTinySizes) {
    struct Size2 {
        int w, h;
    } sizes[] = {{641, 361}, {2, 2}, {1, 1}, {3, 5}, {17, 2}};
    for (ResampleFilter filter : kFilters)
        for (Size2 in : sizes)
            for (Size2 out : sizes) {
                SCOPED_TRACE(std::string(name(filter)) + " " + std::to_string(in.w) + "x" + std::to_string(in.h) +
                             " -> " + std::to_string(out.w) + "x" + std::to_string(out.h));
                av::Frame src = makeFrame(in.w, in.h);
                fill(*src, [](int p, double, double) { return p == 0 ? 100.0 : 150.0; });
                double sx = double(out.w) / in.w, sy = double(out.h) / in.h;
                AffineTransform fit = AffineTransform::makeScale(static_cast<float>(sx), static_cast<float>(sy));
                AffineTransform zoomed = fit.concat(zoomAbout(1.37, out.w / 2.0, out.h / 2.0, true));
                FrameRenderer renderer(filter, out.w, out.h);
                av::Frame dst = makeFrame(out.w, out.h);
                for (const AffineTransform& t : {fit, zoomed}) {
                    ASSERT_TRUE(renderer.render(*src, t, *dst));
                    EXPECT_NEAR(at(*dst, 0, out.w / 2, out.h / 2), 100, 1);
                    EXPECT_NEAR(at(*dst, 1, (out.w - 1) / 4, (out.h - 1) / 4), 150, 1);
                }
            }
}

TEST(FrameRenderer, RejectsWhatItCannotRender) {
    av::Frame src = makeFrame(64, 48);
    fill(*src, [](int, double, double) { return 100.0; });
    FrameRenderer renderer(ResampleFilter::Bilinear, 64, 48);
    av::Frame out = makeFrame(64, 48);
    std::memset(out->data[0], 1, out->linesize[0] * 48);

    Error err;
    EXPECT_FALSE(renderer.render(*src, AffineTransform{0, 0, 0, 0, 0, 0}, *out, &err));
    EXPECT_FALSE(err.failureReason.empty());
    EXPECT_FALSE(renderer.render(*src, AffineTransform{NAN, 0, 0, 1, 0, 0}, *out, &err));
    EXPECT_EQ(out->data[0][0], 1);  // untouched

    av::Frame nv12 = makeFrame(64, 48, AV_PIX_FMT_NV12);
    err = {};
    EXPECT_FALSE(renderer.render(*nv12, AffineTransform::identity(), *out, &err));
    EXPECT_NE(err.failureReason.find("nv12"), std::string::npos);

    av::Frame small = makeFrame(32, 48);
    EXPECT_FALSE(renderer.render(*src, AffineTransform::identity(), *small, &err));
    EXPECT_FALSE(renderer.renderRows(*src, AffineTransform::identity(), *out, 10, 49, &err));
    EXPECT_FALSE(renderer.renderRows(*src, AffineTransform::identity(), *out, 20, 10, &err));
    EXPECT_EQ(out->data[0][0], 1);
}

// Against a plain double-precision bilinear on noise, where every weight and neighbour shows:
// the fast paths (groups shuffled from one or two windows, their scalar tails, the general rotated
// loop) must agree to one step of rounding inside the picture.
TEST(FrameRenderer, BilinearMatchesAStraightforwardReference) {
    struct Case {
        int w, h;
        std::vector<AffineTransform> transforms;
    };
    const int w = 203, h = 97;
    const Case cases[] = {
        {w,
         h,
         {
             zoomAbout(1.37, w / 2.0, h / 2.0, true),
             zoomAbout(0.43, w / 2.0, h / 2.0, true),                           // shrinking: two windows per group
             zoomAbout(0.29, w / 2.0, h / 2.0, true),                           // a window's width short of too wide
             zoomAbout(0.2, w / 2.0, h / 2.0, true),                            // groups too wide to shuffle
             AffineTransform::makeRotation(0.3f).translated(20, -30),           // a real rotation
             AffineTransform{-1, 0, 0, 1, static_cast<float>(w), 0},            // mirrored
             AffineTransform{1.2f, 0, 0, -1.2f, -3.3f, static_cast<float>(h)},  // upside down
         }},
        // The steepest slant the two-pass split takes: along a row of a wide picture the source
        // position crosses several rows, both ways, so the rows it keeps are fetched out of turn.
        {1500,
         40,
         {
             AffineTransform::makeRotation(9e-4f).translated(0, -0.3f),
             AffineTransform::makeRotation(-9e-4f).translated(0, 1.7f),
         }},
    };
    for (const Case& c : cases) {
        std::mt19937 rng(11);
        av::Frame src = makeFrame(c.w, c.h);
        fill(*src, [&](int, double, double) { return static_cast<double>(rng() % 256); });
        auto reference = [&](double X, double Y) {
            double x = std::clamp(X - 0.5, 0.0, c.w - 1.0), y = std::clamp(Y - 0.5, 0.0, c.h - 1.0);
            int x0 = std::min(static_cast<int>(x), c.w - 2), y0 = std::min(static_cast<int>(y), c.h - 2);
            double fx = x - x0, fy = y - y0;
            auto s = [&](int xx, int yy) { return static_cast<double>(at(*src, 0, xx, yy)); };
            return (s(x0, y0) * (1 - fx) + s(x0 + 1, y0) * fx) * (1 - fy) +
                   (s(x0, y0 + 1) * (1 - fx) + s(x0 + 1, y0 + 1) * fx) * fy;
        };
        FrameRenderer renderer(ResampleFilter::Bilinear, c.w, c.h);
        av::Frame out = makeFrame(c.w, c.h);
        for (const AffineTransform& t : c.transforms) {
            ASSERT_TRUE(renderer.render(*src, t, *out));
            AffineTransform inv = t.inverted();
            int worst = 0, checked = 0;
            for (int j = 0; j < c.h; ++j)
                for (int i = 0; i < c.w; ++i) {
                    Point s = inv.apply({i + 0.5, j + 0.5});
                    // Keep clear of the picture's outline, where inside/outside is a matter of rounding.
                    if (s.x < 0.01 || s.y < 0.01 || s.x > c.w - 0.01 || s.y > c.h - 0.01) continue;
                    worst = std::max(worst,
                                     std::abs(at(*out, 0, i, j) - static_cast<int>(std::lround(reference(s.x, s.y)))));
                    ++checked;
                }
            EXPECT_GT(checked, c.w * c.h / 40);  // a fifth of the size still covers a twenty-fifth
            EXPECT_LE(worst, 1) << c.w << "x" << c.h << ": " << t.a << " " << t.b << " " << t.c << " " << t.d;
        }
    }
}

// The vector kernels are rewrites of the portable loops, not approximations: on noise, through
// zooms in and out (one and two shuffle windows, and groups too wide to shuffle), widths whose
// last group is partial, full-range sources mapped inside the kernels, a real rotation and bands,
// every instruction set the processor has must give the same bytes.
TEST(FrameRenderer, InstructionSetsGiveTheSameBytes) {
    struct Cap {
        internal::RendererIsa old = internal::capRendererIsa(internal::RendererIsa::Avx2);
        ~Cap() { internal::capRendererIsa(old); }
    } restore;
    const internal::RendererIsa isas[] = {internal::RendererIsa::Avx2, internal::RendererIsa::Sse41,
                                          internal::RendererIsa::Portable};
    struct Size2 {
        int w, h;
    };
    for (Size2 size : {Size2{1280, 72}, Size2{203, 97}})
        for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P}) {
            const int w = size.w, h = size.h;
            std::mt19937 rng(5);
            av::Frame src = makeFrame(w, h, format);
            fill(*src, [&](int, double, double) { return static_cast<double>(rng() % 256); });
            for (double z : {1.0, 1.37, 3.0, 0.43, 0.29, 0.2}) {
                const AffineTransform t = zoomAbout(z, w / 2.0, h / 2.0, true);
                SCOPED_TRACE(std::to_string(w) + (format == AV_PIX_FMT_YUVJ420P ? " full range, zoom " : ", zoom ") +
                             std::to_string(z));
                av::Frame first;
                for (internal::RendererIsa isa : isas) {
                    internal::capRendererIsa(isa);
                    FrameRenderer renderer(ResampleFilter::Bilinear, w, h);
                    av::Frame out = makeFrame(w, h);
                    ASSERT_TRUE(renderer.renderRows(*src, t, *out, 0, 30));
                    ASSERT_TRUE(renderer.renderRows(*src, t, *out, 30, h));
                    if (!first)
                        first = std::move(out);
                    else
                        EXPECT_TRUE(planesEqual(*first, *out)) << static_cast<int>(isa);
                }
            }
            av::Frame first;
            for (internal::RendererIsa isa : isas) {  // the general loop and the range map after it
                internal::capRendererIsa(isa);
                FrameRenderer renderer(ResampleFilter::Bilinear, w, h);
                av::Frame out = makeFrame(w, h);
                ASSERT_TRUE(renderer.render(*src, AffineTransform::makeRotation(0.2f), *out));
                if (!first)
                    first = std::move(out);
                else
                    EXPECT_TRUE(planesEqual(*first, *out)) << static_cast<int>(isa);
            }
        }
}

namespace {

// The first decoded picture of a movie's video, as the export path gets it from the decoder.
av::Frame firstPicture(const std::string& path) {
    av::Frame first;
    testsupport::forEachPicture(path, [&](const AVFrame& f, testsupport::PictureTime) {
        first.reset(av_frame_clone(&f));
        return false;
    });
    return first;
}

double meanDifference(const AVFrame& a, const AVFrame& b, int p, int margin) {
    double sum = 0;
    int n = 0;
    for (int y = margin; y < planeH(a, p) - margin; ++y)
        for (int x = margin; x < planeW(a, p) - margin; ++x, ++n) sum += std::abs(at(a, p, x, y) - at(b, p, x, y));
    return sum / n;
}

// How far plane p of `b` is displaced against `a` (one gradient step of image registration:
// b(x) ~ a(x - d) gives b - a ~ -d . grad), in that plane's samples.
Point displacement(const AVFrame& a, const AVFrame& b, int p, int margin) {
    double gxx = 0, gxy = 0, gyy = 0, gxt = 0, gyt = 0;
    for (int y = margin; y < planeH(a, p) - margin; ++y)
        for (int x = margin; x < planeW(a, p) - margin; ++x) {
            // Gradients of both frames averaged: the estimate stays unbiased for larger moves.
            double gx = (at(a, p, x + 1, y) - at(a, p, x - 1, y) + at(b, p, x + 1, y) - at(b, p, x - 1, y)) / 4.0;
            double gy = (at(a, p, x, y + 1) - at(a, p, x, y - 1) + at(b, p, x, y + 1) - at(b, p, x, y - 1)) / 4.0;
            double dt = at(b, p, x, y) - at(a, p, x, y);
            gxx += gx * gx;
            gxy += gx * gy;
            gyy += gy * gy;
            gxt += gx * dt;
            gyt += gy * dt;
        }
    double det = gxx * gyy - gxy * gxy;
    return {-(gyy * gxt - gxy * gyt) / det, -(gxx * gyt - gxy * gxt) / det};
}

}  // namespace

// A real phone recording, decoded as the exporter decodes it: an unzoomed ramp frame (with its
// tiny rotation) reproduces the picture, and the two filters agree, to a twentieth of a pixel in
// every plane, on where a 2x zoom puts the picture's detail.
TEST(FrameRenderer, RealRecordingRendersConsistently) {
    auto path = testsupport::sharedMedia("streamio__sideways movie.mov");
    if (path.empty()) GTEST_SKIP() << "shared media not present";
    av::Frame src = firstPicture(path.string());
    ASSERT_TRUE(src);
    ASSERT_EQ(src->format, AV_PIX_FMT_YUV420P);
    const int w = src->width, h = src->height;

    av::Frame good = makeFrame(w, h), best = makeFrame(w, h);
    FrameRenderer bilinear(ResampleFilter::Bilinear, w, h), high(ResampleFilter::HighQuality, w, h);
    ASSERT_TRUE(bilinear.render(*src, zoomAbout(1.0, w / 2.0, h / 2.0, true), *good));
    for (int p = 0; p < 3; ++p) EXPECT_LT(meanDifference(*src, *good, p, 2), 0.2) << p;

    ASSERT_TRUE(bilinear.render(*src, zoomAbout(2.0, w / 2.0, h / 2.0, true), *good));
    ASSERT_TRUE(high.render(*src, zoomAbout(2.0, w / 2.0, h / 2.0, false), *best));
    for (int p = 0; p < 3; ++p) {
        Point d = displacement(*good, *best, p, 8);
        EXPECT_NEAR(d.x, 0, 0.05) << p;
        EXPECT_NEAR(d.y, 0, 0.05) << p;
    }

    // The measure itself: a frame moved by a known amount is found moved by that amount.
    ASSERT_TRUE(high.render(
        *src, zoomAbout(2.0, w / 2.0, h / 2.0, false).concat(AffineTransform::makeTranslation(0.3f, -0.2f)), *best));
    Point d = displacement(*good, *best, 0, 8);
    EXPECT_NEAR(d.x, 0.3, 0.05);
    EXPECT_NEAR(d.y, -0.2, 0.05);
}
