#pragma once
// The zoom over a movie's time, as every renderer shows it: built once from the zoom track's
// entries and the movie's duration, then asked for the factor or the transform at any time with
// one binary search. The export's two filters, the player and the zoom band all read the same
// curve, so what the preview shows is what the export gives.
//
// The rules, in the order the builder applies them:
//  - an entry with a zero, negative or non-finite factor or a non-finite time makes the whole
//    curve unzoomed (notes().unusable names it): a damaged track must not divide by zero;
//  - factors outside the slider's kMinZoom..kMaxZoom are clamped (notes().clamped counts them);
//  - each entry glides linearly to the next entry whose time differs, in ticks of 1/600 s, and
//    a step that moves back in time or rounds to nothing is skipped;
//  - the last entry's factor holds to the end, also when it came within a tick of the one before;
//  - everything is clipped to [0, duration); an entry 0 timed after every other entry leaves the
//    others nothing to glide over (notes().firstAfterOthers), so only the last factor applies.

#include <cstddef>
#include <string>
#include <vector>

#include "media/AffineTransform.h"
#include "media/Size.h"
#include "media/Time.h"

namespace media {

// One entry of a zoom track: the factor the slider showed (a float, as the slider gives it) and
// when, in seconds since the movie's first picture.
struct ZoomEntry {
    float zoom = 1.0f;
    double atTime = 0.0;
    bool operator==(const ZoomEntry&) const = default;
};

// Magnification by z about the centre of a width x height picture, preceded by a rotation of
// -0.00001 rad about the source origin; computed in 32-bit floats in a fixed order so that every
// export of the same track produces the same bits.
AffineTransform zoomTransform(float z, float width, float height);

class ZoomCurve {
public:
    // The slider's range: a factor below 1 would shrink the picture (or black it out), one above
    // 3 was never recorded.
    static constexpr float kMinZoom = 1.0f;
    static constexpr float kMaxZoom = 3.0f;
    // The ticks the glides are placed in.
    static constexpr int32_t kTimescale = 600;

    // One glide: `fromZoom` at range.start, linearly to `toZoom` at range.end().
    struct Segment {
        TimeRange range;
        float fromZoom = 1.0f;
        float toZoom = 1.0f;
    };
    // What the builder corrected or could not use, for the caller to report once.
    struct Notes {
        std::string unusable;  // the first unusable entry, empty when there is none
        size_t clamped = 0;    // factors outside kMinZoom..kMaxZoom
        bool firstAfterOthers = false;
    };

    // Unzoomed.
    ZoomCurve() = default;
    ZoomCurve(const std::vector<ZoomEntry>& entries, const Time& duration);

    // Whether the builder can use the entry at all.
    static bool isUsable(const ZoomEntry& e);

    bool isEmpty() const { return segments_.empty(); }
    const std::vector<Segment>& segments() const { return segments_; }
    const Notes& notes() const { return notes_; }

    // The factor at `t`: the glide's value inside a segment, the last factor after them, 1
    // before them or without any. What the zoom band draws and the zoom-again slider follows.
    float zoomAt(const Time& t) const;
    // The source-to-output transform of a width x height picture at `t`, as each filter has
    // always rendered it. Bilinear: the zoom transforms of a glide's two ends interpolated field
    // by field (a time before the movie counts as its start). High quality: the interpolated
    // factor as a plain scale about the centre, no rotation, so zimg's separable path takes it.
    AffineTransform rampTransformAt(const Time& t, Size size) const;
    AffineTransform scaleTransformAt(const Time& t, Size size) const;

private:
    // The segment that started last at or before t (by exact time / by seconds); -1 for none.
    ptrdiff_t segmentAt(const Time& t) const;
    ptrdiff_t segmentAtSeconds(double seconds) const;

    std::vector<Segment> segments_;
    Notes notes_;
};

}  // namespace media
