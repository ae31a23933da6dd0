#include "media/capture/DeviceMonitor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "media/capture/DeviceBackends.h"

#ifdef TAVRIO_HAVE_UDEV
#include <libudev.h>
#endif

namespace media {

struct DeviceMonitor::Impl : std::enable_shared_from_this<DeviceMonitor::Impl> {
    Dispatch dispatch;
    Handler connected, disconnected;
    ListHandler listed;
    Lister lister;
    std::mutex mutex;
    std::vector<std::shared_ptr<CaptureDevice>> known;
    // Listing the devices loads libraries and asks the sound server, which takes long enough to
    // hold up a window's first picture: the baseline is taken on the monitor's thread, and looks
    // wait for it.
    std::promise<void> baselineTaken;
    std::shared_future<void> baseline = baselineTaken.get_future().share();
    std::atomic<bool> alive{true};
    int wake[2] = {-1, -1};
    int changeListener = 0;
    std::thread thread;
#ifdef TAVRIO_HAVE_UDEV
    udev* u = nullptr;
    udev_monitor* mon = nullptr;
#endif

    bool startUdev() {
#ifdef TAVRIO_HAVE_UDEV
        u = udev_new();
        if (!u) return false;
        mon = udev_monitor_new_from_netlink(u, "udev");
        if (!mon) return false;
        udev_monitor_filter_add_match_subsystem_devtype(mon, "video4linux", nullptr);
        udev_monitor_filter_add_match_subsystem_devtype(mon, "sound", nullptr);
        if (udev_monitor_enable_receiving(mon) < 0) {
            udev_monitor_unref(mon);
            mon = nullptr;
            return false;
        }
        return true;
#else
        return false;
#endif
    }

    DeviceList list() {
        return lister ? lister() : CaptureDevice::devices();
    }

    void takeBaseline() {
        auto now = list();
        {
            std::lock_guard lock(mutex);
            known = now;
        }
        // Posted before a look waiting for the baseline goes on, so its reports follow this one.
        auto self = shared_from_this();
        post([self, now] {
            if (self->alive && self->listed) self->listed(now);
        });
        baselineTaken.set_value();
    }

    void scan() {
        baseline.wait();
        auto now = list();
        std::vector<std::shared_ptr<CaptureDevice>> added, removed;
        {
            std::lock_guard lock(mutex);
            for (auto& d : now)
                if (std::find(known.begin(), known.end(), d) == known.end()) added.push_back(d);
            for (auto& d : known)
                if (std::find(now.begin(), now.end(), d) == now.end()) removed.push_back(d);
            known = now;
        }
        if (added.empty() && removed.empty()) return;
        auto self = shared_from_this();
        post([self, now] {
            if (self->alive && self->listed) self->listed(now);
        });
        for (auto& d : removed)
            post([self, d] {
                if (self->alive && self->disconnected) self->disconnected(d);
            });
        for (auto& d : added)
            post([self, d] {
                if (self->alive && self->connected) self->connected(d);
            });
    }

    void post(std::function<void()> f) {
        if (dispatch)
            dispatch(std::move(f));
        else
            f();
    }

    void loop() {
#ifdef TAVRIO_HAVE_UDEV
        int fd = mon ? udev_monitor_get_fd(mon) : -1;
#else
        int fd = -1;
#endif
        while (alive) {
            pollfd fds[2] = {{wake[0], POLLIN, 0}, {fd, POLLIN, 0}};
            // Without udev, a look every two seconds; a test's own list changes only when it says so.
            int r = ::poll(fds, fd >= 0 ? 2 : 1, fd >= 0 || lister ? -1 : 2000);
            if (!alive) break;
            if (r < 0) continue;
            if (fds[0].revents & POLLIN) {
                char buf[16];
                (void)!::read(wake[0], buf, sizeof buf);
                if (!alive) break;
            }
#ifdef TAVRIO_HAVE_UDEV
            if (fd >= 0 && (fds[1].revents & POLLIN)) {
                // Drain the burst a plug produces (several nodes, sound and video) before one look.
                while (udev_device* d = udev_monitor_receive_device(mon)) udev_device_unref(d);
                // Device nodes get their permissions a moment after the event.
                usleep(200000);
            }
#endif
            if (alive) scan();
        }
    }

    ~Impl() {
#ifdef TAVRIO_HAVE_UDEV
        if (mon) udev_monitor_unref(mon);
        if (u) udev_unref(u);
#endif
        if (wake[0] >= 0) ::close(wake[0]);
        if (wake[1] >= 0) ::close(wake[1]);
    }
};

DeviceMonitor::DeviceMonitor(Dispatch dispatch, Handler connected, Handler disconnected, ListHandler listed,
                             Lister lister)
    : impl_(std::make_shared<Impl>()) {
    impl_->dispatch = std::move(dispatch);
    impl_->connected = std::move(connected);
    impl_->disconnected = std::move(disconnected);
    impl_->listed = std::move(listed);
    impl_->lister = std::move(lister);
    if (::pipe2(impl_->wake, O_CLOEXEC | O_NONBLOCK) != 0) impl_->wake[0] = impl_->wake[1] = -1;
    impl_->startUdev();
    // PipeWire nodes come and go without a udev event (a program sharing its camera, a libcamera
    // camera): the backend wakes the monitor for a look.
    impl_->changeListener = backends::addChangeListener([fd = impl_->wake[1]] {
        if (fd >= 0) (void)!::write(fd, "c", 1);
    });
    impl_->thread = std::thread([impl = impl_.get()] {
        impl->takeBaseline();
        impl->loop();
    });
}

DeviceMonitor::~DeviceMonitor() {
    backends::removeChangeListener(impl_->changeListener);
    impl_->alive = false;
    if (impl_->wake[1] >= 0) (void)!::write(impl_->wake[1], "x", 1);
    if (impl_->thread.joinable()) impl_->thread.join();
}

DeviceMonitor::DeviceList DeviceMonitor::devices() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->known;
}

void DeviceMonitor::rescan() {
    impl_->scan();
}

}  // namespace media
