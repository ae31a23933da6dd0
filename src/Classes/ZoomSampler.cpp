#include "ZoomSampler.h"

#include "media/capture/CaptureTypes.h"

#include <QTimer>

namespace {
// How much of a gesture a crash may lose at most.
constexpr qint64 kWriteIntervalMs = 1000;
// How long before a move the entry that ends a rest is placed. The composition walks the track
// in ticks of 1/600 s and drops a step shorter than a tick, so two ticks keep the hold's
// segment from merging into the move's: the export then jumps where the preview jumped.
constexpr double kHoldLeadSeconds = 2.0 / 600.0;
}  // namespace

ZoomSampler::ZoomSampler(Clock now, EarlierMoves earlierMoves)
    : now_(now ? std::move(now) : Clock(&media::monotonicNowNs)), earlierMoves_(earlierMoves) {}

ZoomSampler::~ZoomSampler() = default;

float ZoomSampler::sliderChanged(float value, int64_t atNs) {
    const float z = zoomForSliderValue(value);
    if (isRecording_) {
        const int64_t at = atNs == kNow ? now_() : atNs;
        // A negative time would make the export drop the whole track.
        const double time = at > recordingStartNs_ ? double(at - recordingStartNs_) / 1e9 : 0.0;
        if (earlierMoves_ == EarlierMoves::Replace && time <= elapsedTime_ && replaceFrom(time, z)) {
            prevSliderValue_ = value;
            return z;
        }
        const double rested = time - elapsedTime_;
        if (rested > ZoomSampler::kSliderRepeatMs / 1000.0 && !zooms_.isEmpty())
            zooms_.entries.push_back({zooms_.entries.back().zoom, time - kHoldLeadSeconds});
        elapsedTime_ = time;
        zooms_.entries.push_back({z, elapsedTime_});
        entryAdded();
    }
    prevSliderValue_ = value;
    return z;
}

bool ZoomSampler::replaceFrom(double time, float z) {
    while (zooms_.size() > 1 && !(zooms_.entries.back().atTime < time)) zooms_.entries.pop_back();
    if (time <= 0.0) {
        // Entry 0 keeps its place and orientation: only the factor the movie starts with changes.
        zooms_.entries.front().zoom = z;
        elapsedTime_ = zooms_.entries.front().atTime;
        entryAdded();
        return true;
    }
    // The rest, if any, is measured from the entry now last, as for any move.
    elapsedTime_ = zooms_.entries.back().atTime;
    return false;
}

void ZoomSampler::recordingBegan(qint64 orientation, const QString& trackFile, int64_t startNs) {
    elapsedTime_ = 0.0;
    zooms_ = ZoomTrack{};
    zooms_.entries.push_back({2.0f * prevSliderValue_ + 1.0f, elapsedTime_});
    zooms_.orient = orientation;
    recordingStartNs_ = startNs == kNow ? now_() : startNs;
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
    const qint64 sinceLast = lastWriteNs_ == kNow ? kWriteIntervalMs : (now_() - lastWriteNs_) / 1000000;
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
    lastWriteNs_ = now_();
    if (!writeZoomTrackFile(trackFile_, zooms_)) return false;  // still pending: the next entry or the end tries again
    pending_ = false;
    return true;
}
