#pragma once
// Draws camera pictures for the screen: the picture goes through the same resampler the export's
// "Good" rendering uses (FrameRenderer, bilinear, sub-pixel exact), then to 32-bit BGRX pixels
// a toolkit can show as they are. So what the preview shows at a zoom is what the export makes.
//
// Threading: not thread-safe; one renderer per drawing thread. It only reads the picture, so a
// picture shared with the recorder may be drawn while it is being encoded.

#include <cstdint>
#include <memory>

#include "media/AffineTransform.h"
#include "media/Error.h"
#include "media/capture/CaptureTypes.h"

namespace media {

class PreviewRenderer {
public:
    PreviewRenderer();
    ~PreviewRenderer();
    PreviewRenderer(const PreviewRenderer&) = delete;
    PreviewRenderer& operator=(const PreviewRenderer&) = delete;

    // The size of a sample's picture; empty for a sample without one.
    static Size pictureSize(const VideoSample& sample);

    // Renders `sample` through `sourceToOutput` (source pixels to output pixels, continuous
    // coordinates) into `width` x `height` pixels of 4 bytes each (B, G, R, 255 in memory order),
    // rows `stride` bytes apart. Areas outside the picture are black. False (and *error) when the
    // sample has no yuv420p picture or the transform is not invertible; the output is then left
    // as it was.
    bool render(const VideoSample& sample, const AffineTransform& sourceToOutput, int width, int height, uint8_t* bgrx,
                int stride, Error* error = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace media
