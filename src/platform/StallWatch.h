#pragma once
// Watches the main thread's event loop from a thread of its own and logs one line (tavrio.stall,
// a warning) for every time the loop did not come back for longer than a limit:
//
//   event loop stalled for 120 ms in VideoAssetsScreen "Library" Paint (VideoAssetsViewController: thumbnail), 110 ms of it asleep
//
// with what was being delivered (the receiver's class and name and the event's type), the
// last Scope entered while it ran, and how much of it the thread was asleep (waiting on a file, a
// lock or another process) rather than working. Time the main thread spent runnable but waiting for a CPU (a loaded
// machine, the kernel's run-queue delay in /proc/self/task/<tid>/schedstat) is not counted, nor,
// while the main thread slept, the waits for a CPU of what a paint waits for (the display server,
// Qt's X event reader and Qt's painting pool): only what the program itself held the loop for.
//
// TAVRIO_STALL_MS=N turns it on with a limit of N ms in any build; 0 turns it off. Without it a
// debug build (no NDEBUG) watches with 50 ms and a release build does not watch.

#include <QString>

namespace platform {

class StallWatch {
public:
    static constexpr int kDefaultLimitMs = 50;

    // The limit the environment and the build ask for; 0 when the watch is off.
    static int limitFromEnvironment();
    // Starts watching the current QCoreApplication's loop (call on the main thread, once the
    // application exists) when the limit is above 0; a second call changes nothing.
    static void installFromEnvironment();
    static void install(int limitMs);
    // Stops the watch thread (the programs' exit, tests).
    static void uninstall();
    // The local display server's process (0: none known), whose waits for a CPU are the machine's
    // load as the main thread's own are. Callable at any time.
    static void setDisplayServer(int pid);
    // Where the line goes besides the log: tests read it. Called on the watch thread.
    static void setReportHook(void (*hook)(const QString& line));

    // Names a piece of main-thread work in a report where the event alone says little (a queued
    // call lands on the application object). Cheap: two pointers.
    class Scope {
    public:
        explicit Scope(const char* what, const char* detail = nullptr);
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };
};

}  // namespace platform
