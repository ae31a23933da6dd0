#include "platform/AudioSinkOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QMetaObject>
#include <QMutexLocker>
#include <algorithm>
#include <cstring>

#include "platform/Logging.h"

namespace platform {

AudioRing::AudioRing(qint64 capacityBytes) : capacity_(capacityBytes) {}

qint64 AudioRing::push(const char* data, qint64 bytes) {
    QMutexLocker lock(&mutex_);
    const qint64 n = std::min(capacity_ - buffer_.size(), bytes);
    if (n > 0) buffer_.append(data, n);
    return std::max<qint64>(n, 0);
}

void AudioRing::clear() {
    QMutexLocker lock(&mutex_);
    buffer_.clear();
    consumed_ = 0;
}

qint64 AudioRing::consumed() const {
    QMutexLocker lock(&mutex_);
    return consumed_;
}

qint64 AudioRing::readData(char* data, qint64 maxlen) {
    QMutexLocker lock(&mutex_);
    const qint64 n = std::min<qint64>(maxlen, buffer_.size());
    if (n > 0) {
        std::memcpy(data, buffer_.constData(), static_cast<size_t>(n));
        buffer_.remove(0, n);
        consumed_ += n;
    }
    if (n < maxlen) std::memset(data + n, 0, static_cast<size_t>(maxlen - n));
    return maxlen;
}

AudioSinkOutput::AudioSinkOutput() {
    thread_.setObjectName(QStringLiteral("tavrio-audio"));
    home_ = new QObject;
    home_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, home_, &QObject::deleteLater);
    thread_.start();
}

AudioSinkOutput::~AudioSinkOutput() {
    close();
    thread_.quit();
    thread_.wait();
}

void AudioSinkOutput::onSinkThread(std::function<void()> fn, bool wait) {
    QMetaObject::invokeMethod(home_, std::move(fn), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

bool AudioSinkOutput::hasOutputDevice() {
    return !QMediaDevices::defaultAudioOutput().isNull();
}

bool AudioSinkOutput::open(int sampleRate, int channels) {
    close();
    bool ok = false;
    onSinkThread(
        [&] {
            const QAudioDevice device = QMediaDevices::defaultAudioOutput();
            if (device.isNull()) {
                qCInfo(lcPlayer) << "no sound output; the movie plays silent";
                return;
            }
            QAudioFormat format;
            format.setSampleRate(sampleRate);
            format.setChannelCount(channels);
            format.setSampleFormat(QAudioFormat::Int16);
            if (!device.isFormatSupported(format)) {
                qCInfo(lcPlayer) << "the sound output takes no" << sampleRate << "Hz" << channels
                                 << "channel sound; the movie plays silent";
                return;
            }
            bytesPerFrame_ = channels * 2;
            // Half a second written ahead keeps the sound going through a busy moment.
            ring_ = new AudioRing(static_cast<qint64>(sampleRate) / 2 * bytesPerFrame_);
            ring_->setParent(home_);
            ring_->open(QIODevice::ReadOnly | QIODevice::Unbuffered);  // no read-ahead: pulled means heard
            sink_ = new QAudioSink(device, format, home_);
            sink_->setBufferSize(sampleRate / 20 * bytesPerFrame_);  // 50 ms
            sink_->start(ring_);
            if (sink_->error() != QAudio::NoError) {
                delete sink_;
                sink_ = nullptr;
                delete ring_;
                ring_ = nullptr;
                return;
            }
            bufferFrames_ = sink_->bufferSize() / bytesPerFrame_;
            ok = true;
        },
        true);
    return ok;
}

int AudioSinkOutput::write(const int16_t* interleaved, int frames) {
    if (!ring_ || frames <= 0) return 0;
    const qint64 n =
        ring_->push(reinterpret_cast<const char*>(interleaved), static_cast<qint64>(frames) * bytesPerFrame_);
    return static_cast<int>(n / bytesPerFrame_);
}

int64_t AudioSinkOutput::framesPlayed() {
    if (!ring_) return 0;
    // What the sink pulled is still in its own buffer for about a buffer's length.
    return std::max<int64_t>(0, ring_->consumed() / bytesPerFrame_ - bufferFrames_.load());
}

void AudioSinkOutput::setPaused(bool paused) {
    if (!sink_) return;
    QAudioSink* sink = sink_;
    onSinkThread([sink, paused] { paused ? sink->suspend() : sink->resume(); }, false);
}

void AudioSinkOutput::flush() {
    if (!sink_) return;
    QAudioSink* sink = sink_;
    AudioRing* ring = ring_;
    // The sink drops what it holds and pulls afresh from the emptied ring.
    onSinkThread(
        [sink, ring] {
            const bool suspended = sink->state() == QAudio::SuspendedState;
            sink->reset();
            ring->clear();
            sink->start(ring);
            if (suspended) sink->suspend();
        },
        true);
}

void AudioSinkOutput::close() {
    if (!sink_) return;
    onSinkThread(
        [this] {
            sink_->stop();
            delete sink_;
            sink_ = nullptr;
            delete ring_;
            ring_ = nullptr;
        },
        true);
}

}  // namespace platform
