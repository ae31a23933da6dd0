#include "media/VideoDecoder.h"

namespace media {

int VideoDecoder::open(const AVStream* stream, Threads threads) {
    const AVCodec* dec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!dec) return AVERROR_DECODER_NOT_FOUND;
    codec_.reset(avcodec_alloc_context3(dec));
    if (!codec_) return AVERROR(ENOMEM);
    int r = avcodec_parameters_to_context(codec_.get(), stream->codecpar);
    if (r < 0) return r;
    codec_->pkt_timebase = stream->time_base;
    codec_->thread_count = threads.count;
    if (threads.slicesOnly) codec_->thread_type = FF_THREAD_SLICE;
    stream_ = stream->index;
    draining_ = false;
    return avcodec_open2(codec_.get(), dec, nullptr);
}

int VideoDecoder::decodeNext(AVFormatContext* input, AVPacket* packet, AVFrame* frame, int* packetBudget) {
    for (;;) {
        int r = receive(frame);
        if (r != AVERROR(EAGAIN)) return r;
        if (draining_) return AVERROR_EOF;  // a decoder that asks for more after the end has nothing left
        r = packetBudget && *packetBudget <= 0 ? AVERROR_EOF : av_read_frame(input, packet);
        if (r < 0) {
            draining_ = true;
            send(nullptr);
            continue;
        }
        // A damaged packet is skipped: the pictures after it may still decode.
        if (packet->stream_index == stream_) {
            send(packet);
            if (packetBudget) --*packetBudget;
        }
        av_packet_unref(packet);
    }
}

void VideoDecoder::restart() {
    flush();
    draining_ = false;
}

}  // namespace media
