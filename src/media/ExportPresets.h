#pragma once
// The export presets, the picture size each makes, and the encoder settings of every
// re-encoding export.

#include <string>

#include "media/VideoComposition.h"

namespace media {

// Best first. The boxed ones fit the picture within their box; Passthrough copies the samples.
enum class ExportPreset { HighestQuality, Box960x540, Box640x480, MediumQuality, Passthrough };
// What an export writes. A QuickTime movie is the only kind.
enum class FileType { QuickTimeMovie };

// "HighestQuality", "960x540", ...: for log lines and messages.
const char* exportPresetName(ExportPreset preset);

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
ExportPreset exportPresetForSource(ExportPreset preset, Size source);

// The picture size a preset makes of a source picture, after exportPresetForSource():
// HighestQuality keeps it; the boxed presets fit it within their box (turned to the picture's
// orientation) keeping the aspect and never enlarging; Passthrough keeps it. Even dimensions, at
// least 2x2. {0,0} for an empty source.
Size exportOutputSize(ExportPreset preset, Size source);

}  // namespace media
