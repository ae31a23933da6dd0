#pragma once
// The pure half of the zoom export: how a zoom track becomes timed segments, the zoom transform
// of one factor, and the two composition forms built from them. No I/O, no Qt: the export job
// and the player feed it a movie's facts and its samples.

#include <optional>
#include <vector>

#include "media/AffineTransform.h"
#include "media/Time.h"
#include "media/VideoComposition.h"
#include "ZoomValue.h"

namespace tavrio {

struct ZoomSegment {
    int step = 0;  // the walk's step that produced it; steps that emit nothing still count
    media::TimeRange range;
    float fromZoom = 1.0f;
    float toZoom = 1.0f;
};

// The slider's range: a factor below 1 would shrink the picture (or black it out), one above 3
// was never recorded.
inline constexpr float kMinZoom = 1.0f;
inline constexpr float kMaxZoom = 3.0f;

// Walks the samples in order: each used sample ramps linearly to the next one whose time differs,
// the last sample's factor holds to the end (also when it came too soon after the one before to
// have a segment of its own), and everything is clipped to [0, duration).
std::vector<ZoomSegment> buildZoomSegments(const std::vector<ZoomValue>& samples, const media::Time& duration);

// The factor the segments give at `time`: the glide's value inside a segment, the last factor
// after them, 1 before them (or without any).
float zoomAtTime(const std::vector<ZoomSegment>& segments, const media::Time& time);

// Magnification by z about the centre of a width x height picture, preceded by a rotation of
// -0.00001 rad about the source origin; computed in 32-bit floats in a fixed order so that every
// export of the same track produces the same bits.
media::AffineTransform zoomTransform(float z, float width, float height);

struct VideoTrackFacts {
    int trackID = 0;
    media::Size naturalSize;
};

// The ramp form: one transform ramp M(from) -> M(to) per segment on the video track.
media::VideoComposition makeRampComposition(const VideoTrackFacts& track, const media::Time& duration,
                                            const std::vector<ZoomSegment>& segments);
// The layer form: the track untransformed; the parent layer scales about its centre with one
// "transform.scale" animation per segment, keyed "zoom<step>", each kept after its end.
media::VideoComposition makeLayerComposition(const VideoTrackFacts& track, const media::Time& duration,
                                             const std::vector<ZoomSegment>& segments);

}  // namespace tavrio
