#pragma once
// Reading back what the capture tests record: through FFmpeg's own demuxer and decoder (as the
// engine and every player would) and through the ffprobe tool.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "media/capture/MovieFileOutput.h"

namespace capturetest {

struct MovieInfo {
    bool opened = false;
    int width = 0, height = 0;
    bool hasAudio = false;
    double videoStart = 0, audioStart = 0;
    int decodedFrames = 0;
    double lastFrameTime = -1;  // presentation time of the last decodable picture
    bool hasMatrix = false;
    std::array<int32_t, 9> matrix{};
    double audioSeconds = 0;  // decoded sound
    int audioRate = 0;
    std::vector<float> audio;  // the first channel, decoded, from the track's start
    std::string error;
};

MovieInfo probeMovie(const std::string& path);
// True when the file has movie fragments (a moof box at its top level).
bool isFragmented(const std::string& path);
// The duration ffprobe reads from the decoded pictures, or -1 when it cannot open the file.
double ffprobeVideoSeconds(const std::string& path);

// Collects one recording's reports; they are called directly (no dispatch) in these tests.
struct Recorder : media::RecordingDelegate {
    std::promise<void> startedPromise;
    std::promise<media::Error> finishedPromise;
    std::vector<std::string> events;
    std::mutex mutex;
    void didStartRecording(media::MovieFileOutput&, const std::string&) override {
        std::lock_guard l(mutex);
        events.push_back("started");
        startedPromise.set_value();
    }
    void didFinishRecording(media::MovieFileOutput&, const std::string&, const media::Error& e) override {
        {
            std::lock_guard l(mutex);
            events.push_back("finished");
        }
        finishedPromise.set_value(e);
    }
};

// Waits until `done` holds, checking every 20 ms, for at most `limit`; false on the limit (which
// only a hang reaches: it is not a measurement).
bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace capturetest
