#pragma once
// Writes a QuickTime movie from raw pictures and PCM sound: H.264 (libx264, yuv420p) and AAC
// (FFmpeg's own encoder) or 16-bit PCM. Tests and benchmarks make their movies with it; the
// programs never write one this way (capture records through MovieRecorder).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "media/AffineTransform.h"
#include "media/Error.h"
#include "media/Time.h"

struct AVFrame;

namespace media {

enum class AudioCodec { None, Aac, PcmS16 };

struct MovieWriterSettings {
    int width = 320;
    int height = 240;
    // The video timescale: frame times are written on it. 1/30 for a 30 fps movie; a finer one
    // (e.g. 1/600) for variable frame timing.
    Time timeBase = Time(1, 30);
    double frameRate = 30;  // nominal, for the encoder's rate control
    std::optional<AffineTransform> displayMatrix;
    // Width and height of one stored pixel as shown, e.g. 3:2 for a 1280x1080 picture shown 16:9.
    int pixelAspectWidth = 1;
    int pixelAspectHeight = 1;
    bool fullRange = false;  // samples span 0-255 (as phone and JPEG cameras store them)
    std::string x264Preset = "ultrafast";
    int crf = 18;
    int maxBFrames = 0;  // >0 stores frames out of presentation order
    int gopSize = 30;
    AudioCodec audioCodec = AudioCodec::None;
    int sampleRate = 44100;
    int channels = 1;
};

class MovieWriter {
public:
    static std::unique_ptr<MovieWriter> create(const std::string& path, const MovieWriterSettings& settings,
                                               Error* error = nullptr);
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // A yuv420p picture of the writer's size; `pts` on any timescale (converted to timeBase),
    // strictly increasing. A negative first time puts the movie's start after it, by an edit list.
    bool writeVideoFrame(const AVFrame& frame, Time pts);
    // Interleaved 16-bit samples, `frames` per channel; sound is laid end to end from time 0.
    bool writeAudioSamples(const int16_t* interleaved, int frames);
    // Flushes the encoders and writes the index. False (and the error) when anything failed.
    bool finish();
    const Error& error() const;

    const MovieWriterSettings& settings() const;

    struct Impl;

private:
    explicit MovieWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
