#pragma once
// The export presets: their names, the picture size each makes, and the encoder settings of
// every re-encoding export.

#include <string>

#include "media/VideoComposition.h"

namespace media {

inline constexpr const char* kExportPresetHighestQuality = "HighestQuality";
inline constexpr const char* kExportPreset960x540 = "960x540";
inline constexpr const char* kExportPreset640x480 = "640x480";
inline constexpr const char* kExportPresetMediumQuality = "MediumQuality";
inline constexpr const char* kExportPresetPassthrough = "Passthrough";
inline constexpr const char* kFileTypeQuickTimeMovie = "com.apple.quicktime-movie";

// The encoder settings of every re-encoding export, in one place so that the benchmarks can
// give the reference encoder exactly the same ones.
struct EncoderSettings {
    static constexpr const char* x264Preset = "fast";
    static constexpr int crf = 20;
    static constexpr const char* profile = "high";
    // x264 keeps about a dozen padded, half-pel-filtered copies of the picture per frame in
    // flight; a short lookahead and two frame threads hold a 1080p export near 260 MiB instead
    // of 450, at a cost of about 1% in size.
    static constexpr const char* x264Params = "threads=2:rc-lookahead=10:sync-lookahead=0";
    static constexpr int audioBitRate = 128000;  // AAC when the source audio is not AAC already
};

// The preset a choice gives for a source picture. A boxed preset (960x540, 640x480) whose box
// the picture does not fill falls back to the largest box of the worse presets that it fills,
// else to MediumQuality; every other preset is itself. So a better choice never gives a smaller
// picture than a worse one.
std::string exportPresetForSource(const std::string& presetName, Size source);

// The picture size a preset makes of a source picture, after exportPresetForSource():
// HighestQuality keeps it; the boxed presets fit it within their box (turned to the picture's
// orientation) keeping the aspect and never enlarging; Passthrough keeps it. Even dimensions, at
// least 2x2. {0,0} for an unknown preset or an empty source.
Size exportOutputSize(const std::string& presetName, Size source);

// One of the names above.
bool isKnownExportPreset(const std::string& presetName);

}  // namespace media
