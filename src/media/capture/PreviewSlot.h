#pragma once
// The latest picture for the UI. Capture threads put every picture in; the UI takes the newest
// whenever it draws. Pictures are shared, never copied: the slot holds a reference to the frame
// the session already made (the one conversion to the preset's size).

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "media/capture/CaptureTypes.h"

namespace media {

class PreviewSlot {
public:
    void put(const VideoSample& s) {
        std::function<void()> notify;
        {
            std::lock_guard lock(mutex_);
            latest_ = s;
            ++generation_;
            // One pending wake-up at a time: a slow UI skips pictures instead of queueing them.
            if (handler_ && !pending_) {
                pending_ = true;
                // The wake-up may run after the slot (and its session) are gone: it then does nothing.
                notify = [this, alive = std::weak_ptr<int>(alive_), h = handler_] {
                    if (alive.expired()) return;
                    {
                        std::lock_guard l(mutex_);
                        pending_ = false;
                    }
                    h();
                };
            }
        }
        if (notify) {
            if (dispatch_) dispatch_(std::move(notify));
            else notify();
        }
    }

    VideoSample latest() const {
        std::lock_guard lock(mutex_);
        return latest_;
    }
    uint64_t generation() const {
        std::lock_guard lock(mutex_);
        return generation_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        latest_ = {};
    }

    // `handler` runs (through `dispatch`, which must run calls on one thread, the one that
    // destroys the slot) when a new picture is in and the previous wake-up has been handled.
    void setNewFrameHandler(Dispatch dispatch, std::function<void()> handler) {
        std::lock_guard lock(mutex_);
        dispatch_ = std::move(dispatch);
        handler_ = std::move(handler);
    }

private:
    mutable std::mutex mutex_;
    VideoSample latest_;
    uint64_t generation_ = 0;
    Dispatch dispatch_;
    std::function<void()> handler_;
    bool pending_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace media
