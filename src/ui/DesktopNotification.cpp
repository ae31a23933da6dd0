#include "ui/DesktopNotification.h"

#include "platform/Background.h"
#include "platform/Logging.h"
#include "ui/FileManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHash>
#include <QStringList>
#include <QVariantMap>

namespace ui {

namespace {

constexpr const char* kShowAction = "show-in-files";

// Hears which notice's button was pressed; one for the process, made with the first notice
// that has a button.
class NoticeActions : public QObject {
    Q_OBJECT
public:
    static NoticeActions& shared(QDBusConnection bus) {
        static NoticeActions* actions = [&bus] {
            auto* a = new NoticeActions(QCoreApplication::instance());
            // From whoever sends it: naming the service would ask the bus who owns it and wait
            // for the answer. Only the ids of our own notices are acted on.
            bus.connect(QString(), QStringLiteral("/org/freedesktop/Notifications"),
                        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"), a,
                        SLOT(actionInvoked(uint, QString)));
            return a;
        }();
        return *actions;
    }
    using QObject::QObject;
    QHash<uint, QString> paths;  // notice id -> the file its "Show in Files" shows

public slots:
    void actionInvoked(uint id, const QString& action) {
        if (action == QLatin1String(kShowAction) && paths.contains(id)) FileManager::showItem(paths.value(id));
    }
};

void sendOn(QDBusConnection bus, const QString& summary, const QString& body, const QString& showPath) {
    if (!bus.isConnected()) {
        qCInfo(lcApp).noquote() << "no session bus for the desktop notice:" << summary;
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(DesktopNotification::kDesktopEntry)}};
    QStringList actions;
    if (!showPath.isEmpty()) {
        NoticeActions::shared(bus);
        actions << QString::fromLatin1(kShowAction) << QStringLiteral("Show in Files");
    }
    call << QStringLiteral("Tavrio") << quint32(0) << QString::fromLatin1(DesktopNotification::kDesktopEntry) << summary
         << body << actions << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [summary, showPath, bus](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<quint32> reply = *w;
        if (reply.isError())
            qCInfo(lcApp).noquote() << "the desktop did not take the notice" << summary << ":"
                                    << reply.error().message();
        else if (!showPath.isEmpty())
            NoticeActions::shared(bus).paths.insert(reply.value(), showPath);
        w->deleteLater();
    });
}

}  // namespace

void DesktopNotification::send(const QString& summary, const QString& body, const QString& showPath) {
    // The first use of the session bus connects to it: off the main thread.
    platform::Background::run(
        QCoreApplication::instance(), [] { return QDBusConnection::sessionBus(); },
        [summary, body, showPath](const QDBusConnection& bus) { sendOn(bus, summary, body, showPath); },
        platform::Background::Lane::Normal, "desktop notice");
}

}  // namespace ui

#include "DesktopNotification.moc"
