#include "CameraPortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QPointer>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

#include "media/capture/PipeWire.h"

namespace {

const char kService[] = "org.freedesktop.portal.Desktop";
const char kPath[] = "/org/freedesktop/portal/desktop";
const char kCamera[] = "org.freedesktop.portal.Camera";

QDBusMessage cameraCall(const QString& method, const QVariantList& args) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kCamera), method);
    m.setArguments(args);
    return m;
}

// Runs `then` with the reply on the main thread when it comes.
void whenAnswered(QObject* context, const QDBusMessage& call, std::function<void(const QDBusMessage&)> then) {
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, then = std::move(then)](QDBusPendingCallWatcher*) {
                         watcher->deleteLater();
                         then(watcher->reply());
                     });
}

// Receives the Request object's Response, then lets go.
class ResponseListener : public QObject {
    Q_OBJECT
public:
    ResponseListener(QObject* parent, std::function<void(uint, QVariantMap)> done)
        : QObject(parent), done_(std::move(done)) {}
public slots:
    void response(uint code, const QVariantMap& results) {
        auto done = std::move(done_);
        deleteLater();
        if (done) done(code, results);
    }

private:
    std::function<void(uint, QVariantMap)> done_;
};

void openRemote(QObject* context, const CameraPortal::Done& done) {
    whenAnswered(
        context, cameraCall(QStringLiteral("OpenPipeWireRemote"), {QVariantMap()}), [done](const QDBusMessage& reply) {
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                done({CameraPortal::Outcome::Failed, reply.errorMessage()});
                return;
            }
            const auto fd = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
            // The descriptor closes with its Qt wrapper: the engine gets its own.
            const int own = fd.isValid() ? ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
            if (own < 0) {
                done({CameraPortal::Outcome::Failed, QStringLiteral("The portal gave no PipeWire connection.")});
                return;
            }
            media::setPipeWireRemote(own);
            done({CameraPortal::Outcome::Granted, {}});
        });
}

}  // namespace

void CameraPortal::request(QObject* context, Done done) {
    // Without a session bus address Qt would try to launch a bus, which blocks: no bus, no portal.
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (address.isEmpty() && (runtime.isEmpty() || ::access((runtime + "/bus").constData(), F_OK) != 0)) {
        done({Outcome::NoPortal, {}});
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        done({Outcome::NoPortal, {}});
        return;
    }
    // Whether the portal has the Camera interface: asking for its version answers both.
    QDBusMessage version =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    version.setArguments({QLatin1String(kCamera), QStringLiteral("version")});
    QPointer<QObject> guard(context);
    whenAnswered(context, version, [guard, done](const QDBusMessage& reply) {
        if (!guard) return;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            done({Outcome::NoPortal, {}});
            return;
        }
        // The Request object's path is known before the call, so its Response cannot be missed.
        static int counter = 0;
        const QString token = QStringLiteral("tavrio%1_%2").arg(::getpid()).arg(++counter);
        QString sender = QDBusConnection::sessionBus().baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        auto* listener = new ResponseListener(guard, [guard, done](uint code, const QVariantMap&) {
            if (!guard) return;
            if (code == 0)
                openRemote(guard, done);
            else
                done({Outcome::Refused, code == 1 ? QStringLiteral("The camera permission was refused.")
                                                  : QStringLiteral("The portal did not grant the camera.")});
        });
        QDBusConnection::sessionBus().connect(QLatin1String(kService), requestPath,
                                              QStringLiteral("org.freedesktop.portal.Request"),
                                              QStringLiteral("Response"), listener, SLOT(response(uint, QVariantMap)));
        QVariantMap options{{QStringLiteral("handle_token"), token}};
        whenAnswered(guard, cameraCall(QStringLiteral("AccessCamera"), {options}),
                     [guard, done, listener](const QDBusMessage& reply) {
                         if (reply.type() == QDBusMessage::ReplyMessage) return;  // the Response follows
                         listener->deleteLater();
                         if (guard) done({Outcome::Failed, reply.errorMessage()});
                     });
    });
}

QString CameraPortal::refusalTitle() {
    return QStringLiteral("Camera Permission Refused");
}

QString CameraPortal::refusalMessage() {
    return QStringLiteral(
        "Tavrio was not allowed to use the camera. Allow it in your desktop's privacy settings (Settings, Privacy, "
        "Camera), or with: flatpak permission-set devices camera <Tavrio's app id> yes");
}

#include "CameraPortal.moc"
