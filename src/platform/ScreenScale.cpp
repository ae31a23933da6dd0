#include "platform/ScreenScale.h"

#include <atomic>
#include <cmath>

namespace platform {

namespace {
std::atomic<double> current{1.0};
}

double ScreenScale::scale() {
    return current.load(std::memory_order_relaxed);
}

void ScreenScale::setScale(double scale) {
    current.store(std::isfinite(scale) && scale > 0 ? scale : 1.0, std::memory_order_relaxed);
}

}  // namespace platform
