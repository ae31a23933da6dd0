#pragma once
// The virtual camera's picture and the virtual microphone's sound, open for tests and tools that
// need to know what the devices deliver.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/capture/CaptureTypes.h"

struct AVFrame;
struct AVBufferPool;

namespace media {

class TestPattern {
public:
    explicit TestPattern(Size size);  // odd sizes are rounded down to even
    ~TestPattern();
    TestPattern(const TestPattern&) = delete;
    TestPattern& operator=(const TestPattern&) = delete;

    // A new yuv420p picture (the caller owns it): frame `frameIndex` of a `fps` stream.
    AVFrame* render(int64_t frameIndex, double fps, bool torch);
    Size size() const { return size_; }

private:
    struct Planes;
    void drawBackground(Planes& p, bool torch);
    void fillRect(AVFrame* f, int x, int y, int w, int h, uint8_t Y, uint8_t U, uint8_t V);
    void drawText(AVFrame* f, int x, int y, int scale, const std::string& text);

    Size size_;
    std::unique_ptr<Planes> normal_, bright_;  // drawn once: a frame only copies and adds motion
    AVBufferPool* pool_ = nullptr;
};

// Processor time the virtual camera's threads spent making JPEG pictures (what a webcam does in
// its own hardware), in nanoseconds since the program started.
int64_t virtualCameraEncodeCpuNs();

struct VirtualMicrophoneTone {
    static constexpr double kToneHz = 440.0;
    // Samples [firstSample, firstSample + frames) of the mono signal at `rate`.
    static void fill(int16_t* out, int frames, int64_t firstSample, int rate);
};

}  // namespace media
