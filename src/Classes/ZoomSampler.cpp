#include "ZoomSampler.h"

float ZoomSampler::sliderChanged(float value) {
    const float z = zoomForSliderValue(value);
    if (isRecording_) {
        // Wall-clock time, as the track has always been stamped; milliseconds are as fine as a
        // slider event is timely.
        elapsedTime_ = double(recordingStartTime_.msecsTo(now_())) / 1000.0;
        zooms_.append(makeZoomEntry(z, elapsedTime_));
    }
    prevSliderValue_ = value;
    return z;
}

void ZoomSampler::recordingBegan(qint64 orientation) {
    elapsedTime_ = 0.0;
    zooms_.clear();
    zooms_.append(makeZoomEntry(2.0f * prevSliderValue_ + 1.0f, elapsedTime_, orientation));
    recordingStartTime_ = now_();
    isRecording_ = true;
}
