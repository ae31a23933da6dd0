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

// What the player wrote and the sink has not pulled yet. The sink pulls on its own thread, the
// player writes on its sound thread. When it runs dry the sink gets silence, which is not counted
// as consumed (heard), so the pictures wait for the sound rather than run ahead of it. Open it
// unbuffered: a read-ahead would count sound the sink has not taken.
class AudioRing : public QIODevice {
public:
    explicit AudioRing(qint64 capacityBytes);
    // Takes what fits; returns the bytes taken.
    qint64 push(const char* data, qint64 bytes);
    // Drops what is buffered and counts from 0 again.
    void clear();
    // Bytes of real sound the sink has pulled since the last clear().
    qint64 consumed() const;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return 1 << 20; }

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    mutable QMutex mutex_;
    QByteArray buffer_;
    qint64 capacity_;
    qint64 consumed_ = 0;
};

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

private:
    void onSinkThread(std::function<void()> fn, bool wait);

    QThread thread_;
    QObject* home_ = nullptr;  // lives on thread_; the sink's parent
    QAudioSink* sink_ = nullptr;
    AudioRing* ring_ = nullptr;
    int bytesPerFrame_ = 0;
    std::atomic<int64_t> bufferFrames_{0};
};

}  // namespace platform
