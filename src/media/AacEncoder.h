#pragma once
// Opens FFmpeg's AAC encoder with named settings: the export, the recorder and the movie writer
// each say what they want here instead of setting the encoder up by hand. Engine-internal.

#include "media/FFmpeg.h"

namespace media {

struct AacSettings {
    int sampleRate = 44100;  // one of the rates AAC knows; see AacEncoder::rateAtOrAbove
    // Copied when it is a native layout; otherwise (or when the encoder refuses it) the
    // default layout of `channels` is used.
    const AVChannelLayout* layout = nullptr;
    int channels = 1;
    int64_t bitRate = 128000;
    bool globalHeader = false;  // decoder configuration in the stream's header (QuickTime and MP4)
};

class AacEncoder {
public:
    // 0, AVERROR_ENCODER_NOT_FOUND, or avcodec_open2's error. `out` holds the opened encoder on
    // success: planar float input, time base 1/sampleRate.
    static int open(const AacSettings& settings, av::CodecContext& out);
    // The lowest rate AAC takes that is at least `rate` (96 kHz above that).
    static int rateAtOrAbove(int rate);
};

}  // namespace media
