#pragma once
// The session output that records movies: one recording at a time, to a path the caller picks,
// with the pictures and sound of its connections stamped on the session's one clock.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/Error.h"
#include "media/capture/CaptureSession.h"
#include "media/capture/MovieRecorder.h"

namespace media {

class MovieFileOutput;

// Reports of one recording, delivered through the dispatch function given with it, in order:
// started (unless it failed before the first sample), then finished exactly once.
class RecordingDelegate {
public:
    virtual ~RecordingDelegate() = default;
    virtual void didStartRecording(MovieFileOutput&, const std::string& /*path*/) {}
    // `error` is empty for a normal stop. A recording that ended with an error may still have
    // left a playable movie at `path` (everything up to the failure).
    virtual void didFinishRecording(MovieFileOutput&, const std::string& /*path*/, const Error& /*error*/) {}
};

class MovieFileOutput : public CaptureOutput, public std::enable_shared_from_this<MovieFileOutput> {
public:
    MovieFileOutput();
    ~MovieFileOutput() override;  // a recording still running is stopped and finished

    bool acceptsMediaType(MediaType) const override { return true; }

    // Starts writing to `path`. The delegate is kept until its finished report has been
    // dispatched. Ignored while a recording runs.
    void startRecording(const std::string& path, std::shared_ptr<RecordingDelegate> delegate, Dispatch dispatch = {});
    void stopRecording();
    // From startRecording until the finished report is handed to the dispatch function.
    bool isRecording() const;
    std::string outputPath() const;  // of the current or last recording

    // Of the current or last recording.
    double recordedDuration() const;
    // The capture time (monotonic clock, as samples are stamped) of movie time 0; known once the
    // started report is out, INT64_MIN before.
    int64_t recordingStartTimeNs() const;
    uint64_t droppedFrameCount() const;

protected:
    void consumeVideo(const VideoSample&, const CaptureConnection&) override;
    void consumeAudio(const AudioSample&, const CaptureConnection&) override;
    void inputFailed(const Error&) override;

private:
    // Threads: startRecording / stopRecording come from the owner's thread, the samples from the
    // capture session's input threads; every field below is under mutex_. The base class's
    // connections are read through connections(), under their own lock, and the session pointer
    // is atomic; neither is read with mutex_ held (see startRecording).
    mutable std::mutex mutex_;
    std::shared_ptr<MovieRecorder> current_;
    std::vector<std::shared_ptr<MovieRecorder>> retired_;
    std::string path_;
    bool recording_ = false;
    uint64_t generation_ = 0;
};

}  // namespace media
