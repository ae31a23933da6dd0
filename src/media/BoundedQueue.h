#pragma once
// A bounded queue between two threads (one pushing, one popping): keeps memory flat whatever
// their relative speeds. Thread-safe; every field is under m_.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace media {

template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : capacity_(capacity) {}
    // Waits while the queue is full. False when the queue was shut down.
    bool push(T item) {
        std::unique_lock<std::mutex> lock(m_);
        notFull_.wait(lock, [&] { return q_.size() < capacity_ || shutdown_; });
        if (shutdown_) return false;
        q_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }
    // Waits while the queue is empty. False at the end (closed and drained) or on shutdown.
    bool pop(T& item) {
        std::unique_lock<std::mutex> lock(m_);
        notEmpty_.wait(lock, [&] { return !q_.empty() || closed_ || shutdown_; });
        if (shutdown_ || q_.empty()) return false;
        item = std::move(q_.front());
        q_.pop_front();
        notFull_.notify_one();
        return true;
    }
    // No more pushes: the popping side drains what is in, then ends.
    void close() {
        std::lock_guard<std::mutex> lock(m_);
        closed_ = true;
        notEmpty_.notify_all();
    }
    // Both sides stop at once; what is queued is dropped with the queue.
    void shutdown() {
        std::lock_guard<std::mutex> lock(m_);
        shutdown_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    size_t capacity_;
    std::mutex m_;
    std::condition_variable notEmpty_, notFull_;
    std::deque<T> q_;
    bool closed_ = false, shutdown_ = false;
};

}  // namespace media
