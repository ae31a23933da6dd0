#include "media/VideoComposition.h"

#include <algorithm>
#include <cmath>

namespace media {

namespace {

// The begin time Core Animation reserves for "the start of the movie": 0 itself would mean "now".
constexpr double kBeginTimeAtZero = 1e-100;

double effectiveBegin(double beginTime) {
    return beginTime == kBeginTimeAtZero ? 0.0 : beginTime;
}

// Exact fraction of `t` through `r`, in double only at the final division.
double fractionThrough(const TimeRange& r, const Time& t) {
    double span = r.duration.seconds();
    if (!(span > 0)) return 1.0;
    double u = (t - r.start).seconds() / span;
    return std::clamp(u, 0.0, 1.0);
}

}  // namespace

AffineTransform LayerInstruction::transformAt(const Time& t) const {
    // The ramp that started last at or before t decides; a ramp later in the list wins a tie,
    // because setting a ramp over the same start replaces what was there.
    const TransformRamp* current = nullptr;
    for (const TransformRamp& r : ramps) {
        if (!r.range.start.isValid() || r.range.start > t) continue;
        if (!current || r.range.start >= current->range.start) current = &r;
    }
    if (!current) return AffineTransform::identity();
    if (current->range.isEmpty() || t >= current->range.end()) return current->end;
    return AffineTransform::lerp(current->start, current->end, fractionThrough(current->range, t));
}

void Layer::addAnimation(const ScaleAnimation& a, const std::string& key) {
    // Re-adding under a key removes the old animation; the new one goes last, so it wins over
    // every animation added before it.
    animations.erase(
        std::remove_if(animations.begin(), animations.end(), [&](const auto& entry) { return entry.first == key; }),
        animations.end());
    animations.emplace_back(key, a);
}

float Layer::scaleAt(double seconds) const {
    // Non-additive animations of one key path: each applicable one overrides what came before,
    // so the last-added applicable animation decides.
    for (auto it = animations.rbegin(); it != animations.rend(); ++it) {
        const ScaleAnimation& a = it->second;
        if (a.keyPath != "transform.scale") continue;
        double begin = effectiveBegin(a.beginTime);
        if (!(seconds >= begin)) continue;
        double elapsed = seconds - begin;
        if (a.duration > 0 && elapsed < a.duration) {
            double u = elapsed / a.duration;
            return static_cast<float>(a.fromValue + (static_cast<double>(a.toValue) - a.fromValue) * u);
        }
        // Finished (or zero-length): only a filled, kept animation still holds its end value.
        if (a.fillMode == FillMode::Forwards && !a.removedOnCompletion) return a.toValue;
    }
    return 1.0f;
}

AffineTransform VideoComposition::transformAt(const Time& t, int trackID) const {
    AffineTransform base = AffineTransform::identity();
    if (!instructions.empty()) {
        // Frames outside every instruction (rounding at the ends, gaps) use the nearest one, so
        // the picture never snaps back to unzoomed for a frame.
        const CompositionInstruction* best = nullptr;
        double bestDistance = INFINITY;
        double ts = t.seconds();
        for (const CompositionInstruction& ins : instructions) {
            if (ins.timeRange.contains(t)) {
                best = &ins;
                break;
            }
            double s = ins.timeRange.start.seconds(), e = ins.timeRange.end().seconds();
            double distance = ts < s ? s - ts : ts - e;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = &ins;
            }
        }
        if (!best) best = &instructions.front();
        // A time before the chosen instruction is evaluated at its start (after its end, the
        // last ramp's end transform holds anyway).
        Time at = t < best->timeRange.start ? best->timeRange.start : t;
        for (const LayerInstruction& li : best->layerInstructions) {
            if (li.trackID == trackID) {
                base = li.transformAt(at);
                break;
            }
        }
    }
    if (!animationTool || !animationTool->parentLayer) return base;

    const Layer& parent = *animationTool->parentLayer;
    double s = parent.scaleAt(t.seconds());
    if (s == 1.0) return base;
    // A layer scales about its anchor point, the centre of its bounds.
    double cx = parent.frame.width / 2.0, cy = parent.frame.height / 2.0;
    AffineTransform aboutCentre{
        static_cast<float>(s),          0, 0, static_cast<float>(s), static_cast<float>(cx - s * cx),
        static_cast<float>(cy - s * cy)};
    return base.concat(aboutCentre);
}

}  // namespace media
