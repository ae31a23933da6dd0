#pragma once
// The recording rules for the zoom track: every slider value zooms the preview; while a
// recording runs it also becomes an entry (zoom factor, seconds of movie time); a new recording
// opens a new track whose entry 0 is the zoom shown when it began, at time 0, with the recording
// orientation. RecordingController drives it for every front end.
//
// Times are taken on the monotonic clock capture stamps pictures with, counted from the capture
// time of the movie's first picture: a wall-clock step during a recording cannot shift or negate
// them, and a move handled late by a busy main thread still lands where the user made it.
//
// The export glides linearly from each entry to the next, while the preview jumps to every value
// at once. So that the export stays where the preview stayed, a move that comes after the zoom
// has rested (no change for longer than the slider's repeat interval) is preceded by an entry
// holding the resting factor until a hair before the move.

#include "ZoomTrack.h"

#include "platform/Background.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QObject;
class QTimer;

class ZoomSampler {
public:
    // Nanoseconds on the capture clock (CLOCK_MONOTONIC), or any clock of the movie's time.
    using Clock = std::function<int64_t()>;
    // How a move stamped at or before the track's last entry is taken. While the camera records
    // it is a report handled late and is appended as it is. While a recorded movie plays for a
    // new zoom, the user went back in the movie (or moves the slider while it is paused): the
    // move replaces the entries from its time on, and at time 0 it is entry 0's factor.
    enum class EarlierMoves { Append, Replace };
    static constexpr int64_t kNow = INT64_MIN;
    // The slider's end buttons repeat this often while held; a longer pause is a rest.
    static constexpr int kSliderRepeatMs = 100;
    explicit ZoomSampler(Clock now = {}, EarlierMoves earlierMoves = EarlierMoves::Append);
    ~ZoomSampler();

    // The zoom factor of slider value v (0 to 1 gives 1 to 3), in 32-bit float arithmetic.
    static float zoomForSliderValue(float v) { return v + v + 1.0f; }
    // The slider value that shows zoom factor z.
    static float sliderValueForZoom(float z) { return (z - 1.0f) / 2.0f; }

    // A slider move made at `atNs` (now when not given): appends an entry while recording;
    // returns the zoom to show. A move stamped before the movie's first picture is at time 0.
    float sliderChanged(float value, int64_t atNs = kNow);
    // The capture manager reported that recording began; `startNs` is the capture time of the
    // movie's first picture (now when not given). With a track file (the movie's zoom track
    // path) the track is kept on disk while recording, as the movie is: written at once, then
    // again within a second of each new entry, so a crash loses at most the last second of the
    // gesture. The writes run in order on a lane of their own, off the main thread, which hands
    // over only the entries made since the last one.
    void recordingBegan(qint64 orientation, const QString& trackFile = QString(), int64_t startNs = kNow);
    // The recording's finished report arrived (or it was abandoned). Entries not yet on disk
    // are handed over now; `stored` runs on the main thread once every write so far has run,
    // with whether the whole track is on disk (true without a track file).
    void recordingEnded(std::function<void(bool stored)> stored = {});
    // Removes the track file after the writes handed over (a take that kept no movie); nothing
    // is written to it afterwards.
    void removeTrackFile();

    // Hands the entries made since the last write (and any a failed write left) to the writer;
    // the periodic write's work.
    void writePendingEntries();
    // Entries made and not yet handed to the writer.
    bool hasPendingEntries() const { return writer_ && handedOver_ < zooms_.entries.size(); }
    // Writes handed over that have not reported back.
    bool isWriting() const { return writesInFlight_ > 0; }
    // Whether the latest write that reported failed; its entries go with the next one.
    bool lastWriteFailed() const { return lastWriteFailed_; }

    bool isRecording() const { return isRecording_; }
    float prevSliderValue() const { return prevSliderValue_; }
    double elapsedTime() const { return elapsedTime_; }
    const ZoomTrack& zooms() const { return zooms_; }
    int64_t recordingStartTimeNs() const { return recordingStartNs_; }

private:
    // Drops the entries at or after `time` for a move at `time` of factor z; true when the move
    // was taken in whole (entry 0's factor at time 0).
    bool replaceFrom(double time, float z);

    Clock now_;
    EarlierMoves earlierMoves_;
    bool isRecording_ = false;
    int64_t recordingStartNs_ = 0;
    double elapsedTime_ = 0;
    ZoomTrack zooms_;
    float prevSliderValue_ = 0.0f;

    void entryAdded();
    // Entries from `index` on changed after they were handed over: the file is written anew.
    void changedFrom(size_t index);
    QString trackFile_;
    int64_t lastWriteNs_ = kNow;
    std::unique_ptr<QTimer> writeTimer_;
    // The writes' lane and the writer it owns; the main thread only hands entries over.
    platform::Background::Serial writes_;
    std::unique_ptr<QObject> reports_;  // the lane's reports are dropped with the sampler
    std::shared_ptr<ZoomTrackFileWriter> writer_;
    size_t handedOver_ = 0;
    bool anew_ = false;
    int writesInFlight_ = 0;
    bool lastWriteFailed_ = false;
    uint64_t take_ = 0;
};
