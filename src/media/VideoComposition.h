#pragma once
// A description of how to render a movie's video again: render size, frame rate, and the
// geometry of the source picture at every moment. Two forms exist:
//  - transform ramps on a layer instruction (rendered with bilinear filtering);
//  - a layer tree whose parent layer carries "transform.scale" animations (rendered with a
//    high-quality separable filter).
// Both are plain data; evaluation at a time gives the source-to-output transform.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/AffineTransform.h"
#include "media/Size.h"
#include "media/Time.h"

namespace media {

struct Rect {
    float x = 0, y = 0, width = 0, height = 0;
};

struct TransformRamp {
    AffineTransform start;
    AffineTransform end;
    TimeRange range;
};

// Geometry of one video track within an instruction.
struct LayerInstruction {
    int trackID = 0;  // the source track's id (Asset track id)
    std::vector<TransformRamp> ramps;

    void setTransformRamp(const AffineTransform& from, const AffineTransform& to, const TimeRange& r) {
        ramps.push_back({from, to, r});
    }
    // The transform at time t: inside a ramp, the fields interpolated linearly over its range;
    // after a ramp's end its end transform holds; before the first ramp, the identity.
    AffineTransform transformAt(const Time& t) const;
};

struct CompositionInstruction {
    TimeRange timeRange;
    std::vector<LayerInstruction> layerInstructions;
};

enum class FillMode { Removed, Forwards };

// A basic animation of a layer's "transform.scale", linear over [beginTime, beginTime + duration).
struct ScaleAnimation {
    std::string keyPath = "transform.scale";
    float fromValue = 1;
    float toValue = 1;
    double beginTime = 0;  // seconds of movie time; 1e-100 stands for time 0
    double duration = 0;   // seconds
    bool removedOnCompletion = true;
    FillMode fillMode = FillMode::Removed;
};

struct Layer {
    Rect frame;
    std::vector<std::pair<std::string, ScaleAnimation>> animations;  // in the order added
    std::vector<std::shared_ptr<Layer>> sublayers;

    void addAnimation(const ScaleAnimation& a, const std::string& key);  // replaces an equal key
    void addSublayer(std::shared_ptr<Layer> l) { sublayers.push_back(std::move(l)); }
    // The scale at time t: the value of the last-added animation that is running at t or whose
    // end value it keeps (fill forwards, not removed); 1 when none applies. A zero duration
    // jumps to the end value at the begin time.
    float scaleAt(double seconds) const;
};

struct AnimationTool {
    std::shared_ptr<Layer> videoLayer;   // where the rendered video frames go
    std::shared_ptr<Layer> parentLayer;  // the root of the tree, holds the animations
};

enum class ResampleFilter { Bilinear, HighQuality };

struct VideoComposition {
    Size renderSize;
    Time frameDuration = Time(1, 30);
    std::vector<CompositionInstruction> instructions;
    std::optional<AnimationTool> animationTool;

    // The transform from source pixel coordinates (pixel (i, j) covers [i, i+1) x [j, j+1)) to
    // output pixel coordinates at time t, for the given source track. Layer animations scale
    // about the centre of the parent layer's frame. A time outside every instruction uses the
    // nearest instruction (at its start, when t lies before it).
    AffineTransform transformAt(const Time& t, int trackID) const;
    // The layer form renders with a high-quality filter, the ramp form bilinearly.
    ResampleFilter filter() const { return animationTool ? ResampleFilter::HighQuality : ResampleFilter::Bilinear; }
};

}  // namespace media
