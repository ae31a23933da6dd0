#pragma once
// Renders one decoded picture through a source-to-output affine transform into a picture of the
// composition's render size. Geometry is in continuous pixel coordinates (pixel (i, j) covers
// [i, i+1) x [j, j+1)); the zoom window is never rounded to whole pixels, and the chroma planes
// get the same geometry in their own coordinates (with their siting). Output areas that map
// outside the source are black.
//
// Output is always limited-range yuv420p with left chroma siting (what H.264 encoders assume):
// full-range (yuvj420p) sources are converted to limited range, so the encoder never needs to
// know the source's range. Black is Y=16, U=V=128.
//
// Bilinear handles any invertible affine transform (the ramp form carries a tiny rotation).
// HighQuality resamples separably through zimg; a transform that rotates, shears or mirrors by a
// visible amount falls back to bilinear rather than drop those parts of the geometry.
//
// Threading: a FrameRenderer is not thread-safe, but renderers are independent. To use several
// cores on one frame, give each thread its own renderer and let each render a disjoint band of
// output rows with renderRows() (bandStart() gives bands that keep chroma rows whole). The source
// frame is only read, so all bands may share it. Running whole frames on several renderers at
// once is equally fine.

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
    // `output` must be an allocated yuv420p frame of the output size. The transform must be
    // finite and invertible. On failure the output is left unchanged and `error` says why.
    bool render(const AVFrame& source, const AffineTransform& sourceToOutput, AVFrame& output, Error* error = nullptr);

    // Renders only output luma rows [firstRow, lastRow) and the chroma rows that start inside
    // them (chroma row k belongs to the band holding luma row 2k), so bands that tile the
    // picture tile every plane. The frame properties (range, siting) are set by every call.
    bool renderRows(const AVFrame& source, const AffineTransform& sourceToOutput, AVFrame& output, int firstRow,
                    int lastRow, Error* error = nullptr);

    // First luma row of band `index` of `count` equal bands over `height` rows; even, so each
    // band owns whole chroma rows. bandStart(count, count, h) == h.
    static int bandStart(int index, int count, int height);

    ResampleFilter filter() const;
    int outputWidth() const;
    int outputHeight() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
