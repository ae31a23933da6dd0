#pragma once
// Decodes a movie's pictures for tests that look at what an export produced.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct AVFrame;

namespace testsupport {

// When a decoded picture is shown: its timestamp on its stream's time base.
struct PictureTime {
    int64_t pts = 0;
    int num = 1, den = 1;
    double seconds() const { return static_cast<double>(pts) * num / den; }
};

// The one open-and-decode loop of the tests: every picture of the movie's main video track, in
// the order the decoder gives them (presentation order), until `picture` returns false. False
// when the movie or its video cannot be opened.
bool forEachPicture(const std::string& path, const std::function<bool(const AVFrame&, PictureTime)>& picture);

struct LumaFrame {
    double time = 0;  // presentation time in seconds, on the movie's timeline
    int width = 0, height = 0;
    std::vector<uint8_t> y;  // 8-bit luma, width * height
    double at(int x, int yy) const { return y[static_cast<size_t>(yy) * width + x]; }
};

struct MovieFacts {
    std::vector<LumaFrame> frames;  // in presentation order
    double videoDuration = 0;       // stream duration in seconds
    int32_t displayMatrix[9] = {0};
    bool hasDisplayMatrix = false;
    int audioStreams = 0;
    std::string audioCodec;
};

// Empty frames and false on failure. `keepEvery` > 1 keeps only every n-th frame's pixels.
bool readMovie(const std::string& path, MovieFacts& facts, int keepEvery = 1);

// Intensity-weighted centre of the bright blob nearest (cx, cy) within `radius`, above the
// window's background level.
struct Centroid {
    double x = 0, y = 0;
    bool found = false;
};
Centroid brightCentroid(const LumaFrame& f, double cx, double cy, int radius);

// Hash of every video packet's payload, in file order (decode-free identity check).
// A 320x240 recording with sound in <library>/Originals, as the camera leaves it, and its zoom
// track in <library>/Zooms when one is given.
std::filesystem::path makeRecordingIn(const std::filesystem::path& library, const std::string& name, int frames,
                                      const char* track = nullptr);

bool videoPacketDigest(const std::string& path, std::vector<uint64_t>& digests);

}  // namespace testsupport
