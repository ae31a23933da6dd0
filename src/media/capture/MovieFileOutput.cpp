#include "media/capture/MovieFileOutput.h"

#include <cerrno>

namespace media {

MovieFileOutput::MovieFileOutput() = default;

MovieFileOutput::~MovieFileOutput() {
    std::shared_ptr<MovieRecorder> r;
    std::vector<std::shared_ptr<MovieRecorder>> old;
    {
        std::lock_guard lock(mutex_);
        r = std::move(current_);
        old.swap(retired_);
    }
    if (r) {
        r->stop();
        r->waitUntilFinished();
    }
}

void MovieFileOutput::startRecording(const std::string& path, std::shared_ptr<RecordingDelegate> delegate,
                                     Dispatch dispatch) {
    // The session's state is read before this output's lock is taken: the session holds its own
    // lock while it tells its outputs of a failed input, so the two are never taken the other way.
    const auto conns = connections();
    CaptureSession* session = session_.load();
    const bool running = session && session->isRunning();

    std::unique_lock lock(mutex_);
    if (recording_) return;

    RecorderSettings s;
    s.path = path;
    bool anyConnection = false;
    for (auto& c : conns) {
        if (!c->isEnabled()) continue;
        FormatDescription f = c->inputPorts().front()->formatDescription();
        if (!f.isKnown()) continue;
        anyConnection = true;
        if (f.mediaType == MediaType::Video) {
            s.videoSize = f.dimensions;
            s.frameRate = f.frameRate > 0 ? f.frameRate : 30;
            s.displayMatrix = displayMatrixForOrientation(c->videoOrientation(), f.dimensions);
        } else {
            s.sampleRate = f.sampleRate;
            s.channels = f.channels;
        }
    }
    recording_ = true;
    path_ = path;
    uint64_t gen = ++generation_;

    auto self = weak_from_this();
    auto deliver = [dispatch](std::function<void()> f) {
        if (dispatch)
            dispatch(std::move(f));
        else
            f();
    };
    auto finishedReport = [this, self, delegate, deliver, path, gen](const Error& e) {
        auto keep = self.lock();
        if (keep) {
            std::lock_guard l(mutex_);
            if (generation_ == gen) recording_ = false;
        }
        deliver([keep, delegate, path, e] {
            if (delegate && keep) delegate->didFinishRecording(*keep, path, e);
        });
    };

    if (!anyConnection || !running) {
        // Nothing can arrive: the recording ends at once, with the reason.
        Error e{ENODATA, "The recording could not start.",
                running ? "No camera or microphone is delivering." : "The capture session is not running.",
                "Connect a camera or microphone and try again."};
        lock.unlock();
        finishedReport(e);
        return;
    }

    // Recorders that have finished are released here, on the caller's thread (a recorder cannot
    // be destroyed from its own thread, which runs the finished report).
    std::erase_if(retired_, [](auto& r) { return r->isFinished() && !r->isOwnThread(); });
    if (current_) retired_.push_back(std::move(current_));
    current_ = std::make_shared<MovieRecorder>(
        s,
        [self, delegate, deliver, path] {
            auto keep = self.lock();
            deliver([keep, delegate, path] {
                if (delegate && keep) delegate->didStartRecording(*keep, path);
            });
        },
        finishedReport);
}

void MovieFileOutput::stopRecording() {
    std::shared_ptr<MovieRecorder> r;
    {
        std::lock_guard lock(mutex_);
        r = current_;
    }
    if (r) r->stop();
}

bool MovieFileOutput::isRecording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

std::string MovieFileOutput::outputPath() const {
    std::lock_guard lock(mutex_);
    return path_;
}

double MovieFileOutput::recordedDuration() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->recordedSeconds() : 0;
}

int64_t MovieFileOutput::recordingStartTimeNs() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->startTimeNs() : INT64_MIN;
}

uint64_t MovieFileOutput::droppedFrameCount() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->droppedFrames() : 0;
}

void MovieFileOutput::consumeVideo(const VideoSample& v, const CaptureConnection&) {
    std::shared_ptr<MovieRecorder> r;
    {
        std::lock_guard lock(mutex_);
        r = current_;
    }
    if (r) r->appendVideo(v);
}

void MovieFileOutput::consumeAudio(const AudioSample& a, const CaptureConnection&) {
    std::shared_ptr<MovieRecorder> r;
    {
        std::lock_guard lock(mutex_);
        r = current_;
    }
    if (r) r->appendAudio(a);
}

void MovieFileOutput::inputFailed(const Error& e) {
    std::shared_ptr<MovieRecorder> r;
    {
        std::lock_guard lock(mutex_);
        r = current_;
    }
    if (r) r->fail(e);
}

}  // namespace media
