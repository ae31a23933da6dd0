#include "platform/DeviceOrientation.h"

#include "platform/Notifications.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<int> current{DeviceOrientation::Unknown};
}

int DeviceOrientation::orientation() { return current.load(); }

void DeviceOrientation::setOrientation(int orientation) {
    if (orientation < Unknown || orientation > FaceDown)
        orientation = Unknown;
    if (current.exchange(orientation) != orientation)
        Notifications::center().post(QString::fromLatin1(kOrientationDidChange));
}

}  // namespace platform
