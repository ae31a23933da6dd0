#pragma once
// Values that travel between capture sources, the session and its outputs.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/Asset.h"  // MediaType
#include "media/Dispatch.h"
#include "media/Size.h"

struct AVFrame;

namespace media {

// Capture timestamps: nanoseconds of CLOCK_MONOTONIC, the one clock every source stamps with, so
// sound and pictures from different devices line up in a recording.
int64_t monotonicNowNs();

struct PixelRect {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PixelRect&) const = default;
};

// One picture as a source delivered it; `frame` is reference-counted and never written after it is
// handed on, so the preview and the recorder share its pixels.
struct VideoSample {
    std::shared_ptr<const AVFrame> frame;
    int64_t timeNs = 0;    // when the picture was taken
    int64_t sequence = 0;  // the source's frame counter; a gap means the source dropped frames
};

// Interleaved signed 16-bit sound; `timeNs` is when the first sample was taken.
struct AudioSample {
    std::vector<int16_t> samples;
    int sampleRate = 0;
    int channels = 0;
    int64_t timeNs = 0;
    int frames() const { return channels > 0 ? int(samples.size()) / channels : 0; }
};

// Where capture writes its log lines (dropped frames, device errors, a rewrite that failed).
// Default: standard error. The handler may be called from any capture thread.
void setCaptureLogHandler(std::function<void(const std::string&)> handler);
void captureLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Takes ownership of `ownedFrame` as a shared, read-only picture.
std::shared_ptr<const AVFrame> shareFrame(AVFrame* ownedFrame);

}  // namespace media
