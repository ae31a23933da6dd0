#pragma once
// Watches the background jobs of some labels (platform::Background's delivery labels): how many
// reached their work, whether any ran on the main thread, and while held, keeps them waiting as
// a slow or hung disk would. One watch at a time; it stops watching, and lets go, when it goes.

#include "platform/Background.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class WorkWatch {
public:
    explicit WorkWatch(std::vector<std::string> labels, bool held = false) : labels_(std::move(labels)), held_(held) {
        platform::Background::setWorkObserver([this](const char* label) { observe(label); });
    }
    ~WorkWatch() {
        release();
        platform::Background::setWorkObserver({});
    }
    WorkWatch(const WorkWatch&) = delete;
    WorkWatch& operator=(const WorkWatch&) = delete;

    void release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            held_ = false;
        }
        cv_.notify_all();
    }
    int started() const { return started_; }
    int onMainThread() const { return onMainThread_; }

private:
    void observe(const char* label) {
        if (std::find(labels_.begin(), labels_.end(), label) == labels_.end()) return;
        ++started_;
        // Work that came back to the main thread is counted, not held: holding it there would
        // hang the test instead of failing it.
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++onMainThread_;
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return !held_; });
    }

    const std::vector<std::string> labels_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool held_;
    std::atomic<int> started_{0};
    std::atomic<int> onMainThread_{0};
};

}  // namespace testsupport
