#include "ZoomAgainSession.h"

#include <algorithm>
#include <cmath>

ZoomAgainSession::ZoomAgainSession(const QString& moviePath, const std::optional<ZoomTrack>& current, Position position)
    : moviePath_(moviePath),
      sampler_([position = std::move(position)] { return int64_t(std::llround(position() * 1e9)); },
               ZoomSampler::EarlierMoves::Replace) {
    // The movie's time is the clock: its start is time 0, and the new zoom starts unzoomed.
    sampler_.recordingBegan(videoOrientationForZooms(current), QString(), 0);
}

float ZoomAgainSession::sliderChanged(float value) {
    moved_ = true;
    curve_.reset();
    return sampler_.sliderChanged(value);
}

std::shared_ptr<const media::ZoomCurve> ZoomAgainSession::curve(const media::Time& duration) const {
    if (!curve_ || curveDuration_ != duration) {
        curve_ = zoomCurveFor(track(), duration);
        curveDuration_ = duration;
    }
    return curve_;
}

float ZoomAgainSession::zoomAt(double seconds, const media::Time& duration) const {
    return curve(duration)->zoomAt(media::Time::fromSeconds(std::max(0.0, seconds), media::ZoomCurve::kTimescale));
}

std::optional<media::VideoComposition> ZoomAgainSession::composition(const media::Asset& asset) const {
    return playbackComposition(asset, curve(asset.duration()));
}

bool ZoomAgainSession::keep(QString* error) const {
    return replaceZoomTrack(moviePath_, track(), error);
}
