#pragma once
// Follows cameras and microphones coming and going: udev events where udev runs, else a look at
// the device list every two seconds. Reports go through the caller's dispatch function.

#include <functional>
#include <memory>
#include <vector>

#include "media/capture/CaptureDevice.h"

namespace media {

class DeviceMonitor {
public:
    using Handler = std::function<void(std::shared_ptr<CaptureDevice>)>;
    using DeviceList = std::vector<std::shared_ptr<CaptureDevice>>;
    using ListHandler = std::function<void(DeviceList)>;
    // How the devices present are found: CaptureDevice::devices() unless a test gives its own.
    using Lister = std::function<DeviceList()>;
    // Starts watching at once; the devices present now are the baseline (not reported as
    // connected). The baseline is listed on the monitor's own thread, so constructing one never
    // waits on devices. `listed` gets the whole list after the baseline and after every change,
    // before the single reports. With a `lister` of its own the monitor looks only when asked
    // (rescan) or when udev reports a change.
    DeviceMonitor(Dispatch dispatch, Handler connected, Handler disconnected, ListHandler listed = {},
                  Lister lister = {});
    ~DeviceMonitor();  // stops watching; no report is dispatched after it returns
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // The devices as last listed (empty until the baseline is taken); from any thread.
    DeviceList devices() const;
    // Looks at the device list now (from any thread), reporting differences.
    void rescan();

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace media
