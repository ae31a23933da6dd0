#pragma once
// Keeps the system from suspending while something must finish (a recording being written).
// Uses logind's inhibitor lock through systemd-inhibit where the system has it; elsewhere
// nothing is held and begin() still hands out an identifier, so callers need no special case.

#include <QString>

#include <cstdint>

namespace platform {

class SleepInhibitor {
public:
    static constexpr uint32_t kInvalid = 0;
    // A new identifier (never kInvalid); the lock is taken when the system offers one.
    static uint32_t begin(const QString& why);
    static void end(uint32_t id);  // unknown or ended identifiers are ignored
    static bool isHeld(uint32_t id);
    static int activeCount();
};

}  // namespace platform
