// Recording from the virtual camera and microphone at 1280x720, 30 fps, against the ffmpeg tool
// recording its own test source and tone with the same encoders and settings for as long.
// Prints dropped frames, the sound's start against the pictures', and the CPU-time ratio.
// Usage: capture_record_bench [SECONDS]   (default 60)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/CapturePresets.h"
#include "media/LibraryLog.h"
#include "media/capture/MovieFileOutput.h"

using namespace media;

namespace {

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Done : RecordingDelegate {
    std::promise<Error> p;
    void didFinishRecording(MovieFileOutput&, const std::string&, const Error& e) override { p.set_value(e); }
};

// Start times of the first video and audio streams, in seconds.
bool startTimes(const std::string& path, double& video, double& audio) {
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return false;
    avformat_find_stream_info(ic, nullptr);
    video = audio = -1;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* st = ic->streams[i];
        double t = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time * av_q2d(st->time_base);
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && video < 0) video = t;
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && audio < 0) audio = t;
    }
    avformat_close_input(&ic);
    return video >= 0 && audio >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    media::setLibraryLogLevel(media::LibraryLogLevel::Errors);
    auto dir = std::filesystem::temp_directory_path() / ("tavrio-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string ours = (dir / "ours.mov").string();
    const std::string theirs = (dir / "ffmpeg.mov").string();

    // Ours: the whole capture path, session threads, preview slot and recorder included.
    double cpu0 = cpuSeconds(RUSAGE_SELF);
    uint64_t dropped = 0, sourceDropped = 0;
    double recorded = 0;
    {
        CaptureSession session;
        session.setSessionPreset(CapturePreset::High);
        session.addInput(
            CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualCameraID)));
        session.addInput(
            CaptureDeviceInput::create(CaptureDevice::deviceWithUniqueID(CaptureDevice::kVirtualMicrophoneID)));
        auto out = std::make_shared<MovieFileOutput>();
        session.addOutput(out);
        session.startRunning();
        auto done = std::make_shared<Done>();
        auto fut = done->p.get_future();
        out->startRecording(ours, done);
        while (out->recordedDuration() < seconds) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        out->stopRecording();
        Error e = fut.get();
        if (e.isError()) {
            std::fprintf(stderr, "recording failed: %s (%s)\n", e.description.c_str(), e.failureReason.c_str());
            return 1;
        }
        dropped = out->droppedFrameCount();
        recorded = out->recordedDuration();
        sourceDropped = session.sourceDroppedFrames();
        session.stopRunning();
    }
    double oursCpu = cpuSeconds(RUSAGE_SELF) - cpu0;

    // Reference: ffmpeg paced to real time (-re), same size, rate, encoder and settings.
    std::string d = std::to_string(seconds);
    std::string cmd =
        "ffmpeg -v error -y -re -f lavfi -i testsrc=size=1280x720:rate=30 -re -f lavfi -i "
        "sine=frequency=440:sample_rate=48000 -t " +
        d +
        " -c:v libx264 -preset veryfast -tune zerolatency -crf 23 -g 30 -bf 0 -pix_fmt yuv420p"
        " -c:a aac -b:a 64k -ac 1 '" +
        theirs + "'";
    double child0 = cpuSeconds(RUSAGE_CHILDREN);
    int rc = std::system(cmd.c_str());
    double theirsCpu = cpuSeconds(RUSAGE_CHILDREN) - child0;
    if (rc != 0) {
        std::fprintf(stderr, "ffmpeg failed (%d)\n", rc);
        return 1;
    }

    double v = 0, a = 0;
    bool times = startTimes(ours, v, a);
    std::printf("recorded %.2f s at 1280x720 30 fps\n", recorded);
    // The recorder's count includes the frames the camera skipped (gaps in its sequence).
    std::printf("dropped frames: %llu (of which %llu skipped by the camera)\n",
                static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(sourceDropped));
    if (times)
        std::printf("A/V start: video %.4f s, audio %.4f s, difference %.1f ms (one frame = 33.3 ms)\n", v, a,
                    (a - v) * 1000);
    std::printf("CPU: ours %.2f s, ffmpeg %.2f s, ratio %.3f (target <= 1.2)\n", oursCpu, theirsCpu,
                theirsCpu > 0 ? oursCpu / theirsCpu : 0.0);
    std::filesystem::remove_all(dir);
    bool ok = dropped == 0 && times && std::abs(a - v) < 1.0 / 30 && oursCpu <= 1.2 * theirsCpu;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
