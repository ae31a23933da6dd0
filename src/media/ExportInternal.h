#pragma once
// The export session's shared state and the output-writing steps that its passthrough and its
// re-encoding both take. Engine-internal.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/ExportSession.h"
#include "media/FFmpeg.h"
#include "media/OutputFile.h"

namespace media {

struct ExportSession::Impl {
    std::shared_ptr<const Asset> asset;
    ExportPreset preset = ExportPreset::HighestQuality;
    std::string outputPath;
    mutable std::mutex outputPathMutex;  // the path changes when a taken name makes way for another
    std::function<std::string()> nextOutputPath;
    std::unique_ptr<OutputFile> output;  // the hidden temporary until the movie is complete
    FileType fileType = FileType::QuickTimeMovie;
    std::optional<VideoComposition> composition;
    std::optional<AffineTransform> passthroughTransform;

    // Threads: the fields above are set by the owner before the export starts and only read
    // after; the atomics below are written by the export threads and read anywhere; error under
    // errorMutex; started, done and workerId under doneMutex.
    std::atomic<int> status{static_cast<int>(Status::Unknown)};
    std::atomic<float> progress{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> failed{false};
    mutable std::mutex errorMutex;
    Error error;

    // Written by the export threads as they end, read after the export has ended.
    ExportSession::Timings timings;

    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool started = false;
    bool done = false;
    // The pass runs on a thread of its own (exportAsynchronously), not a pool's: it holds its
    // thread for minutes, which would take one of a pool's few threads from all other work.
    std::thread::id workerId;

    bool stopping() const { return cancelled.load() || failed.load(); }
    // The first error wins: later ones are usually consequences of it.
    void fail(const Error& e) {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!failed.exchange(true)) error = e;
    }
    void failAv(int r, const std::string& what, const std::string& suggestion = {}) {
        fail(errorFromAv(r, what, suggestion));
    }
    void setProgress(double p) {
        float v = static_cast<float>(std::clamp(p, 0.0, 1.0));
        float cur = progress.load();
        while (v > cur && !progress.compare_exchange_weak(cur, v)) {}
    }

    void run();
    void runPassthrough();
    void runTranscode();
};

namespace exportio {

inline constexpr const char* kWriteSuggestion = "Check that the destination folder exists and the disk has free space.";
inline constexpr const char* kReadSuggestion = "The movie may be damaged. Try another movie.";

Error plainError(int code, std::string description, std::string reason, std::string suggestion);
// Checked writes: a short write (full disk, file size limit) must never pass as a finished movie.
int writePacket(AVFormatContext* out, AVPacket* pkt);
// Records why a packet write failed.
void failWrite(ExportSession::Impl& s, AVFormatContext* out, int r);
// FFmpeg's name for the codec, or the file's four-character code when FFmpeg has none.
std::string codecName(const AVCodecParameters* par);
bool openOutput(ExportSession::Impl& s, const std::string& path, av::OutputContext& out);
bool startWriting(ExportSession::Impl& s, AVFormatContext* out, const std::string& path);
bool finishWriting(ExportSession::Impl& s, AVFormatContext* out);
void chooseCodecTag(const AVFormatContext* out, AVCodecParameters* par);
// False (and the export failed) when one of `streams` ends before its last samples.
bool checkNotTruncated(ExportSession::Impl& s, AVFormatContext* in, const std::vector<int>& streams);

}  // namespace exportio

}  // namespace media
