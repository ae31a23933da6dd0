#pragma once
// One QCoreApplication for a whole test binary, and a way to run its loop until a condition holds.

#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/Background.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <functional>

namespace testsupport {

// A test can end while background work it started (a device listing loading libavdevice, a
// thumbnail) still runs; a library loaded while the process unloads its libraries aborts it.
// The programs wait for that work when they quit, and so does a test binary.
inline void drainBackgroundWorkAtExit() {
    // At the end of the test program, before the process destroys Qt's own statics (an image
    // writer's plugins, made lazily during a test) that a thumbnail still being written uses.
    struct DrainAtEnd : ::testing::EmptyTestEventListener {
        void OnTestProgramEnd(const ::testing::UnitTest&) override { platform::Background::drain(); }
    };
    static const bool registered = [] {
        ::testing::UnitTest::GetInstance()->listeners().Append(new DrainAtEnd);
        return std::atexit([] { platform::Background::drain(); }) == 0;
    }();
    (void)registered;
}

inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char name[] = "tavrio-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    drainBackgroundWorkAtExit();
    return *app;
}

// Spins the event loop until `done` or the limit; true when `done` came true. The limit only
// guards against a hang: tests never depend on how fast anything is.
inline bool spinUntil(const std::function<bool()>& done, int limitMs = 300000) {
    qtApp();
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace testsupport
