#pragma once
// A notice on the desktop (org.freedesktop.Notifications on the session bus), for news the user
// should hear while the window is not in front. Sent without waiting for an answer, so the UI
// thread never waits on the bus; without a bus or a notification service the failure is logged
// and the window's own notice is what the user gets.

#include <QString>

namespace ui {

class DesktopNotification {
public:
    // The desktop file's name: the notification server shows the application's name and icon.
    static constexpr const char* kDesktopEntry = "org.tavrio.Tavrio";

    // With `showPath`, the notice offers "Show in Files" for that file.
    static void send(const QString& summary, const QString& body, const QString& showPath = QString());
};

}  // namespace ui
