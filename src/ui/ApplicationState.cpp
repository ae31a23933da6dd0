#include "ui/ApplicationState.h"

#include "platform/Background.h"
#include "platform/Logging.h"
#include "platform/Notifications.h"
#include "platform/SleepInhibitor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEvent>
#include <QWidget>

#include <unistd.h>

namespace ui {

namespace {
constexpr char kLogin1[] = "org.freedesktop.login1";
constexpr char kLogin1Path[] = "/org/freedesktop/login1";
constexpr char kLogin1Manager[] = "org.freedesktop.login1.Manager";
constexpr char kLogin1Session[] = "org.freedesktop.login1.Session";
constexpr char kScreenSaver[] = "org.freedesktop.ScreenSaver";
constexpr char kScreenSaverPath[] = "/org/freedesktop/ScreenSaver";
}  // namespace

ApplicationState::ApplicationState(QWidget* window, QObject* parent) : QObject(parent), window_(window) {
    if (window_) window_->installEventFilter(this);
    connectBuses();
    update();
}

ApplicationState::~ApplicationState() {
    inhibitScreenSaver(false);
}

void ApplicationState::connectBuses() {
    // Sleep is logind's word, which the sleep inhibitor follows for whoever records.
    auto& sleep = platform::SleepInhibitor::instance();
    connect(&sleep, &platform::SleepInhibitor::preparingForSleep, this, &ApplicationState::setPreparingForSleep);
    if (sleep.isChecked())
        followSessionLock(sleep.hasLogind());
    else
        connect(&sleep, &platform::SleepInhibitor::systemBusChecked, this, &ApplicationState::followSessionLock);

    // The first use of the session bus connects to it and waits for the daemon's welcome: done
    // off the main thread, which uses the bus once it is there.
    platform::Background::run(
        this, [] { return QDBusConnection::sessionBus().isConnected(); },
        [this](bool connected) {
            if (!connected) {
                qCInfo(lcApp) << "no session bus: the screen saver is neither inhibited nor followed";
                return;
            }
            // A screen saver that is missing answers the first Inhibit with an error, which is
            // logged. Its signal is taken from whoever sends it on the user's own bus: naming the
            // service would ask the bus who owns it and wait for the answer.
            sessionBus_ = true;
            QDBusConnection::sessionBus().connect(QString(), QLatin1String(kScreenSaverPath),
                                                  QLatin1String(kScreenSaver), QStringLiteral("ActiveChanged"), this,
                                                  SLOT(screenSaverActiveChanged(bool)));
            inhibitScreenSaver(wantInhibit_);
        },
        platform::Background::Lane::Normal, "session bus connected");
}

void ApplicationState::followSessionLock(bool logind) {
    if (!logind) return;
    QDBusConnection system = QDBusConnection::systemBus();
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kLogin1), QLatin1String(kLogin1Path),
                                       QLatin1String(kLogin1Manager), QStringLiteral("GetSessionByPID"));
    call << static_cast<quint32>(getpid());
    auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> session = *w;
        if (session.isError()) {
            qCInfo(lcApp) << "not in a logind session: session lock is followed through the screen saver only";
            return;
        }
        const QString path = session.value().path();
        QDBusConnection bus = QDBusConnection::systemBus();
        // The unique name of logind's sender, not its well-known one: subscribing by that would
        // ask the bus who owns it and wait for the answer.
        const QString sender = w->reply().service();
        bus.connect(sender, path, QLatin1String(kLogin1Session), QStringLiteral("Lock"), this, SLOT(sessionLocked()));
        bus.connect(sender, path, QLatin1String(kLogin1Session), QStringLiteral("Unlock"), this,
                    SLOT(sessionUnlocked()));
    });
}

bool ApplicationState::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange: update(); break;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ApplicationState::setSessionLocked(bool locked) {
    locked_ = locked;
    update();
}

void ApplicationState::setPreparingForSleep(bool sleeping) {
    sleeping_ = sleeping;
    update();
}

void ApplicationState::screenSaverActiveChanged(bool active) {
    screenSaverOn_ = active;
    update();
}

void ApplicationState::update() {
    // The screen stays awake only for a window the user can see.
    const bool shown = window_ && window_->isVisible() && !(window_->windowState() & Qt::WindowMinimized);
    inhibitScreenSaver(shown && !locked_ && !screenSaverOn_);
    // A desktop keeps running what is minimized, hidden or behind a locked screen; only sleep
    // stops the process, so only sleep is a resign.
    const bool active = !sleeping_;
    if (active == active_) return;
    active_ = active;
    platform::Notifications::center().post(
        QLatin1String(active ? platform::kDidBecomeActive : platform::kWillResignActive));
}

void ApplicationState::inhibitScreenSaver(bool inhibit) {
    wantInhibit_ = inhibit;
    if (!sessionBus_ || inhibitPending_) return;  // a pending answer settles it when it comes
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto call = [](const QString& method) {
        return QDBusMessage::createMethodCall(QLatin1String(kScreenSaver), QLatin1String(kScreenSaverPath),
                                              QLatin1String(kScreenSaver), method);
    };
    if (inhibit && inhibitCookie_ == 0) {
        inhibitPending_ = true;
        auto* watcher = new QDBusPendingCallWatcher(
            bus.asyncCall(call(QStringLiteral("Inhibit"))
                          << QStringLiteral("Tavrio") << QStringLiteral("Filming with the camera")),
            this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            inhibitPending_ = false;
            const QDBusPendingReply<quint32> cookie = *w;
            if (cookie.isError()) {
                qCInfo(lcApp).noquote() << "the screen saver refused to stay off:" << cookie.error().message();
                sessionBus_ = false;  // asked once; a desktop without one does not grow one
                return;
            }
            inhibitCookie_ = cookie.value();
            inhibitScreenSaver(wantInhibit_);
        });
    } else if (!inhibit && inhibitCookie_ != 0) {
        bus.asyncCall(call(QStringLiteral("UnInhibit")) << inhibitCookie_);
        inhibitCookie_ = 0;
    }
}

}  // namespace ui
