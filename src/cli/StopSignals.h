#pragma once
// Ctrl-C (SIGINT) and SIGTERM ask a long-running command to wind up on its own terms (stop the
// recording, cancel the export and remove its partial file) instead of killing the process
// halfway through writing a movie.

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace cli {

class StopSignals {
public:
    // Catches both signals while the object lives; `onStop` runs on the thread that runs the
    // event loop, once per signal received. One instance at a time.
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();  // the default handling comes back
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first signal received; 0 while none came.
    int received() const { return received_; }
    // The status a shell gives a process ended by that signal: 130 for SIGINT, 143 for SIGTERM.
    int exitStatus() const;

private:
    std::function<void()> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};

}  // namespace cli
