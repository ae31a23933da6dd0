#include "ZoomSampler.h"

#include "media/capture/CaptureTypes.h"
#include "platform/Logging.h"

#include <QFile>
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
    : now_(now ? std::move(now) : Clock(&media::monotonicNowNs)),
      earlierMoves_(earlierMoves),
      reports_(std::make_unique<QObject>()) {}

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
    changedFrom(zooms_.entries.size());
    if (time <= 0.0) {
        // Entry 0 keeps its place and orientation: only the factor the movie starts with changes.
        zooms_.entries.front().zoom = z;
        changedFrom(0);
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
    ++take_;
    writer_ = trackFile_.isEmpty() ? nullptr : std::make_shared<ZoomTrackFileWriter>(trackFile_, zooms_.orient);
    handedOver_ = 0;
    anew_ = false;
    lastWriteFailed_ = false;
    if (writeTimer_) writeTimer_->stop();
    writePendingEntries();
}

void ZoomSampler::recordingEnded(std::function<void(bool stored)> stored) {
    isRecording_ = false;
    if (writeTimer_) writeTimer_->stop();
    writePendingEntries();
    if (!stored) return;
    // Queued behind the writes, it reports once they have run, and tries once more what the
    // last of them could not store (whose failure may not have reported yet).
    writes_.run(
        reports_.get(),
        [writer = writer_] {
            QString error;
            if (!writer || writer->store({}, false, &error)) return true;
            qCWarning(lcStore) << "cannot write zoom track" << writer->path() << error;
            return false;
        },
        [stored = std::move(stored)](bool whole) { stored(whole); }, "zoom track stored");
}

void ZoomSampler::removeTrackFile() {
    if (!writer_) return;
    writer_.reset();
    writes_.run(
        reports_.get(), [file = trackFile_] { QFile::remove(file); }, [] {}, "zoom track removed");
}

void ZoomSampler::changedFrom(size_t index) {
    if (!writer_ || index >= handedOver_) return;
    handedOver_ = 0;
    anew_ = true;
}

void ZoomSampler::entryAdded() {
    if (!writer_) return;
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

void ZoomSampler::writePendingEntries() {
    if (!writer_) return;
    // A failed write's entries wait in the writer: an empty hand-over retries them.
    if (handedOver_ == zooms_.entries.size() && !lastWriteFailed_ && !anew_) return;
    lastWriteNs_ = now_();
    std::vector<media::ZoomEntry> fresh(zooms_.entries.begin() + std::ptrdiff_t(handedOver_), zooms_.entries.end());
    handedOver_ = zooms_.entries.size();
    ++writesInFlight_;
    writes_.run(
        reports_.get(),
        [writer = writer_, fresh = std::move(fresh), anew = std::exchange(anew_, false)] {
            QString error;
            if (writer->store(fresh, anew, &error)) return true;
            // Kept by the writer: the next entry or the end tries again.
            qCWarning(lcStore) << "cannot write zoom track" << writer->path() << error;
            return false;
        },
        [this, take = take_](bool ok) {
            --writesInFlight_;
            if (take == take_) lastWriteFailed_ = !ok;
        },
        "zoom track written");
}
