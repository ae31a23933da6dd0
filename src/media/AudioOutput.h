#pragma once
// The player's sound device, implemented by the platform (Qt Multimedia) and by tests.

#include <cstdint>

namespace media {

// A sound device taking interleaved signed 16-bit PCM. The player calls it from its sound
// thread only; an implementation that lives on another thread marshals the calls itself.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Opens the device for this format. False when there is no usable device: the player then
    // plays silent on its monotonic clock.
    virtual bool open(int sampleRate, int channels) = 0;
    // Takes up to `frames` frames without blocking; returns how many it took (0 when its
    // buffer is full: the player waits a little and offers the rest again).
    virtual int write(const int16_t* interleaved, int frames) = 0;
    // Frames the listener has heard since open() or the last flush(): the sound clock.
    virtual int64_t framesPlayed() = 0;
    // Stops (true) or resumes (false) playing what is buffered; framesPlayed() holds meanwhile.
    virtual void setPaused(bool paused) = 0;
    // Drops everything buffered and counts framesPlayed() from 0 again (after a seek).
    virtual void flush() = 0;
    virtual void close() = 0;
};

}  // namespace media
