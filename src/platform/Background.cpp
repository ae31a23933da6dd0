#include "platform/Background.h"

#include "platform/MainThread.h"
#include "platform/StallWatch.h"

#include <QThread>
#include <QThreadPool>

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace platform {

namespace {

// Made on first use and never destroyed: work may still be queued when statics are torn down,
// and drain() has waited for it by then.
QThreadPool* newPool(int minThreads) {
    auto* pool = new QThreadPool();
    pool->setMaxThreadCount(std::max(minThreads, QThread::idealThreadCount()));
    return pool;
}

// Not Qt's global pool: Qt 6's raster engine splits every large fill and image draw across that
// pool and the UI thread waits for the pieces, so a camera being opened or a movie being read
// there held the next paint until it ended.
QThreadPool& normalPool() {
    static QThreadPool* pool = newPool(2);
    return *pool;
}

QThreadPool& lowPool() {
    static QThreadPool* pool = newPool(1);
    return *pool;
}

// Named apart from Qt's own pool threads, which the stall check looks for by their name.
void nameThread(const char* name) {
    static thread_local const bool named = ::pthread_setname_np(::pthread_self(), name) == 0;
    (void)named;
}

std::mutex observerLock;
std::shared_ptr<const std::function<void(const char*)>>& workObserver() {
    static std::shared_ptr<const std::function<void(const char*)>> observer;
    return observer;
}

}  // namespace

void Background::setWorkObserver(std::function<void(const char* label)> observer) {
    std::lock_guard<std::mutex> lock(observerLock);
    workObserver() = observer ? std::make_shared<const std::function<void(const char*)>>(std::move(observer)) : nullptr;
}

void Background::observe(const char* label) {
    std::shared_ptr<const std::function<void(const char*)>> observer;
    {
        std::lock_guard<std::mutex> lock(observerLock);
        observer = workObserver();
    }
    // Called without the lock: an observer that holds its job must not hold the others too.
    if (observer) (*observer)(label);
}

void Background::start(std::function<void()> job, Lane lane) {
    if (lane == Lane::Low) {
        lowPool().start([job = std::move(job)] {
            // On a machine with few cores the UI thread must still get its turn at once while
            // every core does this work.
            static thread_local const bool niced = ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10) == 0;
            (void)niced;
            nameThread("tavrio-low");
            job();
        });
        return;
    }
    normalPool().start([job = std::move(job)] {
        nameThread("tavrio-work");
        job();
    });
}

void Background::run(std::function<void()> work, Lane lane) {
    start(std::move(work), lane);
}

void Background::deliver(const QPointer<QObject>& context, std::function<void()> fn, const char* label) {
    MainThread::dispatchAsync([context, fn = std::move(fn), label] {
        if (!context) return;
        StallWatch::Scope scope(context->metaObject()->className(), label);
        fn();
    });
}

void Background::drain() {
    // Work may queue more work (a job whose delivery starts another): wait until both lanes
    // are idle together.
    for (;;) {
        normalPool().waitForDone();
        lowPool().waitForDone();
        if (normalPool().activeThreadCount() == 0 && lowPool().activeThreadCount() == 0) return;
    }
}

// ---- Serial

struct Background::Serial::State {
    std::mutex mutex;
    std::condition_variable idle;
    std::deque<std::function<void()>> queue;
    bool running = false;
};

Background::Serial::Serial() : state_(std::make_shared<State>()) {}

Background::Serial::~Serial() = default;

void Background::Serial::enqueue(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->queue.push_back(std::move(job));
    if (state_->running) return;
    state_->running = true;
    // One pool task runs the queue dry; the state outlives the owner while it does.
    start(
        [state = state_] {
            for (;;) {
                std::function<void()> next;
                {
                    std::lock_guard<std::mutex> lock(state->mutex);
                    if (state->queue.empty()) {
                        state->running = false;
                        state->idle.notify_all();
                        return;
                    }
                    next = std::move(state->queue.front());
                    state->queue.pop_front();
                }
                next();
            }
        },
        Lane::Normal);
}

void Background::Serial::waitUntilIdle() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->idle.wait(lock, [this] { return !state_->running && state_->queue.empty(); });
}

}  // namespace platform
