#include "platform/SleepInhibitor.h"

#include "platform/Background.h"
#include "platform/Logging.h"
#include "platform/MainThread.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr char kLogin1[] = "org.freedesktop.login1";
constexpr char kLogin1Path[] = "/org/freedesktop/login1";
constexpr char kLogin1Manager[] = "org.freedesktop.login1.Manager";
}  // namespace

SleepInhibitor& SleepInhibitor::instance() {
    static SleepInhibitor* inhibitor = new SleepInhibitor();
    return *inhibitor;
}

SleepInhibitor::SleepInhibitor() {
    // Connecting to the bus and subscribing to a named sender's signal both wait for the bus
    // daemon; that is done off the main thread. The inhibitor lives as long as the process, so
    // the worker may name it as the signal's receiver.
    Background::run(
        this,
        [this] {
            QDBusConnection bus = QDBusConnection::systemBus();
            bool logind = false;
            if (bus.isConnected()) {
                const QDBusMessage reply =
                    bus.call(QDBusMessage::createMethodCall(
                                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"))
                             << QLatin1String(kLogin1));
                logind = reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
                if (logind)
                    bus.connect(QLatin1String(kLogin1), QLatin1String(kLogin1Path), QLatin1String(kLogin1Manager),
                                QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
            }
            return std::pair<bool, bool>(bus.isConnected(), logind);
        },
        [this](std::pair<bool, bool> found) { connected(found.first, found.second); }, Background::Lane::Normal,
        "system bus");
}

void SleepInhibitor::connected(bool bus, bool logind) {
    checked_ = true;
    logind_ = logind;
    if (!bus)
        qCInfo(lcPlatform) << "no system bus: sleep is neither delayed for a recording nor followed";
    else if (!logind)
        qCInfo(lcPlatform) << "no logind on the system bus: sleep is neither delayed for a recording nor followed";
    if (logind)
        for (auto& [id, h] : held_) requestLock(id);
    emit systemBusChecked(logind);
}

void SleepInhibitor::prepareForSleep(bool start) {
    qCInfo(lcPlatform) << (start ? "the system prepares to sleep" : "the system has resumed");
    emit preparingForSleep(start);
}

void SleepInhibitor::requestLock(uint32_t id) {
    auto it = held_.find(id);
    if (it == held_.end() || it->second.requested) return;
    it->second.requested = true;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kLogin1), QLatin1String(kLogin1Path),
                                                       QLatin1String(kLogin1Manager), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Tavrio") << it->second.why << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, id](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError()) {
            qCWarning(lcPlatform).noquote() << "logind gave no sleep delay lock:" << reply.error().message();
            return;
        }
        auto it = held_.find(id);
        if (it == held_.end()) return;  // ended meanwhile: the reply's descriptor goes with it
        // Our own copy, so the lock's lifetime is ours and not that of the reply message.
        it->second.fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    });
}

uint32_t SleepInhibitor::begin(const QString& why) {
    TAVRIO_ASSERT_MAIN_THREAD();
    SleepInhibitor& self = instance();
    const uint32_t id = self.nextId_++;
    if (self.nextId_ == kInvalid) self.nextId_ = 1;
    self.held_[id] = Held{why};
    if (self.logind_) self.requestLock(id);
    return id;
}

void SleepInhibitor::end(uint32_t id) {
    TAVRIO_ASSERT_MAIN_THREAD();
    SleepInhibitor& self = instance();
    auto it = self.held_.find(id);
    if (it == self.held_.end()) return;
    if (it->second.fd >= 0) ::close(it->second.fd);
    self.held_.erase(it);
}

int SleepInhibitor::lockedCount() {
    int n = 0;
    for (const auto& [id, h] : instance().held_) n += h.fd >= 0;
    return n;
}

}  // namespace platform
