#include "ui/FileManager.h"

#include "platform/AlertService.h"
#include "platform/Background.h"
#include "platform/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace ui {

namespace {

void openFolderOf(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) return;
    platform::AlertService::show(QStringLiteral("Cannot Show in Files"),
                                 QStringLiteral("No file manager could be started to show %1.").arg(folder),
                                 QStringLiteral("OK"));
}

void showItemOn(QDBusConnection bus, const QString& path) {
    if (!bus.isConnected()) {
        openFolderOf(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [path](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<> reply = *w;
        w->deleteLater();
        if (!reply.isError()) return;
        qCInfo(lcApp).noquote() << "no file manager on the bus:" << reply.error().message();
        openFolderOf(path);
    });
}

}  // namespace

void FileManager::showItem(const QString& path) {
    // The first use of the session bus connects to it: off the main thread.
    platform::Background::run(
        QCoreApplication::instance(), [] { return QDBusConnection::sessionBus(); },
        [path](const QDBusConnection& bus) { showItemOn(bus, path); }, platform::Background::Lane::Normal,
        "show in files");
}

void FileManager::openWithDefaultApplication(const QString& path) {
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
    platform::AlertService::show(
        QStringLiteral("Cannot Open"),
        QStringLiteral("No program could be started to open %1.").arg(QFileInfo(path).fileName()),
        QStringLiteral("OK"));
}

}  // namespace ui
