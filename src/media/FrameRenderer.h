#pragma once
// Renders one decoded picture through a source-to-output affine transform into a picture of the
// composition's render size. Geometry is in continuous pixel coordinates (pixel (i, j) covers
// [i, i+1) x [j, j+1)); the zoom window is never rounded to whole pixels, and the chroma planes
// get the same geometry in their own coordinates (with their siting). Output areas that map
// outside the source are black.

#include <memory>

#include "media/AffineTransform.h"
#include "media/Error.h"
#include "media/VideoComposition.h"

struct AVFrame;

namespace media {

class FrameRenderer {
public:
    // Not thread-safe: one renderer per worker thread. Output is 8-bit yuv420p.
    FrameRenderer(ResampleFilter filter, int outputWidth, int outputHeight);
    ~FrameRenderer();
    FrameRenderer(FrameRenderer&&) noexcept;
    FrameRenderer& operator=(FrameRenderer&&) noexcept;

    // `source` must be 8-bit yuv420p or yuvj420p (callers convert other formats first).
    // `output` must be an allocated yuv420p frame of the output size. HighQuality takes the
    // scale and translation of the transform (rotation and shear are ignored there).
    bool render(const AVFrame& source, const AffineTransform& sourceToOutput, AVFrame& output,
                Error* error = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
