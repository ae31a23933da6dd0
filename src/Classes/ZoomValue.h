#pragma once
// One zoom sample in typed form: the factor the slider showed and when, as the composition
// builder (ZoomComposition.h) takes it. Tracks on disk hold keyed entries (ZoomTrack.h).

class ZoomValue {
public:
    ZoomValue() = default;
    ZoomValue(float zoom, double atTime) : zoom_(zoom), atTime_(atTime) {}

    float zoom() const { return zoom_; }
    void setZoom(float zoom) { zoom_ = zoom; }
    double atTime() const { return atTime_; }
    void setAtTime(double atTime) { atTime_ = atTime; }

private:
    float zoom_ = 1.0f;    // magnification, 1.0 = the whole frame
    double atTime_ = 0.0;  // seconds since the recording began
};
