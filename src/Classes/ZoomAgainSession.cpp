#include "ZoomAgainSession.h"

#include "TavrioExportController.h"
#include "ZoomComposition.h"

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
    return sampler_.sliderChanged(value);
}

float ZoomAgainSession::zoomAt(double seconds, const media::Time& duration) const {
    return tavrio::zoomAtTime(TavrioExportController::zoomSegmentsForTrack(track(), duration),
                              media::Time::fromSeconds(std::max(0.0, seconds), 600));
}

std::optional<media::VideoComposition> ZoomAgainSession::composition(const media::Asset& asset) const {
    return TavrioExportController::rampCompositionFor(asset, track());
}

bool ZoomAgainSession::keep(QString* error) const {
    return replaceZoomTrack(moviePath_, track(), error);
}
