// The engine's side of the export benchmarks: makes source movies and runs one export or one
// thumbnail per call, so that export_bench.sh can time it (and its peak memory) against the
// ffmpeg command-line tools doing the same job in the same run.
//
//   export_bench make OUT WIDTH HEIGHT SECONDS        a pattern movie with a tone
//   export_bench export SRC OUT good|best|still|plain|passthrough|portrait
//   export_bench thumbnail SRC OUT.ppm SIZE

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "media/Asset.h"
#include "media/ExportSession.h"
#include "media/ImageGenerator.h"
#include "media/TestPattern.h"

extern "C" {
#include <libavutil/log.h>
}

using namespace media;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: export_bench make OUT W H SECONDS\n"
                 "       export_bench export SRC OUT good|best|still|plain|passthrough|portrait\n"
                 "       export_bench thumbnail SRC OUT.ppm SIZE\n");
    return 2;
}

AffineTransform zoom(float z, Size s) {
    return {z, 0, 0, z, -(z - 1) * s.width / 2, -(z - 1) * s.height / 2};
}

// The benchmark's zoom track: 1.0 to 3.0 over the first half, then back to 1.5 by the end.
VideoComposition zoomComposition(const Asset& asset, bool layers) {
    const AssetTrack v = asset.tracksWithMediaType(MediaType::Video).at(0);
    const Time d = asset.duration();
    const Time half(d.value / 2, d.timescale);
    VideoComposition c;
    c.renderSize = v.naturalSize;
    c.frameDuration = Time(1, 30);
    CompositionInstruction in;
    in.timeRange = TimeRange(Time::zero(), d);
    LayerInstruction li;
    li.trackID = v.trackID;
    if (!layers) {
        li.setTransformRamp(zoom(1, v.naturalSize), zoom(3, v.naturalSize), TimeRange(Time::zero(), half));
        li.setTransformRamp(zoom(3, v.naturalSize), zoom(1.5f, v.naturalSize), TimeRange::fromStartEnd(half, d));
    }
    in.layerInstructions.push_back(li);
    c.instructions.push_back(in);
    if (layers) {
        auto parent = std::make_shared<Layer>(), video = std::make_shared<Layer>();
        parent->frame =
            video->frame = {0, 0, static_cast<float>(v.naturalSize.width), static_cast<float>(v.naturalSize.height)};
        ScaleAnimation a;
        a.removedOnCompletion = false;
        a.fillMode = FillMode::Forwards;
        a.fromValue = 1;
        a.toValue = 3;
        a.beginTime = 1e-100;
        a.duration = half.seconds();
        parent->addAnimation(a, "zoom0");
        a.fromValue = 3;
        a.toValue = 1.5f;
        a.beginTime = half.seconds();
        a.duration = (d - half).seconds();
        parent->addAnimation(a, "zoom1");
        parent->addSublayer(video);
        c.animationTool = AnimationTool{video, parent};
    }
    return c;
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
        ExportSession s(asset, copy ? kExportPresetPassthrough : kExportPresetHighestQuality);
        s.setOutputPath(argv[3]);
        if (mode == "good" || mode == "best") s.setVideoComposition(zoomComposition(*asset, mode == "best"));
        if (mode == "still") {
            // Every frame rendered, at zoom 1 throughout.
            VideoComposition c = zoomComposition(*asset, true);
            c.animationTool.reset();
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
