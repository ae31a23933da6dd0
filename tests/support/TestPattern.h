#pragma once
// Synthetic movies whose every frame says which frame it is: a moving pattern, a row of black and
// white blocks around the centre that spells the frame number in binary, and a tone. Tests and
// benchmarks make their own movies with it, so they need no outside tool or file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/AffineTransform.h"
#include "media/Error.h"
#include "support/MovieWriter.h"
#include "media/Time.h"

struct AVFrame;

namespace media::testpattern {

inline constexpr int kCodeBits = 12;

// Where bit `bit` of the frame code sits: the centre of its block, in source pixel coordinates.
Point codeBlockCentre(int width, int height, int bit);

// Paints frame `index` of the pattern into a yuv420p frame of its allocated size.
void paintFrame(AVFrame& frame, int index);

// Reads the frame code back from an 8-bit yuv420p (or yuvj420p) picture that shows the source
// picture through `sourceToOutput`; -1 when a block maps outside the picture.
int readFrameCode(const AVFrame& picture, int sourceWidth, int sourceHeight,
                  const AffineTransform& sourceToOutput = AffineTransform::identity());

struct MovieOptions {
    MovieWriterSettings writer;
    int frameCount = 30;
    // Presentation times; empty means frame i at i * writer.timeBase. May start below zero.
    std::vector<Time> frameTimes;
    double toneHz = 440;
};

// Writes the movie; false and *error on failure.
bool makeMovie(const std::string& path, const MovieOptions& options, Error* error = nullptr);

}  // namespace media::testpattern
