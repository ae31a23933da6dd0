#pragma once
// Writes a recording as it is captured: H.264 (libx264, tuned for real time) and AAC into a
// QuickTime movie, on a thread of its own so capture never waits for the encoder.
//
// While recording, the file is a fragmented QuickTime movie flushed (and synced) fragment by
// fragment, about every second: if the process dies, the file on disk plays up to its last
// fragment. A recording that stops normally is rewritten as an ordinary QuickTime movie and put in
// its place atomically. When a write fails (full disk, file size limit) the recording stops with
// the error and the file is cut back to its last whole fragment, so what was recorded still plays.
// A file size limit ends the recording only in a process that ignores SIGXFSZ, as both programs'
// mains do; the engine leaves signal dispositions to them.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "media/AffineTransform.h"
#include "media/Error.h"
#include "media/capture/CaptureTypes.h"

namespace media {

struct RecorderSettings {
    std::string path;
    Size videoSize;  // empty: no picture track
    double frameRate = 30;
    std::optional<AffineTransform> displayMatrix;
    int sampleRate = 0;  // 0: no sound track
    int channels = 0;
    std::string x264Preset = "veryfast";
    int crf = 23;
    double fragmentSeconds = 1.0;
    // Pictures waiting for the encoder beyond this are dropped (and counted), so a slow encoder
    // costs frames, never capture or preview stalls.
    int maxQueuedFrames = 20;
    // Whether a normal stop rewrites the movie unfragmented (tests of the crash path turn it off).
    bool finalizeOnStop = true;
};

class MovieRecorder {
public:
    // `started` runs once the first sample is in the movie; `finished` once the file is complete,
    // with an empty error or the reason it ended. Both run on the recorder's thread.
    MovieRecorder(RecorderSettings settings, std::function<void()> started, std::function<void(const Error&)> finished);
    ~MovieRecorder();  // stops normally if still recording, and waits for the file
    MovieRecorder(const MovieRecorder&) = delete;
    MovieRecorder& operator=(const MovieRecorder&) = delete;

    // Never block for long; safe from any thread.
    void appendVideo(const VideoSample& s);
    void appendAudio(const AudioSample& s);
    // Finishes the movie with what has been appended so far.
    void stop();
    // Ends with `reason` reported (the movie so far is kept, unfragmented if possible).
    void fail(const Error& reason);
    void waitUntilFinished();

    bool isFinished() const;
    bool isOwnThread() const;  // true on the recorder's thread (inside its reports)
    uint64_t droppedFrames() const;
    uint64_t writtenFrames() const;
    // The capture time (monotonic clock) of the movie's time 0, its first picture (or first sound,
    // without pictures); INT64_MIN until the first sample is in. Set before `started` runs.
    int64_t startTimeNs() const;
    double recordedSeconds() const;  // of pictures (or sound, without pictures) so far

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
