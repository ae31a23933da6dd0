#pragma once
// The newest picture for a UI. Producer threads put every picture in; the UI takes the newest
// whenever it draws, and is woken at most once per turn of its event loop, so a slow UI skips
// pictures instead of queueing them. Pictures are shared, never copied. The camera preview and
// the player both hand their pictures over this way.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "media/capture/CaptureTypes.h"  // Dispatch

namespace media {

// Threads: put() runs on producer threads; latest(), generation() and clear() on any thread;
// setNewFrameHandler() and the destructor on the thread that `dispatch` runs calls on. Every
// field is guarded by mutex_, the pending wake-up's ticket by wake_->mutex.
template <typename Picture>
class NewestSlot {
public:
    ~NewestSlot() {
        std::lock_guard lock(wake_->mutex);
        wake_->slotGone = true;
    }

    void put(const Picture& s) {
        std::function<void()> notify;
        {
            std::lock_guard lock(mutex_);
            latest_ = s;
            ++generation_;
            if (handler_) notify = takeWakeUp();
        }
        if (notify) {
            if (dispatch_)
                dispatch_(std::move(notify));
            else
                notify();
        }
    }

    Picture latest() const {
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
    // destroys the slot) when a new picture is in and the previous wake-up has been handled or
    // dropped by the dispatcher.
    void setNewFrameHandler(Dispatch dispatch, std::function<void()> handler) {
        std::lock_guard lock(mutex_);
        dispatch_ = std::move(dispatch);
        handler_ = std::move(handler);
    }

private:
    struct WakeState {
        std::mutex mutex;
        uint64_t pendingTicket = 0;  // 0: none pending
        uint64_t lastTicket = 0;
        bool slotGone = false;
    };
    // Ends its wake-up's turn however the call ends: run, or destroyed unrun by a dispatcher
    // that dropped it (shutting down, full queue). Otherwise one dropped call would leave a
    // wake-up marked pending for good and the preview would never be woken again.
    struct Ticket {
        Ticket(std::shared_ptr<WakeState> s, uint64_t i) : state(std::move(s)), id(i) {}
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        ~Ticket() { release(); }
        std::shared_ptr<WakeState> state;
        uint64_t id;
        void release() const {
            std::lock_guard lock(state->mutex);
            if (state->pendingTicket == id) state->pendingTicket = 0;
        }
    };

    // One pending wake-up at a time: a slow UI skips pictures instead of queueing them. Empty
    // while one is pending. Called with mutex_ held.
    std::function<void()> takeWakeUp() {
        std::lock_guard lock(wake_->mutex);
        if (wake_->pendingTicket) return {};
        wake_->pendingTicket = ++wake_->lastTicket;
        auto ticket = std::make_shared<Ticket>(wake_, wake_->pendingTicket);
        return [ticket, h = handler_] {
            {
                std::lock_guard lock(ticket->state->mutex);
                // The wake-up may run after the slot (and its session) are gone: it then does nothing.
                if (ticket->state->slotGone) return;
            }
            // Pictures arriving while the handler runs get a wake-up of their own.
            ticket->release();
            h();
        };
    }

    mutable std::mutex mutex_;
    Picture latest_{};
    uint64_t generation_ = 0;
    Dispatch dispatch_;
    std::function<void()> handler_;
    std::shared_ptr<WakeState> wake_ = std::make_shared<WakeState>();
};

}  // namespace media
