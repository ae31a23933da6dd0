#include "media/AacEncoder.h"

namespace media {

int AacEncoder::rateAtOrAbove(int rate) {
    static const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};
    for (int r : rates)
        if (r >= rate) return r;
    return 96000;
}

int AacEncoder::open(const AacSettings& s, av::CodecContext& out) {
    const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!enc) return AVERROR_ENCODER_NOT_FOUND;
    out.reset(avcodec_alloc_context3(enc));
    AVCodecContext* e = out.get();
    if (!e) return AVERROR(ENOMEM);
    e->sample_fmt = AV_SAMPLE_FMT_FLTP;
    e->sample_rate = s.sampleRate;
    const int channels = s.channels;
    if (s.layout && s.layout->order == AV_CHANNEL_ORDER_NATIVE)
        av_channel_layout_copy(&e->ch_layout, s.layout);
    else
        av_channel_layout_default(&e->ch_layout, channels);
    e->bit_rate = s.bitRate;
    e->time_base = AVRational{1, s.sampleRate};
    if (s.globalHeader) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(e, enc, nullptr);
    if (r < 0) {
        av_channel_layout_uninit(&e->ch_layout);
        av_channel_layout_default(&e->ch_layout, channels);
        r = avcodec_open2(e, enc, nullptr);
    }
    return r;
}

}  // namespace media
