#pragma once
// A picture's size in whole pixels: files, devices, encoders and compositions all count pixels, so
// one integer type serves them all and no caller rounds a fraction away by accident.

namespace media {

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
    bool empty() const { return width <= 0 || height <= 0; }
};

}  // namespace media
