#include "ui/DesktopNotification.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace ui {

bool DesktopNotification::send(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcApp).noquote() << "no session bus for the desktop notice:" << summary;
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry)}};
    call << QStringLiteral("Tavrio") << quint32(0) << QString::fromLatin1(kDesktopEntry) << summary << body
         << QStringList() << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [summary](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<quint32> reply = *w;
        if (reply.isError())
            qCInfo(lcApp).noquote() << "the desktop did not take the notice" << summary << ":"
                                    << reply.error().message();
        w->deleteLater();
    });
    return true;
}

}  // namespace ui
