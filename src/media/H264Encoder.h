#pragma once
// Opens libx264 with named settings: the export, the recorder and the movie writer each say what
// they want here instead of setting the encoder up by hand. Engine-internal.

#include <optional>
#include <string>

#include "media/FFmpeg.h"

namespace media {

struct H264Settings {
    int width = 0, height = 0;  // even
    AVRational timeBase{1, 30};
    AVRational frameRate{30, 1};  // nominal, for rate control
    std::string preset = "ultrafast";
    std::string tune;        // empty: none
    std::string profile;     // empty: x264 chooses
    std::string x264Params;  // empty: none
    int crf = 18;
    // Unset: the encoder's own choice.
    std::optional<int> gopSize;
    std::optional<int> maxBFrames;
    std::optional<int> threadCount;      // 0: as many as x264 likes; unset: FFmpeg's default of one
    AVRational sampleAspectRatio{0, 1};  // 0/1: unknown
    AVColorRange colorRange = AVCOL_RANGE_UNSPECIFIED;
    AVColorPrimaries colorPrimaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic colorTransfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace colorSpace = AVCOL_SPC_UNSPECIFIED;
    bool globalHeader = false;  // parameter sets in the stream's header (QuickTime and MP4)
};

class H264Encoder {
public:
    // 0, AVERROR_ENCODER_NOT_FOUND without libx264, or avcodec_open2's error. `out` holds the
    // opened encoder (yuv420p input) on success.
    static int open(const H264Settings& settings, av::CodecContext& out);
};

}  // namespace media
