#include "media/capture/CaptureTypes.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

extern "C" {
#include <libavutil/frame.h>
}

namespace media {

int64_t monotonicNowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

namespace {
std::mutex logMutex;
std::function<void(const std::string&)> logHandler;
}  // namespace

void setCaptureLogHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(logMutex);
    logHandler = std::move(handler);
}

void captureLog(const char* format, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    std::lock_guard lock(logMutex);
    if (logHandler)
        logHandler(buf);
    else
        std::fprintf(stderr, "capture: %s\n", buf);
}

std::shared_ptr<const AVFrame> shareFrame(AVFrame* ownedFrame) {
    return std::shared_ptr<const AVFrame>(ownedFrame, [](const AVFrame* f) {
        AVFrame* m = const_cast<AVFrame*>(f);
        av_frame_free(&m);
    });
}

}  // namespace media
