// Loaded with LD_PRELOAD into a program under test: its wall clock (CLOCK_REALTIME and
// gettimeofday, as Qt's and the C++ library's dates read it) steps back one hour at every whole
// second the program has run, as a time-sync correction would, while the monotonic clock runs on
// untouched. An interval measured on the wall clock across such a step comes out an hour short.

#include <dlfcn.h>
#include <sys/time.h>
#include <time.h>

namespace {

using ClockGetTime = int (*)(clockid_t, struct timespec*);

ClockGetTime realClockGetTime() {
    static ClockGetTime real = reinterpret_cast<ClockGetTime>(dlsym(RTLD_NEXT, "clock_gettime"));
    return real;
}

long stepsSoFar() {
    static struct timespec start = [] {
        struct timespec t {};
        realClockGetTime()(CLOCK_MONOTONIC, &t);
        return t;
    }();
    struct timespec now {};
    realClockGetTime()(CLOCK_MONOTONIC, &now);
    return long(now.tv_sec - start.tv_sec) - (now.tv_nsec < start.tv_nsec ? 1 : 0);
}

}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) noexcept {
    const int r = realClockGetTime()(id, ts);
    if (r == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)) ts->tv_sec -= 3600 * stepsSoFar();
    return r;
}

extern "C" int gettimeofday(struct timeval* __restrict tv, void* __restrict) noexcept {
    struct timespec ts {};
    const int r = clock_gettime(CLOCK_REALTIME, &ts);
    if (r == 0) {
        tv->tv_sec = ts.tv_sec;
        tv->tv_usec = ts.tv_nsec / 1000;
    }
    return r;
}
