#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "media/VideoComposition.h"

using namespace media;

namespace {

// The ramp form's zoom transform for a 1280x720 picture (magnify about the centre, after the
// tiny rotation the form carries).
AffineTransform zoom(float z) {
    float k = -1.0f / z + 1.0f;
    return AffineTransform::makeScale(z, z).translated((-1280 * k) * 0.5f, (-720 * k) * 0.5f).rotated(-9.9999997e-06f);
}

Time sec(double s) {
    return Time::fromSeconds(s, 600);
}

ScaleAnimation scale(float from, float to, double begin, double duration, bool kept = true) {
    ScaleAnimation a;
    a.fromValue = from;
    a.toValue = to;
    a.beginTime = begin;
    a.duration = duration;
    a.removedOnCompletion = !kept;
    a.fillMode = kept ? FillMode::Forwards : FillMode::Removed;
    return a;
}

}  // namespace

TEST(LayerInstruction, RampsInterpolateHoldAndLeaveGapsAtTheLastEnd) {
    LayerInstruction li;
    li.trackID = 1;
    EXPECT_TRUE(li.transformAt(sec(3)).isIdentity());

    // A ramp that starts late: the identity before it.
    li.setTransformRamp(zoom(1), zoom(2), TimeRange(sec(1), sec(1)));
    li.setTransformRamp(zoom(3), zoom(3), TimeRange(sec(4), sec(2)));
    EXPECT_TRUE(li.transformAt(sec(0.5)).isIdentity());
    EXPECT_EQ(li.transformAt(sec(1)), zoom(1));

    // Halfway: every field halfway, so the picture stays centred at zoom 1.5.
    AffineTransform mid = li.transformAt(sec(1.5));
    EXPECT_NEAR(mid.a, 1.5, 1e-6);
    EXPECT_NEAR(mid.tx, -320, 1e-3);
    EXPECT_NEAR(mid.ty, -180, 1e-3);
    EXPECT_NEAR(mid.b, -1.5e-5, 1e-9);

    // The end is exclusive; the end transform holds across the gap until the next ramp.
    EXPECT_EQ(li.transformAt(sec(2)), zoom(2));
    EXPECT_EQ(li.transformAt(sec(3.9)), zoom(2));
    EXPECT_EQ(li.transformAt(sec(4)), zoom(3));
    EXPECT_EQ(li.transformAt(sec(100)), zoom(3));
}

TEST(LayerInstruction, RampsOnFinerTimescalesInterpolateExactly) {
    // 1/30 s frames against 1/600 s ramps: the fraction must come from exact time arithmetic.
    LayerInstruction li;
    li.setTransformRamp(AffineTransform::makeTranslation(0, 0), AffineTransform::makeTranslation(30, 0),
                        TimeRange(Time(0, 600), Time(600, 600)));
    EXPECT_NEAR(li.transformAt(Time(7, 30)).tx, 7, 1e-5);
    EXPECT_NEAR(li.transformAt(Time(29, 30)).tx, 29, 1e-5);
}

TEST(Layer, ScaleAnimationsFollowOverrideAndFillRules) {
    Layer layer;
    layer.frame = {0, 0, 1280, 720};
    EXPECT_EQ(layer.scaleAt(5), 1.0f);

    // Segments as the builder makes them: zoom0 from the movie's start, zoom2 after a dropped step.
    layer.addAnimation(scale(1, 2, 1e-100, 1.5), "zoom0");
    layer.addAnimation(scale(2, 2, 1.5, 2.5), "zoom2");
    EXPECT_FLOAT_EQ(layer.scaleAt(0), 1.0f);  // 1e-100 is the movie's start, not "later"
    EXPECT_FLOAT_EQ(layer.scaleAt(0.75), 1.5f);
    EXPECT_FLOAT_EQ(layer.scaleAt(1.5), 2.0f);
    EXPECT_FLOAT_EQ(layer.scaleAt(3.9), 2.0f);
    EXPECT_FLOAT_EQ(layer.scaleAt(60), 2.0f);  // kept after completion

    // A later animation that is not kept wins only while it runs; before its begin time the
    // earlier kept value shows through.
    layer.addAnimation(scale(3, 1, 10, 2, false), "flash");
    EXPECT_FLOAT_EQ(layer.scaleAt(9.99), 2.0f);
    EXPECT_FLOAT_EQ(layer.scaleAt(11), 2.0f);  // halfway from 3 to 1
    EXPECT_FLOAT_EQ(layer.scaleAt(10.5), 2.5f);
    EXPECT_FLOAT_EQ(layer.scaleAt(12), 2.0f);

    // Re-adding a key replaces the old animation and puts the new one last, so its kept end
    // value now overrides zoom2 even while zoom2 runs.
    layer.addAnimation(scale(1.25f, 1.25f, 1e-100, 1), "zoom0");
    EXPECT_EQ(layer.animations.size(), 3u);
    EXPECT_FLOAT_EQ(layer.scaleAt(0.5), 1.25f);
    EXPECT_FLOAT_EQ(layer.scaleAt(2), 1.25f);
}

TEST(Layer, ZeroDurationJumpsAndOtherKeyPathsAreIgnored) {
    Layer layer;
    layer.addAnimation(scale(1, 3, 2, 0), "jump");
    EXPECT_FLOAT_EQ(layer.scaleAt(1.99), 1.0f);
    EXPECT_FLOAT_EQ(layer.scaleAt(2), 3.0f);
    ScaleAnimation other = scale(5, 5, 1e-100, 100);
    other.keyPath = "opacity";
    layer.addAnimation(other, "fade");
    EXPECT_FLOAT_EQ(layer.scaleAt(3), 3.0f);
}

TEST(VideoComposition, RampFormPicksInstructionAndTrack) {
    VideoComposition c;
    c.renderSize = {1280, 720};
    CompositionInstruction first, second;
    first.timeRange = TimeRange(sec(0), sec(2));
    second.timeRange = TimeRange(sec(3), sec(2));
    LayerInstruction a, b;
    a.trackID = 1;
    a.setTransformRamp(zoom(1), zoom(2), TimeRange(sec(0), sec(2)));
    b.trackID = 1;
    b.setTransformRamp(zoom(3), zoom(3), TimeRange(sec(3), sec(2)));
    first.layerInstructions = {a};
    second.layerInstructions = {b};
    c.instructions = {first, second};

    EXPECT_EQ(c.filter(), ResampleFilter::Bilinear);
    EXPECT_NEAR(c.transformAt(sec(1), 1).a, 1.5, 1e-6);
    EXPECT_TRUE(c.transformAt(sec(1), 7).isIdentity());  // no layer instruction for that track
    // Before the first and after the last instruction, and in a gap: the nearest instruction.
    EXPECT_EQ(c.transformAt(Time(-1, 30), 1), zoom(1));
    EXPECT_EQ(c.transformAt(sec(2.2), 1), zoom(2));
    EXPECT_EQ(c.transformAt(sec(2.8), 1), zoom(3));
    EXPECT_EQ(c.transformAt(sec(5), 1), zoom(3));  // the frame at the very end
}

TEST(VideoComposition, LayerFormScalesAboutTheParentCentreAfterTheTrackTransform) {
    VideoComposition c;
    c.renderSize = {1280, 720};
    CompositionInstruction ins;
    ins.timeRange = TimeRange(sec(0), sec(4));
    LayerInstruction li;
    li.trackID = 1;
    // A track transform that moves the picture: the scale must apply to its result.
    li.setTransformRamp(AffineTransform::makeTranslation(10, 0), AffineTransform::makeTranslation(10, 0),
                        TimeRange(sec(0), sec(4)));
    ins.layerInstructions = {li};
    c.instructions = {ins};
    auto parent = std::make_shared<Layer>(), video = std::make_shared<Layer>();
    parent->frame = video->frame = {0, 0, 1280, 720};
    parent->addAnimation(scale(1, 3, 1e-100, 2), "zoom0");
    parent->addSublayer(video);
    c.animationTool = AnimationTool{video, parent};
    EXPECT_EQ(c.filter(), ResampleFilter::HighQuality);

    AffineTransform t = c.transformAt(sec(1), 1);  // scale 2
    Point centre = t.apply({630, 360});            // lands on the frame centre after the move
    EXPECT_NEAR(centre.x, 640, 1e-3);
    EXPECT_NEAR(centre.y, 360, 1e-3);
    Point corner = t.apply({-10, 0});
    EXPECT_NEAR(corner.x, -640, 1e-3);
    EXPECT_NEAR(corner.y, -360, 1e-3);
    EXPECT_NEAR(c.transformAt(sec(3.5), 1).a, 3, 1e-6);  // kept past the animation's end
    EXPECT_EQ(c.transformAt(sec(0), 1), AffineTransform::makeTranslation(10, 0));
}
