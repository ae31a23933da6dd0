#include "support/MovieWriter.h"

#include "media/MediaInternal.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/AacEncoder.h"
#include "media/FFmpeg.h"
#include "media/H264Encoder.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
}

namespace media {

struct MovieWriter::Impl {
    std::string path;
    MovieWriterSettings settings;
    av::OutputContext out;
    av::CodecContext video;
    av::CodecContext audio;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    av::Packet packet = av::makePacket();
    std::vector<int16_t> pendingAudio;  // interleaved, less than one encoder frame
    int64_t audioSamplesSent = 0;
    Error error;
    bool failed = false;
    bool finished = false;

    int64_t frameTicks() const {
        double fps = settings.frameRate > 0 ? settings.frameRate : 30;
        double ticks = settings.timeBase.timescale / (settings.timeBase.value * fps);
        return std::max<int64_t>(1, static_cast<int64_t>(ticks + 0.5));
    }

    bool fail(int averror, const std::string& what) {
        if (!failed) error = errorFromAv(averror, what, "Check that the folder exists and the disk has room.");
        failed = true;
        return false;
    }

    bool drain(AVCodecContext* enc, AVStream* st) {
        for (;;) {
            int r = avcodec_receive_packet(enc, packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return fail(r, "The movie could not be encoded.");
            // x264 leaves durations unset; the last sample's length comes from it.
            if (enc == video.get() && packet->duration <= 0) packet->duration = frameTicks();
            av_packet_rescale_ts(packet.get(), enc->time_base, st->time_base);
            packet->stream_index = st->index;
            r = av_interleaved_write_frame(out.get(), packet.get());
            if (r < 0) return fail(r, "The movie could not be written.");
        }
    }

    bool sendAudio(const int16_t* samples, int frames) {
        av::Frame f = av::makeFrame();
        f->nb_samples = frames;
        f->format = audio->sample_fmt;
        f->sample_rate = audio->sample_rate;
        av_channel_layout_copy(&f->ch_layout, &audio->ch_layout);
        int r = av_frame_get_buffer(f.get(), 0);
        if (r < 0) return fail(r, "Out of memory for sound.");
        const int ch = settings.channels;
        if (audio->sample_fmt == AV_SAMPLE_FMT_FLTP) {
            for (int c = 0; c < ch; ++c) {
                float* dst = reinterpret_cast<float*>(f->data[c]);
                for (int i = 0; i < frames; ++i) dst[i] = samples[i * ch + c] / 32768.0f;
            }
        } else {
            std::copy(samples, samples + frames * ch, reinterpret_cast<int16_t*>(f->data[0]));
        }
        f->pts = audioSamplesSent;
        audioSamplesSent += frames;
        r = avcodec_send_frame(audio.get(), f.get());
        if (r < 0) return fail(r, "The sound could not be encoded.");
        return drain(audio.get(), audioStream);
    }
};

MovieWriter::MovieWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MovieWriter::~MovieWriter() = default;

std::unique_ptr<MovieWriter> MovieWriter::create(const std::string& path, const MovieWriterSettings& s, Error* error) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->settings = s;
    auto bail = [&](int r, const std::string& what) -> std::unique_ptr<MovieWriter> {
        impl->fail(r, what);
        if (error) *error = impl->error;
        return nullptr;
    };
    if (s.width <= 0 || s.height <= 0 || (s.width | s.height) & 1 || !s.timeBase.isValid() || s.timeBase.value <= 0)
        return bail(AVERROR(EINVAL), "The movie settings are not usable (size must be even and positive).");

    AVFormatContext* oc = nullptr;
    int r = avformat_alloc_output_context2(&oc, nullptr, "mov", path.c_str());
    if (r < 0) return bail(r, "The movie could not be created.");
    impl->out.reset(oc);

    H264Settings h264;
    h264.width = s.width;
    h264.height = s.height;
    h264.timeBase = AVRational{static_cast<int>(s.timeBase.value), s.timeBase.timescale};
    h264.frameRate = av_d2q(s.frameRate > 0 ? s.frameRate : 30, 100000);
    h264.gopSize = s.gopSize;
    h264.maxBFrames = s.maxBFrames;
    h264.threadCount = 0;
    if (s.pixelAspectWidth > 0 && s.pixelAspectHeight > 0 && s.pixelAspectWidth != s.pixelAspectHeight)
        h264.sampleAspectRatio = AVRational{s.pixelAspectWidth, s.pixelAspectHeight};
    h264.globalHeader = oc->oformat->flags & AVFMT_GLOBALHEADER;
    if (s.fullRange) h264.colorRange = AVCOL_RANGE_JPEG;
    h264.preset = s.x264Preset;
    h264.crf = s.crf;
    if (s.maxBFrames == 0) h264.x264Params = "bframes=0";
    r = H264Encoder::open(h264, impl->video);
    if (r == AVERROR_ENCODER_NOT_FOUND) return bail(r, "H.264 encoding is not available.");
    if (r < 0) return bail(r, "The H.264 encoder could not be started.");
    AVCodecContext* v = impl->video.get();
    impl->videoStream = avformat_new_stream(oc, nullptr);
    if (!impl->videoStream) return bail(AVERROR(ENOMEM), "The movie could not be created.");
    avcodec_parameters_from_context(impl->videoStream->codecpar, v);
    impl->videoStream->time_base = v->time_base;
    impl->videoStream->sample_aspect_ratio = v->sample_aspect_ratio;
    if (s.displayMatrix && !internal::setStreamDisplayMatrix(impl->videoStream, *s.displayMatrix))
        return bail(AVERROR(ENOMEM), "The movie could not be created.");

    if (s.audioCodec != AudioCodec::None) {
        if (s.channels < 1 || s.channels > 8 || s.sampleRate <= 0)
            return bail(AVERROR(EINVAL), "The sound settings are not usable.");
        if (s.audioCodec == AudioCodec::Aac) {
            r = AacEncoder::open({.sampleRate = s.sampleRate,
                                  .channels = s.channels,
                                  .bitRate = 96000,
                                  .globalHeader = (oc->oformat->flags & AVFMT_GLOBALHEADER) != 0},
                                 impl->audio);
            if (r == AVERROR_ENCODER_NOT_FOUND) return bail(r, "The sound encoder is not available.");
        } else {
            const AVCodec* pcm = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
            if (!pcm) return bail(AVERROR_ENCODER_NOT_FOUND, "The sound encoder is not available.");
            impl->audio.reset(avcodec_alloc_context3(pcm));
            AVCodecContext* a = impl->audio.get();
            a->sample_fmt = AV_SAMPLE_FMT_S16;
            a->sample_rate = s.sampleRate;
            av_channel_layout_default(&a->ch_layout, s.channels);
            a->time_base = AVRational{1, s.sampleRate};
            a->bit_rate = 96000;
            if (oc->oformat->flags & AVFMT_GLOBALHEADER) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            r = avcodec_open2(a, pcm, nullptr);
        }
        AVCodecContext* a = impl->audio.get();
        if (r < 0) return bail(r, "The sound encoder could not be started.");
        impl->audioStream = avformat_new_stream(oc, nullptr);
        if (!impl->audioStream) return bail(AVERROR(ENOMEM), "The movie could not be created.");
        avcodec_parameters_from_context(impl->audioStream->codecpar, a);
        impl->audioStream->time_base = a->time_base;
    }

    r = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return bail(r, "The movie file could not be created.");
    r = avformat_write_header(oc, nullptr);
    if (r < 0) return bail(r, "The movie could not be written.");
    return std::unique_ptr<MovieWriter>(new MovieWriter(std::move(impl)));
}

bool MovieWriter::writeVideoFrame(const AVFrame& frame, Time pts) {
    Impl& d = *impl_;
    if (d.failed || d.finished) return false;
    if (frame.width != d.settings.width || frame.height != d.settings.height || frame.format != AV_PIX_FMT_YUV420P)
        return d.fail(AVERROR(EINVAL), "A picture does not match the movie's size or format.");
    av::Frame f(av_frame_clone(&frame));
    if (!f) return d.fail(AVERROR(ENOMEM), "Out of memory for a picture.");
    f->pts = pts.convertScale(d.settings.timeBase.timescale).value / d.settings.timeBase.value;
    if (d.settings.fullRange) f->color_range = AVCOL_RANGE_JPEG;
    f->pict_type = AV_PICTURE_TYPE_NONE;
    int r = avcodec_send_frame(d.video.get(), f.get());
    if (r < 0) return d.fail(r, "The picture could not be encoded.");
    return d.drain(d.video.get(), d.videoStream);
}

bool MovieWriter::writeAudioSamples(const int16_t* interleaved, int frames) {
    Impl& d = *impl_;
    if (d.failed || d.finished) return false;
    if (!d.audio) return d.fail(AVERROR(EINVAL), "The movie has no sound track.");
    const int ch = d.settings.channels;
    const int frameSize = d.audio->frame_size > 0 ? d.audio->frame_size : 1024;
    d.pendingAudio.insert(d.pendingAudio.end(), interleaved, interleaved + static_cast<size_t>(frames) * ch);
    size_t whole = d.pendingAudio.size() / (static_cast<size_t>(frameSize) * ch);
    for (size_t i = 0; i < whole; ++i)
        if (!d.sendAudio(d.pendingAudio.data() + i * frameSize * ch, frameSize)) return false;
    d.pendingAudio.erase(d.pendingAudio.begin(), d.pendingAudio.begin() + whole * frameSize * ch);
    return true;
}

bool MovieWriter::finish() {
    Impl& d = *impl_;
    if (d.finished) return !d.failed;
    d.finished = true;
    if (d.failed) return false;
    if (d.audio) {
        if (!d.pendingAudio.empty() &&
            !d.sendAudio(d.pendingAudio.data(), static_cast<int>(d.pendingAudio.size() / d.settings.channels)))
            return false;
        int r = avcodec_send_frame(d.audio.get(), nullptr);
        if (r < 0 && r != AVERROR_EOF) return d.fail(r, "The sound could not be encoded.");
        if (!d.drain(d.audio.get(), d.audioStream)) return false;
    }
    int r = avcodec_send_frame(d.video.get(), nullptr);
    if (r < 0 && r != AVERROR_EOF) return d.fail(r, "The picture could not be encoded.");
    if (!d.drain(d.video.get(), d.videoStream)) return false;
    r = av_write_trailer(d.out.get());
    if (r < 0) return d.fail(r, "The movie could not be finished.");
    r = avio_closep(&d.out->pb);
    if (r < 0) return d.fail(r, "The movie could not be finished.");
    return true;
}

const Error& MovieWriter::error() const {
    return impl_->error;
}

const MovieWriterSettings& MovieWriter::settings() const {
    return impl_->settings;
}

}  // namespace media
