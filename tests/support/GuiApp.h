#pragma once
// One QApplication (widgets, offscreen unless a platform is chosen) for a whole test binary.

#include <QApplication>

#include "support/QtApp.h"

namespace testsupport {

inline QApplication& guiApp() {
    static int argc = 1;
    static char name[] = "tavrio-gui-tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    drainBackgroundWorkAtExit();
    return *app;
}

// A first base for fixtures whose members are widgets: the application exists before them.
struct GuiAppFirst {
    GuiAppFirst() { guiApp(); }
};

}  // namespace testsupport
