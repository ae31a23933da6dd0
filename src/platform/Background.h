#pragma once
// The one way to run work off the main thread. Work runs on a thread pool; its result is
// handed to a function on the main thread, but only while the context object (a QObject living
// on the main thread: the screen or controller that asked) still exists. The context is the only
// liveness guard: nothing else needs to check whether its asker is gone.
//
//   Background::run(this, [path] { return readTrack(path); },
//                   [this](const Track& t) { show(t); });
//
// Work always runs to its end once queued (a file being written is never cut short because its
// screen closed); only the delivery is dropped. The low lane is the exception: its work is only
// worth its result, so it is skipped when the context is gone before its turn.
//
// Threads that must be dedicated (capture, encoding, playback, a preview's drawing thread, the
// sound sink) are not run here: they hold a thread for as long as they run.

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace platform {

class Background {
public:
    enum class Lane {
        // A pool of its own, never Qt's global one: the UI thread waits for that one's threads
        // whenever it paints a large area.
        Normal,
        // A pool of its own, one thread per core, each niced: work a whole core long (thumbnails)
        // that must not take the UI thread's turn on a machine with few cores.
        Low,
    };

    // Work with no answer.
    static void run(std::function<void()> work, Lane lane = Lane::Normal);

    // work() off the main thread, then done(result) (done() for work returning nothing) on the
    // main thread while `context` exists. `label` names the delivery in stall reports.
    template <class Work, class Done>
    static void run(QObject* context, Work work, Done done, Lane lane = Lane::Normal, const char* label = nullptr) {
        start(wrap(context, std::move(work), std::move(done), label, lane == Lane::Low), lane);
    }

    // Hands fn to the main thread, to run while `context` exists; callable from any thread.
    static void deliver(const QPointer<QObject>& context, std::function<void()> fn, const char* label = nullptr);

    // Work that must run in order, one job at a time (a camera session's set-up, start and stop),
    // on the normal lane. Owned by the context that queues on it.
    class Serial {
    public:
        Serial();
        ~Serial();
        Serial(const Serial&) = delete;
        Serial& operator=(const Serial&) = delete;

        template <class Work, class Done>
        void run(QObject* context, Work work, Done done, const char* label = nullptr) {
            enqueue(wrap(context, std::move(work), std::move(done), label, false));
        }
        // Blocks until every job queued so far has run. Only for tear-down and for callers that
        // are synchronous by contract (the command line); never from a screen's operation.
        void waitUntilIdle();

    private:
        struct State;
        void enqueue(std::function<void()> job);
        std::shared_ptr<State> state_;
    };

    // Waits for all background work, including work queued meanwhile. Called once by each
    // program's main and the test binaries' exit: a library still being loaded by a worker
    // while the process unloads its libraries aborts it.
    static void drain();

    // Tests: called on the worker thread just before each labelled job, with its label. Holding
    // it stands in for a slow disk; the thread it is called on shows where the work went.
    static void setWorkObserver(std::function<void(const char* label)> observer);

private:
    static void observe(const char* label);
    static void start(std::function<void()> job, Lane lane);

    template <class Work, class Done>
    static std::function<void()> wrap(QObject* context, Work work, Done done, const char* label, bool skipWhenGone) {
        QPointer<QObject> guard(context);
        // std::function needs copyable callables; results and the functions are shared instead.
        auto w = std::make_shared<Work>(std::move(work));
        auto d = std::make_shared<Done>(std::move(done));
        return [guard, w, d, label, skipWhenGone] {
            // A null check of a QPointer is an atomic read; the delivery checks again on the
            // main thread, where the object is deleted.
            if (skipWhenGone && !guard) return;
            if (label) observe(label);
            using Result = std::invoke_result_t<Work&>;
            if constexpr (std::is_void_v<Result>) {
                (*w)();
                deliver(
                    guard, [d] { (*d)(); }, label);
            } else {
                auto result = std::make_shared<Result>((*w)());
                deliver(
                    guard, [d, result] { (*d)(std::move(*result)); }, label);
            }
        };
    }
};

}  // namespace platform
