#pragma once
// Conversions of decoded pictures that the export, the image generator and the player share, so
// that a picture looks the same whichever of them shows it. Engine-internal (FFmpeg types).

#include "media/FFmpeg.h"

namespace media::internal {

// Tells a converter the source's colour matrix and range, and the range wanted out.
void matchSourceColours(SwsContext* sws, const AVFrame& source, bool fullRangeOut);

// Brings decoded pictures to the 8-bit limited-range yuv420p of one size that the renderer and
// the encoder take: other formats (10-bit, 4:2:2, full-range JPEG) are converted, a picture
// whose size changed mid-stream is brought back to the first size. Not thread-safe.
class Yuv420Converter {
public:
    enum class Result { Ok, Unsupported, OutOfMemory };
    // `out` is `frame` itself (a new reference) when it already is what is wanted.
    Result convert(const AVFrame& frame, int width, int height, av::Frame& out);

private:
    av::Sws sws_;
    int w_ = 0, h_ = 0, fmt_ = -1;
};

}  // namespace media::internal
