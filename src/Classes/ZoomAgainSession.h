#pragma once
// A new zoom made over a recording while it plays. The slider's moves become a zoom track on the
// movie's own time base (the player's position, never the wall clock) by the recorder's own rules
// (ZoomSampler), holds included; entry 0 is at time 0 with the orientation the old track
// recorded. Going back in the movie and moving the slider again replaces the track from that
// point on and keeps what came before. keep() stores the track as the movie's, the old one kept
// as its earlier version; discarding is letting the session go: no file is touched before keep().

#include "ZoomSampler.h"
#include "ZoomTrack.h"

#include "media/Asset.h"
#include "media/Time.h"
#include "media/VideoComposition.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class ZoomAgainSession {
public:
    // Seconds of movie time now shown.
    using Position = std::function<double()>;

    // `current` is the movie's track now (its orientation is kept), if it has one.
    ZoomAgainSession(const QString& moviePath, const std::optional<ZoomTrack>& current, Position position);

    const QString& moviePath() const { return moviePath_; }
    // A slider value (0 to 1) at the position now; returns the zoom factor to show.
    float sliderChanged(float value);
    // The new track as it stands.
    const ZoomTrack& track() const { return sampler_.zooms(); }
    // Whether the slider moved at all.
    bool hasMoves() const { return moved_; }

    // The zoom the new track gives a movie `duration` long, as the player and the export render
    // it (glides included); made again only when the track or the duration changed.
    std::shared_ptr<const media::ZoomCurve> curve(const media::Time& duration) const;
    // The factor the new track shows at `seconds` of a movie `duration` long.
    float zoomAt(double seconds, const media::Time& duration) const;
    // The player's composition for the new track (the export's ramp form); nullopt for a movie
    // without pictures.
    std::optional<media::VideoComposition> composition(const media::Asset& asset) const;

    // Writes the new track as the movie's (see replaceZoomTrack). False with *error saying why.
    bool keep(QString* error = nullptr) const;

private:
    QString moviePath_;
    ZoomSampler sampler_;
    bool moved_ = false;
    mutable std::shared_ptr<const media::ZoomCurve> curve_;  // of the track as it was, for curveDuration_
    mutable media::Time curveDuration_;
};
