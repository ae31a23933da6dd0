#include "support/MovieFrames.h"

#include "support/TestPattern.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace testsupport {

bool forEachPicture(const std::string& path, const std::function<bool(const AVFrame&, PictureTime)>& picture) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = false;
    do {
        if (avformat_find_stream_info(fmt, nullptr) < 0) break;
        const int vindex = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (vindex < 0) break;
        AVStream* vs = fmt->streams[vindex];
        const AVCodec* codec = avcodec_find_decoder(vs->codecpar->codec_id);
        if (!codec) break;
        dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, vs->codecpar);
        dec->pkt_timebase = vs->time_base;
        if (avcodec_open2(dec, codec, nullptr) < 0) break;
        ok = true;
        bool more = true;
        auto take = [&]() {
            while (more && avcodec_receive_frame(dec, frame) == 0) {
                more = picture(*frame, {frame->best_effort_timestamp, vs->time_base.num, vs->time_base.den});
                av_frame_unref(frame);
            }
        };
        while (more && av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == vindex) {
                avcodec_send_packet(dec, pkt);
                take();
            }
            av_packet_unref(pkt);
        }
        avcodec_send_packet(dec, nullptr);
        take();
    } while (false);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return ok;
}

bool readMovie(const std::string& path, MovieFacts& facts, int keepEvery) {
    facts = MovieFacts();
    {
        AVFormatContext* fmt = nullptr;
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
        const bool info = avformat_find_stream_info(fmt, nullptr) >= 0;
        for (unsigned i = 0; info && i < fmt->nb_streams; ++i) {
            AVStream* s = fmt->streams[i];
            if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                facts.audioStreams++;
                facts.audioCodec = avcodec_get_name(s->codecpar->codec_id);
            }
        }
        const int vindex = info ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
        if (vindex >= 0) {
            AVStream* vs = fmt->streams[vindex];
            if (vs->duration > 0) facts.videoDuration = vs->duration * av_q2d(vs->time_base);
            size_t sdSize = 0;
            if (const uint8_t* sd = av_stream_get_side_data(vs, AV_PKT_DATA_DISPLAYMATRIX, &sdSize);
                sd && sdSize >= 36) {
                std::copy_n(reinterpret_cast<const int32_t*>(sd), 9, facts.displayMatrix);
                facts.hasDisplayMatrix = true;
            }
        }
        avformat_close_input(&fmt);
        if (vindex < 0) return false;
    }
    int index = 0;
    const bool ok = forEachPicture(path, [&](const AVFrame& frame, PictureTime t) {
        LumaFrame lf;
        lf.time = t.seconds();
        lf.width = frame.width;
        lf.height = frame.height;
        if (index++ % keepEvery == 0) {
            lf.y.resize(static_cast<size_t>(lf.width) * lf.height);
            SwsContext* sws =
                sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
                               frame.height, AV_PIX_FMT_GRAY8, SWS_POINT, nullptr, nullptr, nullptr);
            uint8_t* dst[4] = {lf.y.data(), nullptr, nullptr, nullptr};
            int dstStride[4] = {lf.width, 0, 0, 0};
            sws_scale(sws, frame.data, frame.linesize, 0, frame.height, dst, dstStride);
            sws_freeContext(sws);
        }
        facts.frames.push_back(std::move(lf));
        return true;
    });
    std::stable_sort(facts.frames.begin(), facts.frames.end(),
                     [](const LumaFrame& a, const LumaFrame& b) { return a.time < b.time; });
    return ok;
}

Centroid brightCentroid(const LumaFrame& f, double cx, double cy, int radius) {
    Centroid c;
    if (f.y.empty()) return c;
    const int x0 = std::max(0, static_cast<int>(cx) - radius),
              x1 = std::min(f.width - 1, static_cast<int>(cx) + radius);
    const int y0 = std::max(0, static_cast<int>(cy) - radius),
              y1 = std::min(f.height - 1, static_cast<int>(cy) + radius);
    if (x0 >= x1 || y0 >= y1) return c;
    // The background is the window's median-ish floor: take the minimum of the border.
    double floor = 255;
    for (int x = x0; x <= x1; ++x) floor = std::min({floor, f.at(x, y0), f.at(x, y1)});
    for (int y = y0; y <= y1; ++y) floor = std::min({floor, f.at(x0, y), f.at(x1, y)});
    double peak = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) peak = std::max(peak, f.at(x, y));
    const double threshold = floor + 0.2 * (peak - floor);
    double sw = 0, sx = 0, sy = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double w = f.at(x, y) - threshold;
            if (w <= 0) continue;
            sw += w;
            sx += w * (x + 0.5);
            sy += w * (y + 0.5);
        }
    if (sw <= 0) return c;
    c.x = sx / sw;
    c.y = sy / sw;
    c.found = true;
    return c;
}

bool videoPacketDigest(const std::string& path, std::vector<uint64_t>& digests) {
    digests.clear();
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
    bool ok = avformat_find_stream_info(fmt, nullptr) >= 0;
    const int vindex = ok ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
    AVPacket* pkt = av_packet_alloc();
    while (vindex >= 0 && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == vindex) {
            uint64_t h = 1469598103934665603ull;  // FNV-1a
            for (int i = 0; i < pkt->size; ++i) h = (h ^ pkt->data[i]) * 1099511628211ull;
            digests.push_back(h);
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return ok && vindex >= 0;
}

std::filesystem::path makeRecordingIn(const std::filesystem::path& library, const std::string& name, int frames,
                                      const char* track) {
    std::filesystem::create_directories(library / "Originals");
    const std::filesystem::path movie = library / "Originals" / name;
    media::testpattern::MovieOptions o;
    o.writer.width = 320;
    o.writer.height = 240;
    o.writer.audioCodec = media::AudioCodec::Aac;
    o.frameCount = frames;
    media::Error e;
    EXPECT_TRUE(media::testpattern::makeMovie(movie.string(), o, &e)) << e.description;
    if (track) {
        std::filesystem::create_directories(library / "Zooms");
        writeFile(library / "Zooms" / (name + ".zooms.lkbx"), track);
    }
    return movie;
}

}  // namespace testsupport
