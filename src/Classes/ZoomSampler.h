#pragma once
// The camera screen's recording rules for the zoom track: every slider value zooms the preview;
// while a recording runs it also becomes an entry (zoom factor, wall-clock seconds since the
// recording began); a new recording opens a new track whose entry 0 is the zoom shown when it
// began, at time 0, with the recording orientation. The screen and tavrio-cli both drive it.

#include "ZoomTrack.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

class QTimer;

class ZoomSampler {
public:
    using Clock = std::function<QDateTime()>;
    explicit ZoomSampler(Clock now = &QDateTime::currentDateTimeUtc);
    ~ZoomSampler();

    // The zoom factor of slider value v (0 to 1 gives 1 to 3), in 32-bit float arithmetic.
    static float zoomForSliderValue(float v) { return v + v + 1.0f; }
    // The slider value that shows zoom factor z.
    static float sliderValueForZoom(float z) { return (z - 1.0f) / 2.0f; }

    // A slider move: appends an entry while recording; returns the zoom to show.
    float sliderChanged(float value);
    // The capture manager reported that recording began. With a track file (the movie's zoom
    // track path) the track is kept on disk while recording, as the movie is: written at once,
    // then again within a second of each new entry, so a crash loses at most the last second
    // of the gesture.
    void recordingBegan(qint64 orientation, const QString& trackFile = QString());
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
    const QDateTime& recordingStartTime() const { return recordingStartTime_; }

private:
    Clock now_;
    bool isRecording_ = false;
    QDateTime recordingStartTime_;
    double elapsedTime_ = 0;
    ZoomTrack zooms_;
    float prevSliderValue_ = 0.0f;

    void entryAdded();
    bool writeTrack();
    QString trackFile_;
    bool pending_ = false;
    QDateTime lastWrite_;
    std::unique_ptr<QTimer> writeTimer_;
};
