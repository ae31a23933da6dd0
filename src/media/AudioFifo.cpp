#include "media/AudioFifo.h"

#include <algorithm>
#include <vector>

extern "C" {
#include <libavutil/audio_fifo.h>
}

namespace media {

AudioFifo::~AudioFifo() {
    if (fifo_) av_audio_fifo_free(fifo_);
    freeStaged();
    av_channel_layout_uninit(&layout_);
    av_channel_layout_uninit(&sourceLayout_);
}

void AudioFifo::freeStaged() {
    if (staged_) av_freep(&staged_[0]);
    av_freep(&staged_);
    stagedCapacity_ = stagedCount_ = 0;
}

int AudioFifo::open(const AVCodecContext& encoder) {
    format_ = encoder.sample_fmt;
    rate_ = encoder.sample_rate;
    frameSize_ = encoder.frame_size > 0 ? encoder.frame_size : 1024;
    av_channel_layout_uninit(&layout_);
    int r = av_channel_layout_copy(&layout_, &encoder.ch_layout);
    if (r < 0) return r;
    if (fifo_) av_audio_fifo_free(fifo_);
    fifo_ = av_audio_fifo_alloc(format_, layout_.nb_channels, frameSize_ * 4);
    swr_.reset();
    freeStaged();
    return fifo_ ? 0 : AVERROR(ENOMEM);
}

int AudioFifo::setSource(const AVChannelLayout& layout, AVSampleFormat format, int rate) {
    AVChannelLayout in{};
    int r = layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels == 0
                ? (av_channel_layout_default(&in, std::max(1, layout.nb_channels)), 0)
                : av_channel_layout_copy(&in, &layout);
    if (r < 0) return r;
    if (swr_ && format == sourceFormat_ && rate == sourceRate_ && av_channel_layout_compare(&in, &sourceLayout_) == 0) {
        av_channel_layout_uninit(&in);
        return 0;
    }
    swr_.reset();
    SwrContext* ctx = nullptr;
    r = swr_alloc_set_opts2(&ctx, &layout_, format_, rate_, &in, format, rate, 0, nullptr);
    if (r < 0 || (r = swr_init(ctx)) < 0) {
        swr_free(&ctx);
        av_channel_layout_uninit(&in);
        return r;
    }
    swr_.reset(ctx);
    av_channel_layout_uninit(&sourceLayout_);
    sourceLayout_ = in;  // takes over its allocation, if any
    sourceFormat_ = format;
    sourceRate_ = rate;
    return 0;
}

bool AudioFifo::stage(int frames) {
    stagedCount_ = 0;
    if (frames <= stagedCapacity_) return true;
    freeStaged();
    if (av_samples_alloc_array_and_samples(&staged_, nullptr, layout_.nb_channels, frames, format_, 0) < 0)
        return false;
    stagedCapacity_ = frames;
    return true;
}

int AudioFifo::resample(const uint8_t* const* data, int frames) {
    stagedCount_ = 0;
    if (!swr_) return AVERROR(EINVAL);
    const int most = swr_get_out_samples(swr_.get(), frames);
    if (most <= 0) return 0;
    if (!stage(most)) return AVERROR(ENOMEM);
    const int got = swr_convert(swr_.get(), staged_, most, const_cast<const uint8_t**>(data), frames);
    stagedCount_ = std::max(0, got);
    return got;
}

int AudioFifo::resampleTail() {
    return swr_ ? resample(nullptr, 0) : 0;
}

int AudioFifo::queueResampled(int skip) {
    const int n = stagedCount_ - std::max(0, skip);
    if (n <= 0) return 0;
    const int bytesPerSample = av_get_bytes_per_sample(format_);
    const bool planar = av_sample_fmt_is_planar(format_);
    const int channels = layout_.nb_channels;
    std::vector<void*> from(static_cast<size_t>(planar ? channels : 1));
    const size_t offset = static_cast<size_t>(skip) * bytesPerSample * (planar ? 1 : channels);
    for (size_t c = 0; c < from.size(); ++c) from[c] = staged_[c] + offset;
    stagedCount_ = 0;
    return av_audio_fifo_write(fifo_, from.data(), n);
}

int AudioFifo::queueSilence(int frames) {
    if (frames <= 0) return 0;
    uint8_t** silence = nullptr;
    if (av_samples_alloc_array_and_samples(&silence, nullptr, layout_.nb_channels, frames, format_, 0) < 0)
        return AVERROR(ENOMEM);
    av_samples_set_silence(silence, 0, frames, layout_.nb_channels, format_);
    const int n = av_audio_fifo_write(fifo_, reinterpret_cast<void**>(silence), frames);
    av_freep(&silence[0]);
    av_freep(&silence);
    return n;
}

int AudioFifo::size() const {
    return fifo_ ? av_audio_fifo_size(fifo_) : 0;
}

bool AudioFifo::ready(bool flush) const {
    return size() >= frameSize_ || (flush && size() > 0);
}

av::Frame AudioFifo::take(bool flush) {
    if (!ready(flush)) return {};
    av::Frame f = av::makeFrame();
    if (!f) return {};
    f->nb_samples = std::min(size(), frameSize_);
    f->format = format_;
    f->sample_rate = rate_;
    if (av_channel_layout_copy(&f->ch_layout, &layout_) < 0 || av_frame_get_buffer(f.get(), 0) < 0 ||
        av_audio_fifo_read(fifo_, reinterpret_cast<void**>(f->data), f->nb_samples) < f->nb_samples)
        return {};
    return f;
}

}  // namespace media
