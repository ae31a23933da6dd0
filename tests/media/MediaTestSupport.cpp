#include "media/MediaTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include "media/FFmpeg.h"
#include "support/MovieFrames.h"

using namespace media;

namespace mediatest {

std::vector<DecodedFrame> decodeFrames(const std::string& path, int sw, int sh,
                                       const std::function<AffineTransform(const Time&)>& transform) {
    std::vector<DecodedFrame> out;
    testsupport::forEachPicture(path, [&](const AVFrame& f, testsupport::PictureTime t) {
        DecodedFrame d;
        d.time = Time(t.pts * t.num, t.den);
        d.width = f.width;
        d.height = f.height;
        d.code = testpattern::readFrameCode(f, sw, sh, transform ? transform(d.time) : AffineTransform::identity());
        out.push_back(d);
        return true;
    });
    return out;
}

std::vector<PacketInfo> readPackets(const std::string& path, bool video, int n) {
    std::vector<PacketInfo> out;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return out;
    av::InputContext in(raw);
    int index = -1;
    for (unsigned i = 0, seen = 0; i < raw->nb_streams; ++i)
        if (raw->streams[i]->codecpar->codec_type == (video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO) &&
            static_cast<int>(seen++) == n)
            index = static_cast<int>(i);
    if (index < 0) return out;
    av::Packet pkt = av::makePacket();
    while (av_read_frame(raw, pkt.get()) >= 0) {
        if (pkt->stream_index == index)
            out.push_back({Time(pkt->pts * raw->streams[index]->time_base.num, raw->streams[index]->time_base.den),
                           Time(pkt->dts * raw->streams[index]->time_base.num, raw->streams[index]->time_base.den),
                           std::string(reinterpret_cast<const char*>(pkt->data), static_cast<size_t>(pkt->size))});
        av_packet_unref(pkt.get());
    }
    return out;
}

testpattern::MovieOptions patternOptions(int frames, int width, int height) {
    testpattern::MovieOptions o;
    o.frameCount = frames;
    o.writer.width = width;
    o.writer.height = height;
    return o;
}

void makePatternMovie(const std::string& path, const testpattern::MovieOptions& options) {
    Error e;
    ASSERT_TRUE(testpattern::makeMovie(path, options, &e)) << e.description << ": " << e.failureReason;
}

ExportSession::Status runExport(ExportSession& session, std::shared_ptr<std::atomic<int>> completions) {
    struct Wait {
        std::mutex m;
        std::condition_variable cv;
        bool ended = false;
    };
    auto wait = std::make_shared<Wait>();
    if (!completions) completions = std::make_shared<std::atomic<int>>(0);
    session.exportAsynchronously([wait, completions] {
        ++*completions;
        std::lock_guard<std::mutex> lock(wait->m);
        wait->ended = true;
        wait->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(wait->m);
    // A guard against hangs, not a speed limit.
    if (!wait->cv.wait_for(lock, std::chrono::minutes(5), [&] { return wait->ended; })) {
        ADD_FAILURE() << "the export did not end; cancelling it";
        session.cancelExport();
        wait->cv.wait(lock, [&] { return wait->ended; });
    }
    return session.status();
}

VideoComposition zoomComposition(Size size, Time duration, float from, float to, ResampleFilter filter) {
    auto curve =
        std::make_shared<const ZoomCurve>(std::vector<ZoomEntry>{{from, 0.0}, {to, duration.seconds()}}, duration);
    return filter == ResampleFilter::HighQuality ? makeLayerComposition(size, curve) : makeRampComposition(size, curve);
}

VideoComposition plainComposition(Size size) {
    return makeRampComposition(size, nullptr);
}

std::string fileDigest(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    // FNV-1a over the whole file, plus the length: enough to notice any change.
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return std::to_string(bytes.size()) + ":" + std::to_string(h);
}

}  // namespace mediatest

namespace {
// FFmpeg's own chatter about the damaged files the tests feed it would bury the test output.
const int quietFFmpeg = [] {
    av_log_set_level(AV_LOG_FATAL);
    return 0;
}();
}  // namespace
