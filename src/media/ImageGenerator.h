#pragma once
// Still pictures from a movie: the first frame, scaled down to a maximum size, optionally turned
// the way the movie is meant to be shown.

#include <cstdint>
#include <string>
#include <vector>

#include "media/Error.h"
#include "media/VideoComposition.h"

namespace media {

// Packed 8-bit RGB, rows top to bottom.
struct RgbImage {
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row, at least 3 * width
    std::vector<uint8_t> bytes;

    bool isNull() const { return width <= 0 || height <= 0; }
    const uint8_t* pixel(int x, int y) const { return bytes.data() + y * stride + 3 * x; }
};

class ImageGenerator {
public:
    explicit ImageGenerator(std::string path) : path_(std::move(path)) {}

    // The picture has the proportions it is shown at: non-square pixels are stretched out, so
    // a 1280x1080 picture of 3:2 pixels comes out 1920x1080. {0, 0} (the default) keeps that
    // full size; otherwise it is scaled down, never up, to fit within the size.
    void setMaximumSize(Size size) { maximumSize_ = size; }
    // With it, portrait recordings come out upright and mirrored ones mirrored. Matrices that
    // are not quarter turns are taken to the nearest quarter turn (with their mirroring).
    void setAppliesPreferredTrackTransform(bool applies) { appliesTransform_ = applies; }

    // The first frame of the first video track; a null image (and *error) when none decodes.
    RgbImage copyFirstImage(Error* error = nullptr) const;

private:
    std::string path_;
    Size maximumSize_;
    bool appliesTransform_ = false;
};

}  // namespace media
