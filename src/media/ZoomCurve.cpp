#include "media/ZoomCurve.h"

#include <algorithm>
#include <cmath>

namespace media {

AffineTransform zoomTransform(float z, float width, float height) {
    const float theta = -0.00001f;
    const float k = (-1.0f / z) + 1.0f;
    const float tx0 = (-width * k) * 0.5f;
    const float ty0 = (-height * k) * 0.5f;
    return AffineTransform::identity().scaled(z, z).translated(tx0, ty0).rotated(theta);
}

bool ZoomCurve::isUsable(const ZoomEntry& e) {
    return std::isfinite(e.zoom) && e.zoom > 0.0f && std::isfinite(e.atTime);
}

ZoomCurve::ZoomCurve(const std::vector<ZoomEntry>& entries, const Time& duration) {
    const size_t n = entries.size();
    for (size_t i = 0; i < n; ++i) {
        if (isUsable(entries[i])) continue;
        notes_.unusable = "entry " + std::to_string(i) + " has factor " + std::to_string(entries[i].zoom) +
                          " at time " + std::to_string(entries[i].atTime);
        return;
    }
    for (const ZoomEntry& e : entries)
        if (!(e.zoom >= kMinZoom && e.zoom <= kMaxZoom)) ++notes_.clamped;
    if (n > 1) {
        bool laterThanAll = true;
        for (size_t i = 1; i < n && laterThanAll; ++i) laterThanAll = entries[i].atTime < entries[0].atTime;
        notes_.firstAfterOthers = laterThanAll;
    }
    if (n == 0 || !duration.isValid()) return;

    auto zoomOf = [&](size_t i) { return std::clamp(entries[i].zoom, kMinZoom, kMaxZoom); };
    // At most one segment an entry: made in place, a long track's curve never grows by copying.
    segments_.reserve(n);
    const TimeRange movie(Time(0, duration.timescale), duration);
    Time start(0, kTimescale);
    size_t previous = 0;
    TimeRange lastClipped(Time(0, kTimescale), Time(0, kTimescale));
    for (size_t step = 0; step < n; ++step) {
        size_t candidate;
        Time length;
        if (step + 1 < n) {
            candidate = step + 1;
            length = Time::fromSeconds(entries[candidate].atTime - entries[previous].atTime, kTimescale);
        } else {
            // The tail holds the last factor up to the end of the movie: the zoom the user
            // ended on, even when its entry came within a tick of the one before.
            previous = candidate = n - 1;
            length = duration - lastClipped.end();
        }
        if (!length.isValid()) continue;  // a time difference too large for a tick count

        const TimeRange clipped = TimeRange(start, length).intersection(movie);
        lastClipped = clipped;
        if (clipped.isEmpty()) continue;

        segments_.push_back({clipped, zoomOf(previous), zoomOf(candidate)});
        start = clipped.end();
        previous = candidate;
    }
}

ptrdiff_t ZoomCurve::segmentAt(const Time& t) const {
    // Segments follow each other without overlap, so the last one starting at or before t
    // decides.
    auto after = std::upper_bound(segments_.begin(), segments_.end(), t,
                                  [](const Time& at, const Segment& s) { return at < s.range.start; });
    return (after - segments_.begin()) - 1;
}

namespace {

// A segment's start in seconds as the high-quality form has always placed it: a glide from the
// movie's very start begins at 0, every later one at its start's seconds.
double beginSeconds(const ZoomCurve::Segment& s) {
    const double begin = s.range.start.seconds() + 1e-100;
    return begin == 1e-100 ? 0.0 : begin;
}

}  // namespace

ptrdiff_t ZoomCurve::segmentAtSeconds(double seconds) const {
    auto after = std::partition_point(segments_.begin(), segments_.end(),
                                      [seconds](const Segment& s) { return beginSeconds(s) <= seconds; });
    return (after - segments_.begin()) - 1;
}

float ZoomCurve::zoomAt(const Time& t) const {
    const ptrdiff_t i = segmentAt(t);
    if (i < 0) return 1.0f;
    const Segment& s = segments_[size_t(i)];
    const double seconds = t.seconds(), start = s.range.start.seconds(), length = s.range.duration.seconds();
    if (seconds < start + length && length > 0)
        return s.fromZoom + float((seconds - start) / length) * (s.toZoom - s.fromZoom);
    return s.toZoom;
}

AffineTransform ZoomCurve::rampTransformAt(const Time& t, Size size) const {
    if (segments_.empty()) return AffineTransform::identity();
    // Frames before the movie (rounding at its start) take its first transform, so the picture
    // never snaps back to unzoomed for a frame.
    const Time at = t < Time::zero() ? Time::zero() : t;
    const ptrdiff_t i = segmentAt(at);
    if (i < 0) return AffineTransform::identity();
    const Segment& s = segments_[size_t(i)];
    const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
    const AffineTransform to = zoomTransform(s.toZoom, w, h);
    if (s.range.isEmpty() || at >= s.range.end()) return to;
    const double span = s.range.duration.seconds();
    const double u = span > 0 ? std::clamp((at - s.range.start).seconds() / span, 0.0, 1.0) : 1.0;
    return AffineTransform::lerp(zoomTransform(s.fromZoom, w, h), to, u);
}

AffineTransform ZoomCurve::scaleTransformAt(const Time& t, Size size) const {
    const double seconds = t.seconds();
    const ptrdiff_t i = segmentAtSeconds(seconds);
    if (i < 0) return AffineTransform::identity();
    const Segment& s = segments_[size_t(i)];
    const double elapsed = seconds - beginSeconds(s), duration = s.range.duration.seconds();
    const double scale =
        duration > 0 && elapsed < duration
            ? static_cast<float>(s.fromZoom + (static_cast<double>(s.toZoom) - s.fromZoom) * (elapsed / duration))
            : s.toZoom;
    if (scale == 1.0) return AffineTransform::identity();
    // About the centre of the picture's bounds.
    const double cx = static_cast<float>(size.width) / 2.0, cy = static_cast<float>(size.height) / 2.0;
    const float sf = static_cast<float>(scale);
    return {sf, 0, 0, sf, static_cast<float>(cx - scale * cx), static_cast<float>(cy - scale * cy)};
}

}  // namespace media
