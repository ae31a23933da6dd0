#pragma once
// Follows cameras and microphones coming and going: udev events where udev runs, else a look at
// the device list every two seconds. Reports go through the caller's dispatch function.

#include <functional>
#include <memory>

#include "media/capture/CaptureDevice.h"

namespace media {

class DeviceMonitor {
public:
    using Handler = std::function<void(std::shared_ptr<CaptureDevice>)>;
    // Starts watching at once; the devices present now are the baseline (not reported). The
    // baseline is listed on the monitor's own thread, so constructing one never waits on devices.
    DeviceMonitor(Dispatch dispatch, Handler connected, Handler disconnected);
    ~DeviceMonitor();  // stops watching; no report is dispatched after it returns
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    bool usesUdev() const;
    // Looks at the device list now (from any thread), reporting differences.
    void rescan();

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace media
