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
};

}  // namespace platform
