#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "media/VideoComposition.h"
#include "media/ZoomCurve.h"

using namespace media;

namespace {

Time secs(double s) {
    return Time::fromSeconds(s, 600);
}

std::vector<ZoomCurve::Segment> segmentsOf(const std::vector<ZoomEntry>& entries, const Time& duration) {
    return ZoomCurve(entries, duration).segments();
}

void expectSegment(const ZoomCurve::Segment& s, double from, double to, float z0, float z1) {
    EXPECT_EQ(s.range.start, secs(from)) << s.range.start.toString();
    EXPECT_EQ(s.range.end(), secs(to)) << s.range.end().toString();
    EXPECT_EQ(s.fromZoom, z0);
    EXPECT_EQ(s.toZoom, z1);
}

}  // namespace

TEST(ZoomTransform, MagnifiesAboutTheCentreWithTheTinyRotation) {
    const float cosT = std::cos(-0.00001f), sinT = std::sin(-0.00001f);
    auto m1 = zoomTransform(1.0f, 1280, 720);
    EXPECT_EQ(m1.tx, 0.0f);
    EXPECT_EQ(m1.ty, 0.0f);
    EXPECT_EQ(m1.a, cosT);
    EXPECT_EQ(m1.d, cosT);

    auto m2 = zoomTransform(2.0f, 1280, 720);
    EXPECT_EQ(m2.tx, -640.0f);
    EXPECT_EQ(m2.ty, -360.0f);
    EXPECT_EQ(m2.a, 2.0f * cosT);
    EXPECT_EQ(m2.b, 2.0f * sinT);

    // The centre stays put for any factor, but for the drift of the tiny rotation about the
    // origin (z * 960 px * 1e-5 rad, under 0.03 px).
    for (float z : {1.0f, 1.37f, 2.5f, 3.0f}) {
        auto p = zoomTransform(z, 1920, 1080).apply({960, 540});
        EXPECT_NEAR(p.x, 960, 0.04) << z;
        EXPECT_NEAR(p.y, 540, 0.04) << z;
    }
}

TEST(ZoomCurve, GlidesHoldsDropsAndClips) {
    // No track: the movie as it is.
    EXPECT_TRUE(segmentsOf({}, secs(10)).empty());
    EXPECT_TRUE(segmentsOf({{1.5f, 0.0}}, Time::invalid()).empty());

    // One entry holds for the whole movie.
    auto one = segmentsOf({{1.5f, 0.0}}, secs(10));
    ASSERT_EQ(one.size(), 1u);
    expectSegment(one[0], 0, 10, 1.5f, 1.5f);

    // A repeated time is dropped.
    auto dup = segmentsOf({{1.0f, 0.0}, {2.0f, 1.5}, {2.0f, 1.5}}, secs(4));
    ASSERT_EQ(dup.size(), 2u);
    expectSegment(dup[0], 0, 1.5, 1.0f, 2.0f);
    expectSegment(dup[1], 1.5, 4, 2.0f, 2.0f);

    // A glide that runs past the end is compressed: the factor still arrives, at the end.
    auto past = segmentsOf({{1.0f, 0.0}, {3.0f, 5.0}}, secs(4));
    ASSERT_EQ(past.size(), 1u);
    expectSegment(past[0], 0, 4, 1.0f, 3.0f);

    // Entries at or beyond the end add nothing once the end is reached.
    auto beyond = segmentsOf({{1.0f, 0.0}, {2.0f, 3.0}, {2.5f, 7.0}, {3.0f, 9.0}}, secs(3));
    ASSERT_EQ(beyond.size(), 1u);
    expectSegment(beyond[0], 0, 3, 1.0f, 2.0f);

    // A step back in time is skipped; the glide goes on from the entry before it.
    auto back = segmentsOf({{1.0f, 0.0}, {2.0f, 1.0}, {3.0f, 0.5}, {1.5f, 2.0}}, secs(3));
    ASSERT_EQ(back.size(), 3u);
    expectSegment(back[1], 1, 2, 2.0f, 1.5f);
}

TEST(ZoomCurve, CoversTheMovieWithoutGapsOnAwkwardTimes) {
    // Times that do not fall on 1/600 s and a duration on another timescale (as demuxers give).
    std::vector<ZoomEntry> entries{{1.0f, 0.0}};
    double t = 0;
    for (int i = 1; i < 200; ++i) {
        t += 0.0173 * (1 + i % 7);
        entries.push_back({1.0f + static_cast<float>(i % 20) / 10.0f, t});
    }
    const Time duration(1234567, 90000);  // 13.717 s
    auto segments = segmentsOf(entries, duration);
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.front().range.start, Time::zero());
    for (size_t i = 1; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].range.start, segments[i - 1].range.end());
        EXPECT_EQ(segments[i].fromZoom, segments[i - 1].toZoom);
    }
    EXPECT_EQ(segments.back().range.end(), duration);
}

TEST(ZoomCurve, UnusableEntriesUnzoomAndOddOnesAreNoted) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (ZoomEntry bad : {ZoomEntry{0.0f, 1.0}, ZoomEntry{-2.0f, 1.0}, ZoomEntry{nan, 1.0},
                          ZoomEntry{2.0f, double(INFINITY)}, ZoomEntry{INFINITY, 1.0}}) {
        ZoomCurve c({{1.0f, 0.0}, bad, {2.0f, 2.0}}, secs(4));
        EXPECT_TRUE(c.isEmpty());
        EXPECT_FALSE(c.notes().unusable.empty());
        EXPECT_TRUE(c.rampTransformAt(secs(1), {320, 240}).isIdentity());
    }
    // Factors outside the slider's range are clamped and counted.
    ZoomCurve clamped({{0.5f, 0.0}, {7.0f, 1.0}, {2.0f, 2.0}}, secs(4));
    EXPECT_EQ(clamped.notes().clamped, 2u);
    EXPECT_EQ(clamped.zoomAt(secs(0)), 1.0f);
    EXPECT_EQ(clamped.zoomAt(secs(1)), 3.0f);
    EXPECT_FALSE(clamped.notes().firstAfterOthers);
    // Entry 0 after all others leaves only the last factor.
    ZoomCurve late({{1.0f, 9.0}, {2.0f, 0.1}, {2.5f, 0.2}}, secs(4));
    EXPECT_TRUE(late.notes().firstAfterOthers);
    EXPECT_EQ(late.zoomAt(secs(3)), 2.5f);
}

TEST(ZoomCurve, PassesThroughEveryEntryOfALongTrack) {
    // Entries on whole ticks: the curve shows each factor at its entry's time, wherever in a
    // long track it lies, and glides halfway between two.
    std::vector<ZoomEntry> entries;
    for (int i = 0; i < 20000; ++i) entries.push_back({1.0f + float(i % 9) * 0.25f, i * 0.1});
    const ZoomCurve c(entries, secs(2000));
    ASSERT_EQ(c.segments().size(), entries.size());
    for (int i = 0; i + 1 < int(entries.size()); i += 37) {
        EXPECT_EQ(c.zoomAt(secs(i * 0.1)), entries[size_t(i)].zoom) << i;
        EXPECT_FLOAT_EQ(c.zoomAt(Time(i * 60 + 30, 600)), (entries[size_t(i)].zoom + entries[size_t(i + 1)].zoom) / 2)
            << i;
    }
    EXPECT_EQ(c.zoomAt(secs(1999.99)), entries.back().zoom);  // the last holds
    EXPECT_EQ(c.zoomAt(Time(-1, 600)), 1.0f);
}

TEST(VideoComposition, BothFormsRenderTheSameZoomFromOneCurve) {
    const Size size{1280, 720};
    auto curve = std::make_shared<const ZoomCurve>(
        std::vector<ZoomEntry>{{1.0f, 0.0}, {2.0f, 1.5}, {2.0f, 1.5}, {1.5f, 3.0}}, secs(4));
    const VideoComposition ramp = makeRampComposition(size, curve), layer = makeLayerComposition(size, curve);
    for (const VideoComposition* c : {&ramp, &layer}) {
        EXPECT_EQ(c->renderSize, size);
        EXPECT_EQ(c->frameDuration, Time(1, 30));
        EXPECT_EQ(c->zoom, curve);
    }
    EXPECT_EQ(ramp.filter, ResampleFilter::Bilinear);
    EXPECT_EQ(layer.filter, ResampleFilter::HighQuality);

    // A point lands at the same place through either form (up to the ramp form's rotation).
    for (double t : {0.0, 0.75, 1.5, 2.2, 3.0, 3.9, 10.0}) {
        const Time when = secs(t);
        const Point pr = ramp.transformAt(when).apply({100, 600}), pl = layer.transformAt(when).apply({100, 600});
        EXPECT_NEAR(pr.x, pl.x, 0.05) << t;
        EXPECT_NEAR(pr.y, pl.y, 0.05) << t;
        // The layer form is a plain scale, which the high-quality filter resamples separably.
        const AffineTransform m = layer.transformAt(when);
        EXPECT_EQ(m.b, 0.0f);
        EXPECT_EQ(m.c, 0.0f);
        EXPECT_NEAR(m.a, curve->zoomAt(when), 1e-6) << t;
    }
    EXPECT_NEAR(layer.transformAt(Time(450, 600)).a, 1.5, 1e-6);  // halfway through the first glide
    EXPECT_EQ(ramp.transformAt(secs(1.5)), zoomTransform(2.0f, 1280, 720));
    // A frame before the movie takes the movie's first transform in the ramp form.
    EXPECT_EQ(ramp.transformAt(Time(-1, 30)), zoomTransform(1.0f, 1280, 720));
    // Without a curve, or with an unzoomed one, the picture is left as it is.
    EXPECT_TRUE(makeRampComposition(size, nullptr).transformAt(secs(1)).isIdentity());
    EXPECT_TRUE(makeLayerComposition(size, std::make_shared<const ZoomCurve>()).transformAt(secs(1)).isIdentity());
}
