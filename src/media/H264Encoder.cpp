#include "media/H264Encoder.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace media {

int H264Encoder::open(const H264Settings& s, av::CodecContext& out) {
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264) return AVERROR_ENCODER_NOT_FOUND;
    out.reset(avcodec_alloc_context3(x264));
    AVCodecContext* e = out.get();
    if (!e) return AVERROR(ENOMEM);
    e->width = s.width;
    e->height = s.height;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->time_base = s.timeBase;
    e->framerate = s.frameRate;
    if (s.gopSize) e->gop_size = *s.gopSize;
    if (s.maxBFrames) e->max_b_frames = *s.maxBFrames;
    if (s.threadCount) e->thread_count = *s.threadCount;
    e->sample_aspect_ratio = s.sampleAspectRatio;
    e->color_range = s.colorRange;
    e->color_primaries = s.colorPrimaries;
    e->color_trc = s.colorTransfer;
    e->colorspace = s.colorSpace;
    if (s.globalHeader) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(e->priv_data, "preset", s.preset.c_str(), 0);
    if (!s.tune.empty()) av_opt_set(e->priv_data, "tune", s.tune.c_str(), 0);
    av_opt_set_int(e->priv_data, "crf", s.crf, 0);
    if (!s.profile.empty()) av_opt_set(e->priv_data, "profile", s.profile.c_str(), 0);
    if (!s.x264Params.empty()) av_opt_set(e->priv_data, "x264-params", s.x264Params.c_str(), 0);
    return avcodec_open2(e, x264, nullptr);
}

}  // namespace media
