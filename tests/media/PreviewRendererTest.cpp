#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "media/FFmpeg.h"
#include "media/FrameRenderer.h"
#include "media/PreviewRenderer.h"

using namespace media;

namespace {

// A limited-range picture: black (16) with a white (235) rectangle [x0, x1) x [y0, y1).
VideoSample pictureWithRectangle(int w, int h, int x0, int y0, int x1, int y1) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    if (av_frame_get_buffer(f, 0) < 0) throw std::runtime_error("no memory");
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f->data[0][y * f->linesize[0] + x] = (x >= x0 && x < x1 && y >= y0 && y < y1) ? 235 : 16;
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < (h + 1) / 2; ++y)
            for (int x = 0; x < (w + 1) / 2; ++x) f->data[p][y * f->linesize[p] + x] = 128;
    VideoSample s;
    s.frame = shareFrame(f);
    s.timeNs = 42;
    return s;
}

struct Bgrx {
    int width, height;
    std::vector<uint8_t> bytes;
    Bgrx(int w, int h) : width(w), height(h), bytes(size_t(w) * h * 4, 7) {}
    const uint8_t* at(int x, int y) const { return bytes.data() + (size_t(y) * width + x) * 4; }
    // 0 (black) to 1 (white) from the green channel.
    double level(int x, int y) const { return at(x, y)[1] / 255.0; }
    // Where the bright run of row y starts and ends, to a fraction of a pixel: the bright area
    // of the row (each pixel's level) is centred on the run's middle. Columns likewise.
    std::pair<double, double> brightSpanOfRow(int y) const {
        return brightSpan(width, [&](int x) { return level(x, y); });
    }
    std::pair<double, double> brightSpanOfColumn(int x) const {
        return brightSpan(height, [&](int y) { return level(x, y); });
    }
    template <class Level>
    static std::pair<double, double> brightSpan(int length, Level levelAt) {
        double sum = 0, weighted = 0;
        for (int i = 0; i < length; ++i) {
            sum += levelAt(i);
            weighted += levelAt(i) * (i + 0.5);
        }
        const double mid = weighted / sum;
        return {mid - sum / 2, mid + sum / 2};
    }
};

}  // namespace

TEST(PreviewRenderer, DrawsWhereTheTransformSaysToAQuarterPixel) {
    // A quarter turn (the phone's mounting) with a fractional zoom and offset, as the camera
    // screen draws: the rectangle's edges must land where the transform puts them.
    const VideoSample picture = pictureWithRectangle(160, 120, 40, 30, 100, 90);
    const float k = 1.37f;
    // (x, y) -> (120 - y, x), then scaled by k and shifted by a fraction.
    const AffineTransform t = AffineTransform{0, 1, -1, 0, 120, 0}.concat(AffineTransform{k, 0, 0, k, 3.3f, -5.7f});
    Bgrx out(200, 240);
    PreviewRenderer renderer;
    Error error;
    ASSERT_TRUE(renderer.render(picture, t, out.width, out.height, out.bytes.data(), out.width * 4, &error))
        << error.description;
    // Source x 40..100 runs down the output; source y 30..90 runs right to left.
    const double left = (120 - 90) * k + 3.3, right = (120 - 30) * k + 3.3;
    const double top = 40 * k - 5.7, bottom = 100 * k - 5.7;
    const auto row = out.brightSpanOfRow(int((top + bottom) / 2));
    EXPECT_NEAR(row.first, left, 0.25);
    EXPECT_NEAR(row.second, right, 0.25);
    const auto column = out.brightSpanOfColumn(int((left + right) / 2));
    EXPECT_NEAR(column.first, top, 0.25);
    EXPECT_NEAR(column.second, bottom, 0.25);
}

TEST(PreviewRenderer, ShowsLimitedRangeAsFullRangeAndOutsideAsBlack) {
    const VideoSample picture = pictureWithRectangle(64, 48, 16, 12, 48, 36);
    Bgrx out(64, 48);
    PreviewRenderer renderer;
    ASSERT_TRUE(renderer.render(picture, AffineTransform::makeScale(0.5f, 0.5f), out.width, out.height,
                                out.bytes.data(), out.width * 4));
    // The middle of the rectangle is white, its surroundings black, and the right half of the
    // output (outside the scaled picture) black: every byte written, X set to 255.
    const uint8_t* white = out.at(16, 12);
    EXPECT_GE(white[0], 250);
    EXPECT_GE(white[1], 250);
    EXPECT_GE(white[2], 250);
    EXPECT_LE(out.at(2, 2)[1], 3);
    EXPECT_LE(out.at(60, 40)[1], 3);
    EXPECT_EQ(out.at(60, 40)[3], 255);
}

TEST(PreviewRenderer, MatchesTheExportsRendererPixelForPixel) {
    // The same bilinear resampler as the export's "Good" rendering: the preview's grey levels
    // are the export's luma, expanded to full range.
    const VideoSample picture = pictureWithRectangle(96, 64, 30, 20, 61, 45);
    const AffineTransform t{1.9f, 0, 0, 1.9f, -41.3f, -20.45f};
    Bgrx out(96, 64);
    PreviewRenderer preview;
    ASSERT_TRUE(preview.render(picture, t, out.width, out.height, out.bytes.data(), out.width * 4));
    FrameRenderer exportRenderer(ResampleFilter::Bilinear, 96, 64);
    av::Frame yuv = av::makeFrame();
    yuv->format = AV_PIX_FMT_YUV420P;
    yuv->width = 96;
    yuv->height = 64;
    ASSERT_GE(av_frame_get_buffer(yuv.get(), 0), 0);
    ASSERT_TRUE(exportRenderer.render(*picture.frame, t, *yuv));
    int worst = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 96; ++x) {
            const int luma = yuv->data[0][y * yuv->linesize[0] + x];
            const int expected = std::clamp(int(std::lround((luma - 16) * 255.0 / 219.0)), 0, 255);
            worst = std::max(worst, std::abs(out.at(x, y)[1] - expected));
        }
    EXPECT_LE(worst, 2);
}

TEST(PreviewRenderer, RefusesWhatItCannotDraw) {
    PreviewRenderer renderer;
    Bgrx out(8, 8);
    Error error;
    EXPECT_FALSE(renderer.render(VideoSample{}, {}, 8, 8, out.bytes.data(), 32, &error));
    EXPECT_FALSE(error.description.empty());
    const VideoSample picture = pictureWithRectangle(16, 16, 0, 0, 8, 8);
    EXPECT_FALSE(renderer.render(picture, {}, 8, 8, out.bytes.data(), 16));  // stride too short
    EXPECT_FALSE(renderer.render(picture, AffineTransform{0, 0, 0, 0, 0, 0}, 8, 8, out.bytes.data(), 32));
    // Nothing was written by the refusals.
    EXPECT_EQ(out.at(0, 0)[0], 7);
    EXPECT_EQ(PreviewRenderer::pictureSize(picture), (Size{16, 16}));
    EXPECT_TRUE(PreviewRenderer::pictureSize(VideoSample{}).empty());
}

TEST(PreviewRenderer, OddSizesWriteExactlyTheirRows) {
    // Windows come in any size; the rows must end where the stride says, with nothing written
    // past the last pixel of each row or of the buffer.
    const VideoSample picture = pictureWithRectangle(64, 48, 0, 0, 64, 48);
    PreviewRenderer renderer;
    for (auto [w, h] : {std::pair{37, 21}, {409, 3}, {1, 1}}) {
        const int stride = w * 4 + 4;  // one guard pixel per row
        std::vector<uint8_t> buffer(size_t(stride) * h + 256, 0xAB);
        ASSERT_TRUE(renderer.render(picture, AffineTransform::makeScale(float(w) / 64, float(h) / 48), w, h,
                                    buffer.data(), stride));
        for (int y = 0; y < h; ++y)
            for (int k = 0; k < 4; ++k) ASSERT_EQ(buffer[size_t(y) * stride + w * 4 + k], 0xAB) << w << "x" << h;
        for (size_t i = size_t(stride) * h; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << w << "x" << h;
        EXPECT_GE(buffer[size_t(h / 2) * stride + (w / 2) * 4 + 1], 250) << "white inside";
    }
}
