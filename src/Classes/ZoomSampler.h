#pragma once
// The camera screen's recording rules for the zoom track: every slider value zooms the preview;
// while a recording runs it also becomes an entry (zoom factor, wall-clock seconds since the
// recording began); a new recording opens a new track whose entry 0 is the zoom shown when it
// began, at time 0, with the recording orientation. The screen and tavrio-cli both drive it.

#include "ZoomTrack.h"

#include <QDateTime>
#include <functional>

class ZoomSampler {
public:
    using Clock = std::function<QDateTime()>;
    explicit ZoomSampler(Clock now = &QDateTime::currentDateTimeUtc) : now_(std::move(now)) {}

    // The zoom factor of slider value v (0 to 1 gives 1 to 3), in 32-bit float arithmetic.
    static float zoomForSliderValue(float v) { return v + v + 1.0f; }
    // The slider value that shows zoom factor z.
    static float sliderValueForZoom(float z) { return (z - 1.0f) / 2.0f; }

    // A slider move: appends an entry while recording; returns the zoom to show.
    float sliderChanged(float value);
    // The capture manager reported that recording began.
    void recordingBegan(qint64 orientation);
    // The recording's finished report arrived (or it was abandoned).
    void recordingEnded() { isRecording_ = false; }

    bool isRecording() const { return isRecording_; }
    float prevSliderValue() const { return prevSliderValue_; }
    double elapsedTime() const { return elapsedTime_; }
    const ZoomTrack& zooms() const { return zooms_; }
    const QDateTime& recordingStartTime() const { return recordingStartTime_; }

private:
    Clock now_;
    bool isRecording_ = false;
    QDateTime recordingStartTime_;
    double elapsedTime_ = 0;
    ZoomTrack zooms_;
    float prevSliderValue_ = 0.0f;
};
