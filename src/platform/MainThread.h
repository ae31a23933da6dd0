#pragma once
// The main thread's run loop: work posted here runs on the Qt main thread, later, in order.
// Engine code gets `dispatcher()` as its callback dispatch function, so engine threads never
// touch app objects directly.

#include <functional>

#include "media/Dispatch.h"  // the type only: platform does not link the engine

namespace platform {

class MainThread {
public:
    using Task = std::function<void()>;
    using Dispatcher = media::Dispatch;

    // Queues fn on the main thread's event loop (never runs it inline, even from the main
    // thread). Dropped with a warning when no QCoreApplication exists.
    static void dispatchAsync(Task fn);
    // Runs fn on the main thread after at least `ms` milliseconds.
    static void afterDelay(int ms, Task fn);
    // A function that does dispatchAsync; hand it to the engine.
    static Dispatcher dispatcher();
    static bool isMainThread();
    // Aborts naming `function` when called off the main thread. Use TAVRIO_ASSERT_MAIN_THREAD()
    // at the start of a main-thread-only operation: it checks in debug builds and costs nothing
    // in release builds.
    static void assertMain(const char* function);
};

}  // namespace platform

#ifdef NDEBUG
#define TAVRIO_ASSERT_MAIN_THREAD() ((void)0)
#else
#define TAVRIO_ASSERT_MAIN_THREAD() ::platform::MainThread::assertMain(Q_FUNC_INFO)
#endif
