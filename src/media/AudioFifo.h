#pragma once
// Sound on its way into an AAC encoder: resampled from whatever the source delivers to the
// encoder's sample format, rate and layout, queued, and handed out in the encoder's frame size.
// The export (decoded sound tracks) and the recorder (microphone samples, with silence for
// gaps) both feed their encoders through it. Engine-internal; one thread at a time.

#include "media/FFmpeg.h"

struct AVAudioFifo;

namespace media {

class AudioFifo {
public:
    AudioFifo() = default;
    ~AudioFifo();
    AudioFifo(const AudioFifo&) = delete;
    AudioFifo& operator=(const AudioFifo&) = delete;

    // Prepares for `encoder` (opened): its sample format, rate, layout and frame size. 0 or an
    // FFmpeg error.
    int open(const AVCodecContext& encoder);
    // Sets what the source delivers. The resampler is rebuilt only when that changed, so a
    // source that keeps its format keeps the resampler's filter state from call to call. An
    // unspecified or empty layout stands for the default layout of max(1, channels).
    int setSource(const AVChannelLayout& layout, AVSampleFormat format, int rate);

    // Resamples `frames` source samples into a staging area; returns how many samples came out
    // (0 when the resampler holds them back, negative on error). Nothing is queued yet: the
    // caller decides with queueResampled how many of the first ones to drop.
    int resample(const uint8_t* const* data, int frames);
    // The resampler's tail at the end of the sound, into the staging area like resample.
    int resampleTail();
    // Queues the staged samples from `skip` on. Returns how many were queued.
    int queueResampled(int skip = 0);
    // Queues `frames` samples of silence.
    int queueSilence(int frames);

    int size() const;  // samples queued
    // Whether take() has a frame: a full one, or with `flush` any samples at all.
    bool ready(bool flush) const;
    // The next frame for the encoder (full, or with `flush` whatever is left): the encoder's
    // format, rate and layout, pts unset. Empty when not ready or out of memory.
    av::Frame take(bool flush);

private:
    AVSampleFormat format_ = AV_SAMPLE_FMT_NONE;
    int rate_ = 0;
    AVChannelLayout layout_{};
    int frameSize_ = 1024;
    AVAudioFifo* fifo_ = nullptr;
    av::Swr swr_;
    AVChannelLayout sourceLayout_{};
    AVSampleFormat sourceFormat_ = AV_SAMPLE_FMT_NONE;
    int sourceRate_ = 0;
    uint8_t** staged_ = nullptr;  // av_samples_alloc_array_and_samples, grown as needed
    int stagedCapacity_ = 0;
    int stagedCount_ = 0;

    bool stage(int frames);
    void freeStaged();
};

}  // namespace media
