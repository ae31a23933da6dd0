// The camera screen's UI thread while cameras come and go and the recording quality changes: the
// longest time it went without turning its event loop (target: 50 ms at most), against the same
// figure while the camera merely runs (the reference, measured in the same run).
//
// Cameras are put in through the engine's device backend: the test picture behind names of its
// own, slow as real hardware is (listing 150 ms, as opening every video node and asking the sound
// server takes; opening a camera 400 ms). A remembered camera coming and going makes the session
// follow it, each time a full set-up; the preset changes set it up anew too.
// Usage: camera_stall_bench [ROUNDS]   (default 10)

#include "RecordingController.h"
#include "Settings.h"
#include "TavrioCameraController.h"
#include "TavrioCameraViewController.h"
#include "TavrioCaptureManager.h"

#include "media/CapturePresets.h"
#include "media/capture/CaptureDevice.h"
#include "media/capture/DeviceBackends.h"
#include "media/capture/DeviceMonitor.h"
#include "platform/Defaults.h"
#include "ui/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

void slow(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class SlowCamera : public media::CaptureDevice {
public:
    SlowCamera(const std::string& id, const std::string& name) : CaptureDevice(id, name, media::MediaType::Video, false) {}
    std::vector<media::VideoFormat> formats() const override { return picture()->formats(); }
    std::unique_ptr<media::VideoSource> openVideo(media::Size want, double fps, media::Error* error) override {
        slow(400);
        return picture()->openVideo(want, fps, error);
    }

private:
    static std::shared_ptr<media::CaptureDevice> picture() {
        return media::CaptureDevice::deviceWithUniqueID(media::CaptureDevice::kVirtualCameraID);
    }
};

// The longest gap between two turns of the event loop, from a 1 ms tick.
struct StallWatch {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    StallWatch() {
        clock.start();
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
    }
    void start() {
        longest = 0;
        last = clock.nsecsElapsed();
        tick.start();
    }
    double stopMs() {
        tick.stop();
        return longest / 1e6;
    }
};

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool spinUntil(const std::function<bool()>& done, int limitMs = 30000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    QTemporaryDir home;
    qputenv("TAVRIO_HOME", home.path().toUtf8());
    qputenv("QT_LOGGING_RULES", "tavrio.*=false");

    std::mutex mutex;
    std::vector<media::backends::Found> cameras{{"bench:first", "First Camera", {}}};
    media::backends::Backend backend;
    backend.findCameras = [&] {
        slow(150);
        std::lock_guard lock(mutex);
        return cameras;
    };
    backend.findMicrophones = [] { return std::vector<media::backends::Found>{}; };
    backend.makeCamera = [](const media::backends::Found& f) -> std::shared_ptr<media::CaptureDevice> {
        return std::make_shared<SlowCamera>(f.id, f.name);
    };
    media::backends::setBackend(backend);
    platform::Defaults::standard().setString(QStringLiteral("bench:second"), QLatin1String(settings::kCameraDevice));

    ui::Window window;
    auto* camera = new TavrioCameraViewController();
    RecordingController* recorder = camera->recorder();
    recorder->captureManager().setDeviceListerForTesting([] { return media::CaptureDevice::devices(); });
    window.setRootViewController(camera);
    window.resize(320, 480);
    window.show();
    auto settled = [&] { return recorder->isCameraRunning() && !recorder->isSessionSetUpPending(); };
    if (!spinUntil(settled)) {
        std::fprintf(stderr, "the camera did not start\n");
        return 1;
    }
    spin(1000);

    StallWatch watch;
    watch.start();
    spin(3000);
    const double idle = watch.stopMs();

    // The remembered camera comes and goes: each time the session follows it.
    auto* monitor = recorder->captureManager().deviceMonitor();
    int followed = 0;
    watch.start();
    for (int i = 0; i < rounds; ++i) {
        {
            std::lock_guard lock(mutex);
            cameras.push_back({"bench:second", "Second Camera", {}});
        }
        std::thread([monitor] { monitor->rescan(); }).detach();
        followed += spinUntil([&] { return settled() && recorder->captureManager().camera().id == "bench:second"; });
        {
            std::lock_guard lock(mutex);
            cameras.pop_back();
        }
        std::thread([monitor] { monitor->rescan(); }).detach();
        followed += spinUntil([&] { return settled() && recorder->captureManager().camera().id == "bench:first"; });
    }
    const double plugging = watch.stopMs();

    // The recording quality changes, as the settings apply it.
    watch.start();
    for (int i = 0; i < rounds; ++i) {
        recorder->setUpSession(QString::fromLatin1(i % 2 ? media::kCapturePresetHigh : media::kCapturePresetMedium));
        spinUntil(settled);
    }
    const double presets = watch.stopMs();

    std::printf("camera stays running (reference): longest UI stall %.1f ms over 3 s\n", idle);
    std::printf("cameras plugged and removed %d times (%d of %d set-ups followed): longest UI stall %.1f ms\n",
                rounds, followed, 2 * rounds, plugging);
    std::printf("preset changed %d times: longest UI stall %.1f ms\n", rounds, presets);
    std::printf("target: 50 ms or less (ratio to the reference: %.2f and %.2f)\n", plugging / std::max(idle, 0.1),
                presets / std::max(idle, 0.1));
    return 0;
}
