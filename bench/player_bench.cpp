// Playback in the real window (run under Xvfb by player_bench.sh): a 60 s 1920x1080 30 fps
// recording with a zoom track plays through its zoom composition on the player screen.
//
//  - pacing: the share of the movie's 1800 pictures painted within one frame time of when the
//    player's clock said they were due (target: at least 99%);
//  - CPU: this process's CPU time over the playback against `ffplay` playing the same movie
//    unzoomed in a window of the same picture size, one after the other (target: at most 1.5);
//  - seek: from a seek to a random time until the view has painted that picture, median over
//    the seeks (target: 100 ms with a 1 s keyframe interval), against `ffmpeg` decoding one
//    picture at each of the same times (an accurate seek, process start included).
//
// The movie is made once with the engine and kept in the build folder.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "AVPlayerDemoPlaybackView.h"
#include "TavrioAVPlayerViewController.h"
#include "media/Asset.h"
#include "support/TestPattern.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

namespace {

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// Runs a command to its end; its CPU seconds (user + system), or -1 when it failed to run.
double childCpu(std::vector<std::string> args) {
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return cpuSeconds(RUSAGE_CHILDREN) - before;
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::filesystem::path dir = std::filesystem::path(argv[0]).parent_path() / "player-bench-media";
    std::filesystem::create_directories(dir);
    const std::string movie = (dir / "zoomed-1080p-60s.mov").string();
    if (!std::filesystem::exists(movie)) {
        std::printf("making the 60 s 1920x1080 movie (once)...\n");
        std::fflush(stdout);
        media::testpattern::MovieOptions o;
        o.writer.width = 1920;
        o.writer.height = 1080;
        o.writer.gopSize = 30;  // a keyframe every second
        o.writer.audioCodec = media::AudioCodec::Aac;
        o.writer.crf = 23;
        o.frameCount = 1800;
        media::Error e;
        if (!media::testpattern::makeMovie(movie, o, &e)) {
            std::fprintf(stderr, "cannot make the movie: %s\n", e.description.c_str());
            return 1;
        }
    }
    auto asset = media::Asset::open(movie);
    if (!asset) return 1;
    const media::AssetTrack v = asset->tracksWithMediaType(media::MediaType::Video).at(0);
    // A zoom track as a user makes one: in, hold, out and in again.
    const std::vector<media::ZoomEntry> track{{1, 0}, {2, 8}, {3, 15}, {3, 25}, {1.5f, 35}, {2.5f, 45}, {1, 58}};
    const media::VideoComposition composition =
        media::makeRampComposition(v.naturalSize, std::make_shared<const media::ZoomCurve>(track, asset->duration()));

    ui::Window window;
    window.resize(540, 810);
    auto* root = new ui::ViewController();
    auto* nav = new ui::NavigationController(root);
    window.setRootViewController(nav);
    window.show();
    auto item = media::PlayerItem::playerItemWithAsset(asset);
    item.setVideoComposition(composition);
    auto* screen = new TavrioAVPlayerViewController(item, nullptr);
    nav->pushViewController(screen, false);
    AVPlayerDemoPlaybackView* view = screen->playbackView();
    media::Player* player = screen->player();

    // Pacing: each composition frame counts once, when first painted.
    const int frames = 1800;
    const double fd = 1.0 / 30;
    std::vector<char> onTime(frames, 0), painted(frames, 0);
    QObject::connect(view, &AVPlayerDemoPlaybackView::pictureShown, view, [&](double t) {
        if (player->rate() == 0) return;
        const int k = static_cast<int>(std::lround(t / fd));
        if (k < 0 || k >= frames || painted[k]) return;
        painted[k] = 1;
        const double late = player->currentTime().seconds() - t;
        onTime[k] = late >= -1e-3 && late <= fd;
    });
    double cpuStart = 0;
    QElapsedTimer wall;
    bool started = false;
    // A loop of its own: quitting the application would close the window before the seeks.
    QEventLoop playing;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!started && player->rate() == 1) {
            started = true;
            cpuStart = cpuSeconds(RUSAGE_SELF);
            wall.start();
        }
        if (started && player->rate() == 0) playing.quit();
    });
    const bool seeksOnly = qEnvironmentVariableIsSet("PLAYER_BENCH_SEEKS_ONLY");
    poll.start(5);
    QTimer::singleShot(seeksOnly ? 2000 : 120000, &playing, &QEventLoop::quit);  // a stuck player ends the run
    playing.exec();
    poll.stop();
    player->pause();
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuStart;
    const double playSeconds = wall.elapsed() / 1000.0;
    const int shownOnTime = static_cast<int>(std::count(onTime.begin(), onTime.end(), 1));
    const int shown = static_cast<int>(std::count(painted.begin(), painted.end(), 1));

    // Seeks: paused, to seeded random times, exact; done when that picture is painted.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> when(0.5, 59.0);
    std::vector<double> seekMs, seekTimes;
    for (int i = 0; i < 25; ++i) {
        const double t = std::floor(when(rng) * 30) / 30 + 0.01;
        seekTimes.push_back(t);
        const int k = static_cast<int>(std::floor(t * 30));
        QElapsedTimer timer;
        timer.start();
        player->seekToTime(media::Time::fromSeconds(t, 1000000));
        bool done = false;
        auto c = QObject::connect(view, &AVPlayerDemoPlaybackView::pictureShown, view,
                                  [&](double s) { done = done || std::lround(s * 30) == k; });
        while (!done && timer.elapsed() < 5000) app.processEvents(QEventLoop::AllEvents, 1);
        if (seeksOnly) std::printf("seek to %.3f: %.1f ms\n", t, timer.nsecsElapsed() / 1e6);
        QObject::disconnect(c);
        seekMs.push_back(done ? timer.nsecsElapsed() / 1e6 : 5000);
    }
    window.close();

    // References in the same run: ffplay plays the movie unzoomed in a window showing the
    // picture at the size the player's view shows it; ffmpeg decodes one picture per seek time.
    const QSize viewSize = view->size();
    const QRect fitted = AVPlayerDemoPlaybackView::fitRect({1920, 1080}, viewSize);
    // (PLAYER_BENCH_SEEKS_ONLY=1 skips the playback and ffplay, to look at seeks alone.)
    const double ffplayCpu =
        seeksOnly ? NAN
                  : childCpu({"ffplay", "-loglevel", "error", "-autoexit", "-an", "-x", std::to_string(fitted.width()),
                              "-y", std::to_string(fitted.height()), movie});
    std::vector<double> ffmpegMs;
    for (double t : seekTimes) {
        QElapsedTimer timer;
        timer.start();
        childCpu({"ffmpeg", "-loglevel", "error", "-ss", std::to_string(t), "-i", movie, "-frames:v", "1", "-f", "null",
                  "-"});
        ffmpegMs.push_back(timer.nsecsElapsed() / 1e6);
    }

    std::printf("playback: %.1f s of wall time for the 60 s movie, view %dx%d pixels\n", playSeconds, viewSize.width(),
                viewSize.height());
    std::printf("pictures on time (within one frame): %d of %d (%.2f%%), painted at all: %d   target >= 99%%\n",
                shownOnTime, frames, 100.0 * shownOnTime / frames, shown);
    std::printf("CPU: player %.2f s, ffplay (unzoomed) %.2f s, ratio %.2f   target <= 1.5\n", cpu, ffplayCpu,
                ffplayCpu > 0 ? cpu / ffplayCpu : NAN);
    std::printf(
        "seek to a painted picture: median %.1f ms (max %.1f), ffmpeg one-picture decode median %.1f ms, "
        "ratio %.2f   target <= 100 ms\n",
        median(seekMs), *std::max_element(seekMs.begin(), seekMs.end()), median(ffmpegMs),
        median(seekMs) / median(ffmpegMs));
    return 0;
}
