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

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

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
    // gesture.
    void recordingBegan(qint64 orientation, const QString& trackFile = QString(), int64_t startNs = kNow);
    // The recording's finished report arrived (or it was abandoned). Entries not yet on disk
    // are written now.
    void recordingEnded();

    // Writes the track to the track file if entries are waiting for it; the periodic write's
    // work. False when a write failed (it is retried with the next entry).
    bool writePendingEntries();
    const QString& trackFile() const { return trackFile_; }
    bool hasPendingEntries() const { return pending_; }

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
    bool writeTrack();
    QString trackFile_;
    bool pending_ = false;
    int64_t lastWriteNs_ = kNow;
    std::unique_ptr<QTimer> writeTimer_;
};
