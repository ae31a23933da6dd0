#include "ZoomSampler.h"

#include "platform/Logging.h"

#include <QTimer>

namespace {
// How much of a gesture a crash may lose at most.
constexpr qint64 kWriteIntervalMs = 1000;
}  // namespace

ZoomSampler::ZoomSampler(Clock now) : now_(std::move(now)) {}

ZoomSampler::~ZoomSampler() = default;

float ZoomSampler::sliderChanged(float value) {
    const float z = zoomForSliderValue(value);
    if (isRecording_) {
        // Wall-clock time, as the track has always been stamped; milliseconds are as fine as a
        // slider event is timely.
        elapsedTime_ = double(recordingStartTime_.msecsTo(now_())) / 1000.0;
        zooms_.append(makeZoomEntry(z, elapsedTime_));
        entryAdded();
    }
    prevSliderValue_ = value;
    return z;
}

void ZoomSampler::recordingBegan(qint64 orientation, const QString& trackFile) {
    elapsedTime_ = 0.0;
    zooms_.clear();
    zooms_.append(makeZoomEntry(2.0f * prevSliderValue_ + 1.0f, elapsedTime_, orientation));
    recordingStartTime_ = now_();
    isRecording_ = true;
    trackFile_ = trackFile;
    pending_ = !trackFile_.isEmpty();
    if (writeTimer_) writeTimer_->stop();
    writePendingEntries();
}

void ZoomSampler::recordingEnded() {
    isRecording_ = false;
    if (writeTimer_) writeTimer_->stop();
    writePendingEntries();
}

void ZoomSampler::entryAdded() {
    if (trackFile_.isEmpty()) return;
    pending_ = true;
    const qint64 sinceLast = lastWrite_.isValid() ? lastWrite_.msecsTo(now_()) : kWriteIntervalMs;
    if (sinceLast >= kWriteIntervalMs || sinceLast < 0) {
        writePendingEntries();
        return;
    }
    // Entries come in bursts while the slider moves: one write a second keeps the disk quiet.
    if (!writeTimer_) {
        writeTimer_ = std::make_unique<QTimer>();
        writeTimer_->setSingleShot(true);
        QObject::connect(writeTimer_.get(), &QTimer::timeout, [this] { writePendingEntries(); });
    }
    if (!writeTimer_->isActive()) writeTimer_->start(int(kWriteIntervalMs - sinceLast));
}

bool ZoomSampler::writePendingEntries() {
    if (!pending_ || trackFile_.isEmpty()) return true;
    return writeTrack();
}

bool ZoomSampler::writeTrack() {
    lastWrite_ = now_();
    if (!writeZoomTrackFile(trackFile_, zooms_)) return false;  // still pending: the next entry or the end tries again
    pending_ = false;
    return true;
}
