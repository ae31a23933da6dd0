#pragma once
// Decodes one video stream of an open input: the export, the image generator and the file camera
// share it. Engine-internal (it speaks FFmpeg's types); callers word their own errors.

#include "media/FFmpeg.h"

namespace media {

class VideoDecoder {
public:
    struct Threads {
        int count = 0;            // 0: as many as FFmpeg likes
        bool slicesOnly = false;  // frame threads hold back the first picture until several are in
    };

    // 0, AVERROR_DECODER_NOT_FOUND when no decoder reads the stream's format, or avcodec_open2's
    // error.
    int open(const AVStream* stream, Threads threads);

    // FFmpeg's send/receive protocol; a null packet starts draining.
    int send(const AVPacket* packet) { return avcodec_send_packet(codec_.get(), packet); }
    int receive(AVFrame* frame) { return avcodec_receive_frame(codec_.get(), frame); }
    // Forgets buffered pictures, as after a seek.
    void flush() { avcodec_flush_buffers(codec_.get()); }

    // Reads `input` until the stream yields its next picture, draining the decoder at the end
    // of the file. 0 with a picture in `frame`; AVERROR_EOF once every picture is out; another
    // error when the decoder fails. Packets of other streams are skipped; `packet` is scratch.
    // With `packetBudget`, each packet of the stream costs one, and at zero the decoder is
    // drained as at the end: a movie whose pictures never decode does not keep the caller.
    int decodeNext(AVFormatContext* input, AVPacket* packet, AVFrame* frame, int* packetBudget = nullptr);
    // After decodeNext reached the end: read again from the start (the caller seeks the input).
    void restart();

    int streamIndex() const { return stream_; }
    AVCodecContext* context() const { return codec_.get(); }

private:
    av::CodecContext codec_;
    int stream_ = -1;
    bool draining_ = false;
};

}  // namespace media
