// What the desktop expects of a program that keeps movies: Show in Files reaches the file
// manager (org.freedesktop.FileManager1) or, without one, opens the folder; a row drags out as
// its file; a save that ends while the window is not in front is told on the desktop, whose
// "Show in Files" works. The file manager and the notification server are small services of
// this test on a private session bus (dbus-run-session), reached over the real bus daemon.

#include "VideoAssetsScreen.h"
#include "VideoDetailsViewController.h"

#include "MediaStore.h"
#include "platform/AlertService.h"
#include "ui/NavigationController.h"
#include "ui/Window.h"

#include "support/GuiApp.h"
#include "support/MovieFrames.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using testsupport::spinUntil;

namespace {

class FileManagerService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
};

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString summary, body;
        QStringList actions;
    };
    std::vector<Notice> notices;
public slots:
    Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                             const QStringList& actions, const QVariantMap&, int) {
        notices.push_back({summary, body, actions});
        return uint(notices.size());
    }
};

// Where the desktop's handler for files was asked to open something.
class UrlOpener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

QString uri(const QString& path) {
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

QAction* action(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions())
        if (a->text() == text) return a;
    return nullptr;
}

}  // namespace

TEST(DesktopHabits, ShowInFilesDragOutAndTheSaveToldOnTheDesktop) {
    // On a session bus of its own, so no desktop sees the test's notices.
    if (!testsupport::onPrivateSessionBus("DesktopHabits.ShowInFilesDragOutAndTheSaveToldOnTheDesktop")) return;
    testsupport::guiApp();
    testsupport::TempHome home;
    testsupport::ScopedEnv videos{"XDG_VIDEOS_DIR", home.str() + "/Videos"};
    std::vector<platform::Alert> alerts;
    platform::AlertService::setPresenter([&](const platform::Alert& a) { alerts.push_back(a); });

    FileManagerService files;
    NotificationService notifications;
    QDBusConnection desktop = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "desktop-services");
    ASSERT_TRUE(desktop.isConnected());
    ASSERT_TRUE(desktop.registerService("org.freedesktop.FileManager1"));
    ASSERT_TRUE(
        desktop.registerObject("/org/freedesktop/FileManager1", &files, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(desktop.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(desktop.registerObject("/org/freedesktop/Notifications", &notifications,
                                       QDBusConnection::ExportScriptableSlots));

    // An exported movie in the library, "Video 1.mov" (a space, as URIs must escape).
    const QString movie = MediaStore::baseDirForVideos() + "/Video 1.mov";
    const auto made = testsupport::makeRecordingIn(home.path() / "Library", "Out.mov", 30);
    ASSERT_TRUE(QFile::rename(QString::fromStdString(made.string()), movie));

    ui::Window window;
    window.resize(320, 480);
    auto* list = new VideoAssetsScreen();
    auto* nav = new ui::NavigationController(list);
    window.setRootViewController(nav);
    window.show();
    ASSERT_TRUE(spinUntil([&] { return !list->library()->isListing() && list->library()->pendingThumbnails() == 0; }));
    ASSERT_EQ(list->library()->count(), 1);

    // The row's menu: Show in Files asks the file manager for that very file.
    std::unique_ptr<QMenu> menu(list->contextMenuForRow(0));
    ASSERT_NE(menu, nullptr);
    for (const char* entry : {"Open With Default Player", "Show in Files", "Save to Videos", "Delete"})
        EXPECT_NE(action(menu.get(), entry), nullptr) << entry;
    action(menu.get(), "Show in Files")->trigger();
    ASSERT_TRUE(spinUntil([&] { return !files.shown.isEmpty(); }, 10000));
    EXPECT_EQ(files.shown.takeFirst(), QStringList{uri(movie)});

    // Dragged out, the row is its file.
    std::unique_ptr<QMimeData> dragged(list->mimeDataForRow(0));
    ASSERT_NE(dragged, nullptr);
    EXPECT_TRUE(dragged->hasFormat("text/uri-list"));
    EXPECT_EQ(dragged->urls(), QList<QUrl>{QUrl::fromLocalFile(movie)});

    // Saved while another window is in front: the details screen says where, the desktop too.
    QWidget inFront;
    inFront.show();
    QApplication::setActiveWindow(&inFront);
    ASSERT_TRUE(spinUntil([&] { return !window.isActiveWindow(); }, 10000));
    action(menu.get(), "Save to Videos")->trigger();
    ASSERT_TRUE(spinUntil([&] { return nav->topViewController() != list && !nav->isAnimating(); }, 10000));
    auto* details = qobject_cast<VideoDetailsViewController*>(nav->topViewController());
    ASSERT_NE(details, nullptr);
    ASSERT_TRUE(spinUntil([&] { return details->savedLabel() != nullptr; }, 30000));
    const QString saved = home.str().c_str() + QStringLiteral("/Videos/Tavrio/Video 1.mov");
    EXPECT_EQ(details->savedLabel()->text(), "Saved to Videos/Tavrio/Video 1.mov");
    ASSERT_TRUE(spinUntil([&] { return !notifications.notices.empty(); }, 10000));
    EXPECT_EQ(notifications.notices[0].summary, "Saved to Videos");
    EXPECT_EQ(notifications.notices[0].actions, (QStringList{"show-in-files", "Show in Files"}));
    QTest::mouseClick(details->showInFilesButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !files.shown.isEmpty(); }, 10000));
    EXPECT_EQ(files.shown.takeFirst(), QStringList{uri(saved)});
    // The notice's own button shows the same file.
    QDBusMessage invoked =
        QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
    invoked << uint(1) << QString("show-in-files");
    ASSERT_TRUE(desktop.send(invoked));
    ASSERT_TRUE(spinUntil([&] { return !files.shown.isEmpty(); }, 10000));
    EXPECT_EQ(files.shown.takeFirst(), QStringList{uri(saved)});

    // No file manager on the bus: the folder goes to the desktop's handler for it.
    ASSERT_TRUE(desktop.unregisterService("org.freedesktop.FileManager1"));
    UrlOpener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    QTest::mouseClick(details->showInFilesButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !opener.opened.isEmpty(); }, 10000));
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(opener.opened, QList<QUrl>{QUrl::fromLocalFile(home.str().c_str() + QStringLiteral("/Videos/Tavrio"))});
    EXPECT_TRUE(files.shown.isEmpty());
    EXPECT_TRUE(alerts.empty());
    platform::AlertService::setPresenter({});
}

#include "DesktopHabitsTest.moc"
