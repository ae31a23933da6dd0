#include "ZoomComposition.h"

#include <string>

namespace tavrio {

using media::Time;
using media::TimeRange;

std::vector<ZoomSegment> buildZoomSegments(const std::vector<ZoomValue>& samples, const Time& duration) {
    std::vector<ZoomSegment> segments;
    const size_t n = samples.size();
    if (n == 0 || !duration.isValid()) return segments;

    const TimeRange movie(Time(0, duration.timescale), duration);
    Time start(0, 600);
    size_t previous = 0;
    TimeRange lastClipped(Time(0, 600), Time(0, 600));

    for (size_t step = 0; step < n; ++step) {
        size_t candidate;
        Time length;
        if (step + 1 < n) {
            candidate = step + 1;
            length = Time::fromSeconds(samples[candidate].atTime() - samples[previous].atTime(), 600);
        } else {
            // The tail holds the last factor up to the end of the movie: the zoom the user
            // ended on, even when its entry came within a tick of the one before.
            previous = candidate = n - 1;
            length = duration - lastClipped.end();
        }
        if (!length.isValid()) continue;  // a non-finite time difference cannot place a segment

        TimeRange clipped = TimeRange(start, length).intersection(movie);
        lastClipped = clipped;
        if (clipped.isEmpty()) continue;

        segments.push_back({static_cast<int>(step), clipped, samples[previous].zoom(), samples[candidate].zoom()});
        start = clipped.end();
        previous = candidate;
    }
    return segments;
}

float zoomAtTime(const std::vector<ZoomSegment>& segments, const Time& time) {
    float z = 1.0f;
    const double t = time.seconds();
    for (const ZoomSegment& s : segments) {
        const double start = s.range.start.seconds(), length = s.range.duration.seconds();
        if (t < start) break;
        if (t < start + length && length > 0) return s.fromZoom + float((t - start) / length) * (s.toZoom - s.fromZoom);
        z = s.toZoom;
    }
    return z;
}

media::AffineTransform zoomTransform(float z, float width, float height) {
    const float theta = -0.00001f;
    const float k = (-1.0f / z) + 1.0f;
    const float tx0 = (-width * k) * 0.5f;
    const float ty0 = (-height * k) * 0.5f;
    return media::AffineTransform::identity().scaled(z, z).translated(tx0, ty0).rotated(theta);
}

namespace {

media::VideoComposition baseComposition(const VideoTrackFacts& track, const Time& duration) {
    media::VideoComposition composition;
    composition.renderSize = track.naturalSize;
    composition.frameDuration = Time(1, 30);
    media::CompositionInstruction instruction;
    instruction.timeRange = TimeRange(Time(0, duration.timescale), duration);
    media::LayerInstruction layer;
    layer.trackID = track.trackID;
    instruction.layerInstructions.push_back(layer);
    composition.instructions.push_back(instruction);
    return composition;
}

}  // namespace

media::VideoComposition makeRampComposition(const VideoTrackFacts& track, const Time& duration,
                                            const std::vector<ZoomSegment>& segments) {
    media::VideoComposition composition = baseComposition(track, duration);
    media::LayerInstruction& layer = composition.instructions.front().layerInstructions.front();
    const float w = static_cast<float>(track.naturalSize.width), h = static_cast<float>(track.naturalSize.height);
    for (const ZoomSegment& s : segments)
        layer.setTransformRamp(zoomTransform(s.fromZoom, w, h), zoomTransform(s.toZoom, w, h), s.range);
    return composition;
}

media::VideoComposition makeLayerComposition(const VideoTrackFacts& track, const Time& duration,
                                             const std::vector<ZoomSegment>& segments) {
    media::VideoComposition composition = baseComposition(track, duration);
    auto parent = std::make_shared<media::Layer>();
    auto video = std::make_shared<media::Layer>();
    parent->frame = {0, 0, static_cast<float>(track.naturalSize.width), static_cast<float>(track.naturalSize.height)};
    video->frame = parent->frame;
    for (const ZoomSegment& s : segments) {
        media::ScaleAnimation a;
        a.keyPath = "transform.scale";
        a.fromValue = s.fromZoom;
        a.toValue = s.toZoom;
        // 1e-100 is how a begin time of zero is told apart from "now"; for later segments the
        // sum is just the start.
        a.beginTime = s.range.start.seconds() + 1e-100;
        a.duration = s.range.duration.seconds();
        a.removedOnCompletion = false;
        a.fillMode = media::FillMode::Forwards;
        parent->addAnimation(a, "zoom" + std::to_string(s.step));
    }
    parent->addSublayer(video);
    composition.animationTool = media::AnimationTool{video, parent};
    return composition;
}

}  // namespace tavrio
