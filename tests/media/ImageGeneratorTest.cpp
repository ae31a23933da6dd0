#include <gtest/gtest.h>

#include "media/ImageGenerator.h"
#include "media/MediaTestSupport.h"
#include "support/TestSupport.h"

using namespace media;
using namespace mediatest;

namespace {

RgbImage firstImage(const std::string& path, bool oriented, Size max = {}) {
    ImageGenerator g(path);
    g.setAppliesPreferredTrackTransform(oriented);
    g.setMaximumSize(max);
    Error e;
    RgbImage img = g.copyFirstImage(&e);
    EXPECT_FALSE(img.isNull()) << path << ": " << e.description << " " << e.failureReason;
    return img;
}

bool samePixel(const RgbImage& a, int ax, int ay, const RgbImage& b, int bx, int by) {
    return std::equal(a.pixel(ax, ay), a.pixel(ax, ay) + 3, b.pixel(bx, by));
}

}  // namespace

TEST(ImageGenerator, OrientationFollowsTheDisplayMatrixIncludingMirrors) {
    testsupport::TempDir dir;
    struct Case {
        const char* name;
        AffineTransform matrix;
        // Where stored pixel (x, y) of a w x h picture is shown.
        std::function<std::pair<int, int>(int x, int y, int w, int h)> shownAt;
    };
    const Case cases[] = {
        // The phone-portrait matrix: turned a quarter clockwise.
        {"portrait",
         {0, 1, -1, 0, 240, 0},
         [](int x, int y, int, int h) {
             return std::pair{h - 1 - y, x};
         }},
        {"portrait-other-way",
         {0, -1, 1, 0, 0, 320},
         [](int x, int y, int w, int) {
             return std::pair{y, w - 1 - x};
         }},
        {"upside-down",
         {-1, 0, 0, -1, 320, 240},
         [](int x, int y, int w, int h) {
             return std::pair{w - 1 - x, h - 1 - y};
         }},
        {"mirrored",
         {-1, 0, 0, 1, 320, 0},
         [](int x, int y, int w, int) {
             return std::pair{w - 1 - x, y};
         }},
        {"mirrored-turned",
         {0, -1, -1, 0, 240, 320},
         [](int x, int y, int w, int h) {
             return std::pair{h - 1 - y, w - 1 - x};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.str() + "/" + c.name + ".mov";
        auto o = patternOptions(2);
        o.writer.displayMatrix = c.matrix;
        makePatternMovie(path, o);
        RgbImage stored = firstImage(path, false);
        RgbImage shown = firstImage(path, true);
        ASSERT_EQ(stored.width, 320);
        ASSERT_EQ(stored.height, 240);
        const bool turned = c.matrix.a == 0;
        ASSERT_EQ(shown.width, turned ? 240 : 320);
        ASSERT_EQ(shown.height, turned ? 320 : 240);
        int mismatches = 0;
        for (int y = 0; y < 240; y += 7)
            for (int x = 0; x < 320; x += 5) {
                auto [sx, sy] = c.shownAt(x, y, 320, 240);
                mismatches += !samePixel(stored, x, y, shown, sx, sy);
            }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(ImageGenerator, ScalesDownToFitKeepingAspectNeverUp) {
    testsupport::TempDir dir;
    const std::string land = dir.str() + "/land.mov", port = dir.str() + "/port.mov";
    makePatternMovie(land, patternOptions(1));
    auto o = patternOptions(1);
    o.writer.displayMatrix = AffineTransform{0, 1, -1, 0, 240, 0};
    makePatternMovie(port, o);

    RgbImage a = firstImage(land, true, {160, 160});
    EXPECT_EQ(a.width, 160);
    EXPECT_EQ(a.height, 120);
    EXPECT_GE(a.stride, 3 * a.width);
    EXPECT_EQ(a.bytes.size(), static_cast<size_t>(a.stride) * a.height);
    // The box applies to the picture as shown.
    RgbImage b = firstImage(port, true, {160, 160});
    EXPECT_EQ(b.width, 120);
    EXPECT_EQ(b.height, 160);
    RgbImage c = firstImage(land, true, {1000, 1000});
    EXPECT_EQ(c.width, 320);
    EXPECT_EQ(c.height, 240);
    // The picture is the first frame, not a later one: its frame code says 0, and the colours
    // come out as the pattern's grey band (not a green or pink cast from a wrong conversion).
    RgbImage full = firstImage(land, false);
    const Point band = testpattern::codeBlockCentre(320, 240, testpattern::kCodeBits - 1);
    const uint8_t* grey = full.pixel(static_cast<int>(band.x) - 12, static_cast<int>(band.y));
    EXPECT_LT(std::abs(grey[0] - grey[2]), 60);
    for (int bit = 0; bit < testpattern::kCodeBits; ++bit) {
        const Point p = testpattern::codeBlockCentre(320, 240, bit);
        EXPECT_LT(full.pixel(static_cast<int>(p.x), static_cast<int>(p.y))[1], 64) << "bit " << bit;
    }
}

TEST(ImageGenerator, NonSquarePixelsComeOutAtTheShownProportions) {
    testsupport::TempDir dir;
    const std::string land = dir.str() + "/wide-pixels.mov", port = dir.str() + "/wide-pixels-portrait.mov";
    auto o = patternOptions(1);
    o.writer.pixelAspectWidth = 3;
    o.writer.pixelAspectHeight = 2;
    makePatternMovie(land, o);
    o.writer.displayMatrix = AffineTransform{0, 1, -1, 0, 240, 0};
    makePatternMovie(port, o);

    // 320x240 stored pixels of 3:2 are shown 480x240.
    RgbImage full = firstImage(land, true);
    ASSERT_EQ(full.width, 480);
    EXPECT_EQ(full.height, 240);
    RgbImage thumb = firstImage(land, true, {70, 70});
    EXPECT_EQ(thumb.width, 70);
    EXPECT_EQ(thumb.height, 35);
    // Turned upright, the stretch stays along the stored rows, which now run down the picture.
    RgbImage upright = firstImage(port, true, {70, 70});
    EXPECT_EQ(upright.width, 35);
    EXPECT_EQ(upright.height, 70);

    // Stretched, not cropped or shifted: stored pixel (x, y) is shown at (1.5 x, y). Resampling
    // blurs feature edges a little; a crop or shift would move whole blocks.
    const std::string square = dir.str() + "/square.mov";
    makePatternMovie(square, patternOptions(1));
    RgbImage plain = firstImage(square, false);
    int far = 0, total = 0;
    for (int y = 2; y < 238; y += 5)
        for (int x = 2; x < 318; x += 5, ++total)
            far += std::abs(full.pixel(static_cast<int>(x * 1.5 + 0.25), y)[1] - plain.pixel(x, y)[1]) > 60;
    EXPECT_LT(far, total / 20);
}

TEST(ImageGenerator, RealPortraitMovieComesOutUprightAndBrokenFilesFail) {
    auto path = testsupport::sharedMedia("jsonize__iphone_rotated.mov");
    if (path.empty()) GTEST_SKIP() << "shared media not available";
    RgbImage img = firstImage(path.string(), true, {256, 256});
    EXPECT_EQ(img.width, 144);
    EXPECT_EQ(img.height, 256);
    for (const char* file :
         {"streamio__broken.mp4", "rails__video_without_video_stream.mp4", "mp4ff__vvc_400kbps_2s.mp4"}) {
        ImageGenerator g(testsupport::sharedMedia(file).string());
        Error e;
        EXPECT_TRUE(g.copyFirstImage(&e).isNull()) << file;
        EXPECT_FALSE(e.description.empty()) << file;
        EXPECT_FALSE(e.failureReason.empty()) << file;
    }
}
