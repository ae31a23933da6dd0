// An export that ends while nobody looks at it is told: in the window, and on the desktop when
// the window is not active. The desktop's notification server is a small service of this test
// on a private session bus (dbus-run-session), reached over the real bus daemon.

#include "ExportNotices.h"
#include "RunningExports.h"
#include "VideoAssetsScreen.h"
#include "VideoDetailsViewController.h"

#include "MediaStore.h"
#include "platform/AlertService.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include "support/GuiApp.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QVariantMap>

#include <gtest/gtest.h>

using testsupport::spinUntil;

namespace {

// What the desktop's notification server is asked to show.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString app, icon, summary, body;
        QVariantMap hints;
    };
    std::vector<Notice> notices;

public slots:
    Q_SCRIPTABLE uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                             const QStringList&, const QVariantMap& hints, int) {
        notices.push_back({app, icon, summary, body, hints});
        return uint(notices.size());
    }
};

const char* kTrack = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array>
<dict><key>zoom</key><real>1</real><key>atTime</key><real>0</real><key>orient</key><integer>3</integer></dict>
<dict><key>zoom</key><real>2</real><key>atTime</key><real>0.5</real></dict>
</array></plist>)";

}  // namespace

TEST(ExportNotices, AnExportEndingUnwatchedIsToldInTheWindowAndOnTheDesktop) {
    // On a session bus of its own, so no desktop sees the test's notices.
    if (!testsupport::onPrivateSessionBus("ExportNotices.AnExportEndingUnwatchedIsToldInTheWindowAndOnTheDesktop"))
        return;
    testsupport::guiApp();
    testsupport::TempHome home;
    std::vector<platform::Alert> alerts;
    platform::AlertService::setPresenter([&](const platform::Alert& a) { alerts.push_back(a); });

    NotificationServer server;
    QDBusConnection desktop = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notification-server");
    ASSERT_TRUE(desktop.isConnected());
    ASSERT_TRUE(desktop.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(
        desktop.registerObject("/org/freedesktop/Notifications", &server, QDBusConnection::ExportScriptableSlots));

    // The window is there but not the active one (another window in front, or minimized).
    ui::Window window;
    window.resize(320, 480);
    auto* list = new VideoAssetsScreen();
    auto* nav = new ui::NavigationController(list);
    window.setRootViewController(nav);
    window.show();
    QWidget inFront;  // another window the user works in
    inFront.show();
    QApplication::setActiveWindow(&inFront);
    ASSERT_TRUE(spinUntil([&] { return inFront.isActiveWindow() && !window.isActiveWindow(); }, 10000));
    ExportNotices notices(&window);
    const QString recording =
        QString::fromStdString(testsupport::makeRecordingIn(home.path() / "Library", "Out.mov", 30, kTrack).string());

    ASSERT_TRUE(RunningExports::shared().start(recording));
    ASSERT_TRUE(spinUntil([&] { return !server.notices.empty(); }, 60000)) << alerts.size() << " alerts";
    ASSERT_EQ(server.notices.size(), 1u);
    const NotificationServer::Notice& n = server.notices.front();
    EXPECT_EQ(n.app, "Tavrio");
    EXPECT_EQ(n.icon, "org.tavrio.Tavrio");
    EXPECT_EQ(n.hints.value("desktop-entry").toString(), "org.tavrio.Tavrio");
    EXPECT_EQ(n.summary, "Export Successful!");
    EXPECT_EQ(n.body, "Out.mov is exported as Video.mov.");
    // No details screen showed it: the window says it too.
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, n.summary);
    EXPECT_EQ(alerts[0].message, n.body);
    EXPECT_FALSE(QFileInfo::exists(recording));
    EXPECT_TRUE(QFileInfo::exists(MediaStore::baseDirForVideos() + "/Video.mov"));

    // Followed on its details screen in the active window: the screen says it, nothing else does.
    const QString second =
        QString::fromStdString(testsupport::makeRecordingIn(home.path() / "Library", "Out-1.mov", 30, kTrack).string());
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(spinUntil([&] { return window.isActiveWindow(); }, 10000));
    list->library()->refreshData();
    auto* details = new VideoDetailsViewController(second, QString());
    details->setDelegate(list->library());
    ASSERT_TRUE(nav->pushViewController(details, false));
    details->exportVideo();
    ASSERT_TRUE(spinUntil([&] { return !details->isExporting(); }, 60000));
    EXPECT_EQ(alerts.size(), 1u);
    platform::AlertService::setPresenter({});
}

TEST(ExportNotices, WhatAnExportReportsAboutItsMovieIsToldInTheWindow) {
    testsupport::guiApp();
    testsupport::TempHome home;
    std::vector<platform::Alert> alerts;
    platform::AlertService::setPresenter([&](const platform::Alert& a) { alerts.push_back(a); });
    QWidget window;
    ExportNotices notices(&window);
    emit RunningExports::shared().problem(QStringLiteral("/x/Out.mov"), QStringLiteral("The Video File is Corrupted"));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, QStringLiteral("The Video File is Corrupted"));
    platform::AlertService::setPresenter({});
}

#include "ExportNoticesTest.moc"
