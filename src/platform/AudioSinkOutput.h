#pragma once
// The player's sound through the desktop's sound server (Qt Multimedia's QAudioSink).
//
// The sink lives on a thread of its own with an event loop, so the player's sound thread never
// waits for the UI thread (which may itself be waiting for the player to stop). The player's
// thread writes into a ring buffer the sink pulls from; what the sink has pulled, less what it
// still holds, is what the listener has heard.

#include <QByteArray>
#include <QIODevice>
#include <QMutex>
#include <QThread>
#include <atomic>
#include <memory>

#include "media/AudioOutput.h"

class QAudioSink;

namespace platform {

class AudioSinkOutput : public media::AudioOutput {
public:
    AudioSinkOutput();
    ~AudioSinkOutput() override;

    // False when there is no output device or it takes no such format.
    bool open(int sampleRate, int channels) override;
    int write(const int16_t* interleaved, int frames) override;
    int64_t framesPlayed() override;
    void setPaused(bool paused) override;
    void flush() override;
    void close() override;

    // Whether the system has a sound output at all (no device: the player plays silent).
    static bool hasOutputDevice();

    class Ring;

private:
    void onSinkThread(std::function<void()> fn, bool wait);

    QThread thread_;
    QObject* home_ = nullptr;  // lives on thread_; the sink's parent
    QAudioSink* sink_ = nullptr;
    Ring* ring_ = nullptr;
    int bytesPerFrame_ = 0;
    std::atomic<int64_t> bufferFrames_{0};
};

}  // namespace platform
