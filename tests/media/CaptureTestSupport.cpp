#include "CaptureTestSupport.h"

#include <cstdio>
#include <cstring>
#include <fstream>

extern "C" {
#include <libavutil/display.h>
}

#include "media/FFmpeg.h"
#include "support/TestSupport.h"

namespace capturetest {

using namespace media;

MovieInfo probeMovie(const std::string& path) {
    MovieInfo info;
    AVFormatContext* ic = nullptr;
    if (int r = avformat_open_input(&ic, path.c_str(), nullptr, nullptr); r < 0) {
        info.error = "open failed " + std::to_string(r);
        return info;
    }
    av::InputContext in(ic);
    if (avformat_find_stream_info(ic, nullptr) < 0) {
        info.error = "no stream info";
        return info;
    }
    info.opened = true;
    int v = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    int a = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    av::CodecContext vdec, adec;
    if (v >= 0) {
        AVStream* st = ic->streams[v];
        info.width = st->codecpar->width;
        info.height = st->codecpar->height;
        info.videoStart = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time * av_q2d(st->time_base);
        if (const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
            info.hasMatrix = true;
            std::memcpy(info.matrix.data(), m, sizeof(int32_t) * 9);
        }
        const AVCodec* c = avcodec_find_decoder(st->codecpar->codec_id);
        vdec.reset(avcodec_alloc_context3(c));
        avcodec_parameters_to_context(vdec.get(), st->codecpar);
        avcodec_open2(vdec.get(), c, nullptr);
    }
    if (a >= 0) {
        AVStream* st = ic->streams[a];
        info.hasAudio = true;
        info.audioStart = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time * av_q2d(st->time_base);
        const AVCodec* c = avcodec_find_decoder(st->codecpar->codec_id);
        adec.reset(avcodec_alloc_context3(c));
        avcodec_parameters_to_context(adec.get(), st->codecpar);
        avcodec_open2(adec.get(), c, nullptr);
    }
    av::Packet pkt = av::makePacket();
    av::Frame f = av::makeFrame();
    int64_t audioSamples = 0;
    auto drain = [&](AVCodecContext* dec, bool video) {
        while (avcodec_receive_frame(dec, f.get()) == 0) {
            if (video) {
                ++info.decodedFrames;
                int64_t t = f->best_effort_timestamp;
                if (t != AV_NOPTS_VALUE)
                    info.lastFrameTime = std::max(info.lastFrameTime, t * av_q2d(ic->streams[v]->time_base));
            } else {
                audioSamples += f->nb_samples;
                if (f->format == AV_SAMPLE_FMT_FLTP || f->format == AV_SAMPLE_FMT_FLT) {
                    const float* d = reinterpret_cast<const float*>(f->data[0]);
                    int step = f->format == AV_SAMPLE_FMT_FLT ? f->ch_layout.nb_channels : 1;
                    for (int i = 0; i < f->nb_samples; ++i) info.audio.push_back(d[i * step]);
                }
            }
            av_frame_unref(f.get());
        }
    };
    while (av_read_frame(ic, pkt.get()) >= 0) {
        if (pkt->stream_index == v && vdec) {
            avcodec_send_packet(vdec.get(), pkt.get());
            drain(vdec.get(), true);
        } else if (pkt->stream_index == a && adec) {
            avcodec_send_packet(adec.get(), pkt.get());
            drain(adec.get(), false);
        }
        av_packet_unref(pkt.get());
    }
    if (vdec) {
        avcodec_send_packet(vdec.get(), nullptr);
        drain(vdec.get(), true);
    }
    if (adec) {
        avcodec_send_packet(adec.get(), nullptr);
        drain(adec.get(), false);
        info.audioRate = adec->sample_rate;
        if (adec->sample_rate > 0) info.audioSeconds = double(audioSamples) / adec->sample_rate;
    }
    return info;
}

bool isFragmented(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint64_t pos = 0;
    while (in) {
        unsigned char h[16];
        in.seekg(std::streamoff(pos));
        if (!in.read(reinterpret_cast<char*>(h), 8)) break;
        uint64_t size = (uint64_t(h[0]) << 24) | (uint64_t(h[1]) << 16) | (uint64_t(h[2]) << 8) | h[3];
        std::string type(reinterpret_cast<char*>(h + 4), 4);
        if (type == "moof") return true;
        if (size == 1) {
            if (!in.read(reinterpret_cast<char*>(h + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | h[i];
        }
        if (size < 8) break;
        pos += size;
    }
    return false;
}

double ffprobeVideoSeconds(const std::string& path) {
    std::string out;
    int rc = testsupport::run(
        "ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp_time "
        "-of csv=p=0 '" +
            path + "' 2>/dev/null",
        &out);
    if (rc != 0 && out.empty()) return -1;
    double last = -1;
    size_t start = 0;
    while (start < out.size()) {
        size_t nl = out.find('\n', start);
        std::string line = out.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (!line.empty() && line != "N/A") last = std::max(last, std::atof(line.c_str()));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return last;
}

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace capturetest
