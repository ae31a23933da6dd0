#pragma once
// The zoom along the player's scrubber: a thin band whose filled height is the zoom factor over
// the movie's time, from 1x at its foot to 3x at its top, drawn from the same curve the player
// and the export render, so the band shows where the picture glides and holds.

#include "media/ZoomCurve.h"

#include <QWidget>
#include <memory>

class ZoomBand : public QWidget {
    Q_OBJECT
public:
    explicit ZoomBand(QWidget* parent = nullptr);

    // The curve of a movie `durationSeconds` long; none, or an unzoomed one, draws an empty band.
    void setCurve(std::shared_ptr<const media::ZoomCurve> curve, double durationSeconds);
    // Pixels left free at each end, so that time t sits under the scrubber's knob at t.
    void setInset(int pixels);
    // The factor drawn at movie time `seconds`.
    float zoomAt(double seconds) const;
    double durationSeconds() const { return duration_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const media::ZoomCurve> curve_;
    double duration_ = 0;
    int inset_ = 0;
};
