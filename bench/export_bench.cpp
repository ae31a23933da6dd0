// The engine's side of the export benchmarks: makes source movies and runs one export or one
// thumbnail per call, so that export_bench.sh can time it (and its peak memory) against the
// ffmpeg command-line tools doing the same job in the same run.
//
//   export_bench make OUT WIDTH HEIGHT SECONDS        a pattern movie with a tone
//   export_bench export SRC OUT good|best|still|plain|passthrough|portrait
//   export_bench frames SRC OUT.y4m                   the pictures a Good export of SRC encodes
//   export_bench thumbnail SRC OUT.ppm SIZE

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "media/Asset.h"
#include "media/ExportSession.h"
#include "media/FrameRenderer.h"
#include "media/ImageGenerator.h"
#include "media/MediaInternal.h"
#include "support/TestPattern.h"
#include "media/VideoComposition.h"
#include "media/VideoDecoder.h"
#include "media/ZoomCurve.h"

extern "C" {
#include <libavutil/log.h>
}

using namespace media;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: export_bench make OUT W H SECONDS\n"
                 "       export_bench export SRC OUT good|best|still|plain|passthrough|portrait\n"
                 "       export_bench frames SRC OUT.y4m\n"
                 "       export_bench thumbnail SRC OUT.ppm SIZE\n");
    return 2;
}

// The benchmark's zoom track: 1.0 to 3.0 over the first half, then back to 1.5 by the end.
VideoComposition zoomComposition(const Asset& asset, bool best) {
    const AssetTrack v = asset.tracksWithMediaType(MediaType::Video).at(0);
    const Time d = asset.duration();
    const Time half(d.value / 2, d.timescale);
    auto curve = std::make_shared<const ZoomCurve>(
        std::vector<ZoomEntry>{{1.0f, 0.0}, {3.0f, half.seconds()}, {1.5f, d.seconds()}}, d);
    return best ? makeLayerComposition(v.naturalSize, curve) : makeRampComposition(v.naturalSize, curve);
}

// The pictures a Good export of `src` hands its encoder, as raw video: the script times x264 on
// exactly these, which no zoom export can undercut, apart from any rendering. Frame k shows the
// latest picture that starts at or before k / 30 s, through the composition's transform then.
int writeFrames(const char* src, const char* outPath) {
    Error e;
    auto asset = Asset::open(src, &e);
    av::InputContext in;
    if (!asset || internal::openInput(src, in)) {
        std::fprintf(stderr, "%s cannot be read\n", src);
        return 1;
    }
    const int index = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    VideoDecoder decoder;
    if (index < 0 || decoder.open(in->streams[index], {.count = 2}) < 0) {
        std::fprintf(stderr, "%s has no picture to decode\n", src);
        return 1;
    }
    const AVStream* st = in->streams[index];
    const VideoComposition c = zoomComposition(*asset, false);
    const int w = c.renderSize.width, h = c.renderSize.height;
    FrameRenderer renderer(ResampleFilter::Bilinear, w, h);
    av::Frame out = av::makeFrame();
    out->format = AV_PIX_FMT_YUV420P;
    out->width = w;
    out->height = h;
    if (av_frame_get_buffer(out.get(), 0) < 0) return 1;
    std::ofstream file(outPath, std::ios::binary);
    file << "YUV4MPEG2 W" << w << " H" << h << " F30:1 Ip A1:1 C420mpeg2 XCOLORRANGE=LIMITED\n";

    av::Packet pkt = av::makePacket();
    av::Frame cur = av::makeFrame(), next = av::makeFrame();
    auto timeOf = [&](const AVFrame& f) { return internal::timeFromAv(f.best_effort_timestamp, st->time_base); };
    if (decoder.decodeNext(in.get(), pkt.get(), cur.get()) < 0) return 1;
    bool haveNext = decoder.decodeNext(in.get(), pkt.get(), next.get()) == 0;
    const Time d = asset->duration();
    const int64_t count = (static_cast<__int128>(d.value) * 30 + d.timescale - 1) / d.timescale;
    for (int64_t k = 0; k < count; ++k) {
        const Time t(k, 30);
        while (haveNext && timeOf(*next) <= t) {
            std::swap(cur, next);
            av_frame_unref(next.get());
            haveNext = decoder.decodeNext(in.get(), pkt.get(), next.get()) == 0;
        }
        if (!renderer.render(*cur, c.transformAt(t), *out, &e)) {
            std::fprintf(stderr, "%s\n", e.failureReason.c_str());
            return 1;
        }
        file << "FRAME\n";
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < (p ? h / 2 : h); ++y)
                file.write(reinterpret_cast<const char*>(out->data[p] + y * out->linesize[p]), p ? w / 2 : w);
    }
    return file ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    if (argc < 2) return usage();
    const std::string cmd = argv[1];
    if (cmd == "make" && argc == 6) {
        testpattern::MovieOptions o;
        o.writer.width = std::atoi(argv[3]);
        o.writer.height = std::atoi(argv[4]);
        o.writer.audioCodec = AudioCodec::Aac;
        o.writer.channels = 2;
        o.writer.x264Preset = "veryfast";
        o.writer.crf = 20;
        o.writer.maxBFrames = 2;
        o.frameCount = static_cast<int>(std::atof(argv[5]) * 30);
        Error e;
        if (!testpattern::makeMovie(argv[2], o, &e)) {
            std::fprintf(stderr, "%s: %s\n", e.description.c_str(), e.failureReason.c_str());
            return 1;
        }
        return 0;
    }
    if (cmd == "export" && argc == 5) {
        Error e;
        auto asset = Asset::open(argv[2], &e);
        if (!asset) {
            std::fprintf(stderr, "%s: %s\n", e.description.c_str(), e.failureReason.c_str());
            return 1;
        }
        const std::string mode = argv[4];
        const bool copy = mode == "passthrough" || mode == "portrait";
        ExportSession s(asset, copy ? ExportPreset::Passthrough : ExportPreset::HighestQuality);
        s.setOutputPath(argv[3]);
        if (mode == "good" || mode == "best") s.setVideoComposition(zoomComposition(*asset, mode == "best"));
        if (mode == "still") {
            // Every frame rendered, at zoom 1 throughout.
            VideoComposition c = zoomComposition(*asset, true);
            c.zoom.reset();
            s.setVideoComposition(c);
        }
        if (mode == "portrait") s.setVideoTrackPreferredTransform(AffineTransform{0, 1, -1, 0, 0, 0});
        const auto status = s.exportAndWait();
        // Where the time went, for export_bench.sh to show beside the ratios.
        if (const char* file = std::getenv("TAVRIO_BENCH_TIMINGS")) {
            const ExportSession::Timings t = s.timings();
            std::ofstream(file) << t.decode << " " << t.decoderWait << " " << t.render << " " << t.rendererStarved
                                << " " << t.rendererWait << " " << t.encode << " " << t.encoderWait << "\n";
        }
        if (status != ExportSession::Status::Completed) {
            const Error err = s.error();
            std::fprintf(stderr, "export ended with status %d: %s %s\n", static_cast<int>(status),
                         err.description.c_str(), err.failureReason.c_str());
            return 1;
        }
        return 0;
    }
    if (cmd == "frames" && argc == 4) return writeFrames(argv[2], argv[3]);
    if (cmd == "thumbnail" && argc == 5) {
        ImageGenerator g(argv[2]);
        g.setAppliesPreferredTrackTransform(true);
        const int size = std::atoi(argv[4]);
        g.setMaximumSize({size, size});
        Error e;
        RgbImage img = g.copyFirstImage(&e);
        if (img.isNull()) {
            std::fprintf(stderr, "%s: %s\n", e.description.c_str(), e.failureReason.c_str());
            return 1;
        }
        // PPM, so the picture can be looked at; the app's JPEG encoding is not the engine's job.
        std::ofstream out(argv[3], std::ios::binary);
        out << "P6\n" << img.width << " " << img.height << "\n255\n";
        for (int y = 0; y < img.height; ++y) out.write(reinterpret_cast<const char*>(img.pixel(0, y)), 3 * img.width);
        return out ? 0 : 1;
    }
    return usage();
}
