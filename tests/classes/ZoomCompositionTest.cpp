#include <gtest/gtest.h>

#include <cmath>

#include "ZoomComposition.h"

using namespace tavrio;
using media::Time;
using media::TimeRange;

namespace {

Time secs(double s) {
    return Time::fromSeconds(s, 600);
}

void expectSegment(const ZoomSegment& s, int step, double from, double to, float z0, float z1) {
    EXPECT_EQ(s.step, step);
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
    EXPECT_NEAR(m2.b, -0.00002, 1e-9);
    EXPECT_NEAR(m2.c, 0.00002, 1e-9);

    auto m3 = zoomTransform(3.0f, 1280, 720);
    EXPECT_FLOAT_EQ(m3.tx, -1280.0f);  // 1/3 is not exact in binary: within a few ulps
    EXPECT_FLOAT_EQ(m3.ty, -720.0f);

    // The centre stays put for any factor, but for the drift of the tiny rotation about the
    // origin (z * 960 px * 1e-5 rad, under 0.03 px).
    for (float z : {1.0f, 1.37f, 2.5f, 3.0f}) {
        auto p = zoomTransform(z, 1920, 1080).apply({960, 540});
        EXPECT_NEAR(p.x, 960, 0.04) << z;
        EXPECT_NEAR(p.y, 540, 0.04) << z;
    }
}

TEST(ZoomSegments, WalkRampsHoldsDropsAndClips) {
    // No track: nothing to render but the movie as it is.
    EXPECT_TRUE(buildZoomSegments({}, secs(10)).empty());

    // One sample holds for the whole movie.
    auto one = buildZoomSegments({{1.5f, 0.0}}, secs(10));
    ASSERT_EQ(one.size(), 1u);
    expectSegment(one[0], 0, 0, 10, 1.5f, 1.5f);

    // A repeated time is dropped; the walk's step numbers keep counting.
    auto dup = buildZoomSegments({{1.0f, 0.0}, {2.0f, 1.5}, {2.0f, 1.5}}, secs(4));
    ASSERT_EQ(dup.size(), 2u);
    expectSegment(dup[0], 0, 0, 1.5, 1.0f, 2.0f);
    expectSegment(dup[1], 2, 1.5, 4, 2.0f, 2.0f);
    EXPECT_EQ(dup[0].range.duration, Time(900, 600));

    // A ramp that runs past the end is compressed: the factor still arrives, at the end.
    auto past = buildZoomSegments({{1.0f, 0.0}, {3.0f, 5.0}}, secs(4));
    ASSERT_EQ(past.size(), 1u);
    expectSegment(past[0], 0, 0, 4, 1.0f, 3.0f);

    auto three = buildZoomSegments({{1.0f, 0.0}, {2.0f, 1.0}, {1.0f, 2.0}}, secs(3));
    ASSERT_EQ(three.size(), 3u);
    expectSegment(three[0], 0, 0, 1, 1.0f, 2.0f);
    expectSegment(three[1], 1, 1, 2, 2.0f, 1.0f);
    expectSegment(three[2], 2, 2, 3, 1.0f, 1.0f);

    // Samples at or beyond the end add nothing once the end is reached.
    auto beyond = buildZoomSegments({{1.0f, 0.0}, {2.0f, 3.0}, {2.5f, 7.0}, {3.0f, 9.0}}, secs(3));
    ASSERT_EQ(beyond.size(), 1u);
    expectSegment(beyond[0], 0, 0, 3, 1.0f, 2.0f);
}

TEST(ZoomSegments, CoverTheMovieWithoutGapsOnAwkwardTimes) {
    // Times that do not fall on 1/600 s and a duration on another timescale (as demuxers give).
    std::vector<ZoomValue> samples{{1.0f, 0.0}};
    double t = 0;
    for (int i = 1; i < 200; ++i) {
        t += 0.0173 * (1 + i % 7);
        samples.push_back({1.0f + static_cast<float>(i % 20) / 10.0f, t});
    }
    Time duration(1234567, 90000);  // 13.717 s
    auto segments = buildZoomSegments(samples, duration);
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.front().range.start, Time::zero());
    for (size_t i = 1; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].range.start, segments[i - 1].range.end());
        EXPECT_EQ(segments[i].fromZoom, segments[i - 1].toZoom);
        EXPECT_GT(segments[i].step, segments[i - 1].step);
    }
    EXPECT_EQ(segments.back().range.end(), duration);

    // A sample exactly at the end ramps right up to it and leaves no tail.
    auto atEnd = buildZoomSegments({{1.0f, 0.0}, {2.0f, 2.0}}, secs(2));
    ASSERT_EQ(atEnd.size(), 1u);
    expectSegment(atEnd[0], 0, 0, 2, 1.0f, 2.0f);
}

TEST(ZoomCompositions, BothFormsDescribeTheSameZoom) {
    VideoTrackFacts track{1, {1280, 720}};
    auto segments = buildZoomSegments({{1.0f, 0.0}, {2.0f, 1.5}, {2.0f, 1.5}, {1.5f, 3.0}}, secs(4));
    auto ramp = makeRampComposition(track, secs(4), segments);
    auto layer = makeLayerComposition(track, secs(4), segments);

    for (const auto* c : {&ramp, &layer}) {
        EXPECT_EQ(c->renderSize, (media::Size{1280, 720}));
        EXPECT_EQ(c->frameDuration, Time(1, 30));
        ASSERT_EQ(c->instructions.size(), 1u);
        EXPECT_EQ(c->instructions[0].timeRange, TimeRange(Time::zero(), secs(4)));
        ASSERT_EQ(c->instructions[0].layerInstructions.size(), 1u);
        EXPECT_EQ(c->instructions[0].layerInstructions[0].trackID, 1);
    }
    EXPECT_EQ(ramp.instructions[0].layerInstructions[0].ramps.size(), segments.size());
    EXPECT_TRUE(layer.instructions[0].layerInstructions[0].ramps.empty());
    ASSERT_TRUE(layer.animationTool.has_value());
    const auto& anims = layer.animationTool->parentLayer->animations;
    ASSERT_EQ(anims.size(), 3u);
    EXPECT_EQ(anims[0].first, "zoom0");
    EXPECT_EQ(anims[1].first, "zoom2");
    EXPECT_EQ(anims[2].first, "zoom3");
    EXPECT_EQ(anims[0].second.beginTime, 1e-100);
    EXPECT_EQ(anims[1].second.beginTime, 1.5);
    EXPECT_FALSE(anims[1].second.removedOnCompletion);
    EXPECT_EQ(ramp.filter(), media::ResampleFilter::Bilinear);
    EXPECT_EQ(layer.filter(), media::ResampleFilter::HighQuality);

    // Evaluated, the two forms put a point at the same place (up to the ramp form's rotation).
    for (double t : {0.0, 0.75, 1.5, 2.2, 3.0, 3.9}) {
        Time when = Time::fromSeconds(t, 600);
        auto pr = ramp.transformAt(when, 1).apply({100, 600});
        auto pl = layer.transformAt(when, 1).apply({100, 600});
        EXPECT_NEAR(pr.x, pl.x, 0.05) << t;
        EXPECT_NEAR(pr.y, pl.y, 0.05) << t;
    }
    // Halfway through the first ramp the factor is 1.5.
    auto mid = layer.transformAt(Time(450, 600), 1);
    EXPECT_NEAR(mid.a, 1.5, 1e-6);
}
