#include "ui/ApplicationState.h"

#include "platform/Logging.h"
#include "platform/Notifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
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
    QDBusConnection system = QDBusConnection::systemBus();
    if (!system.isConnected()) {
        qCInfo(lcApp) << "no system bus: sleep and session lock are not followed";
    } else if (!system.interface() || !system.interface()->isServiceRegistered(QLatin1String(kLogin1))) {
        qCInfo(lcApp) << "no logind on the system bus: sleep and session lock are not followed";
    } else {
        system.connect(QLatin1String(kLogin1), QLatin1String(kLogin1Path), QLatin1String(kLogin1Manager),
                       QStringLiteral("PrepareForSleep"), this, SLOT(setPreparingForSleep(bool)));
        QDBusInterface manager(QLatin1String(kLogin1), QLatin1String(kLogin1Path), QLatin1String(kLogin1Manager),
                               system);
        const QDBusReply<QDBusObjectPath> session =
            manager.call(QStringLiteral("GetSessionByPID"), static_cast<quint32>(getpid()));
        if (session.isValid()) {
            const QString path = session.value().path();
            system.connect(QLatin1String(kLogin1), path, QLatin1String(kLogin1Session), QStringLiteral("Lock"), this,
                           SLOT(sessionLocked()));
            system.connect(QLatin1String(kLogin1), path, QLatin1String(kLogin1Session), QStringLiteral("Unlock"), this,
                           SLOT(sessionUnlocked()));
        } else {
            qCInfo(lcApp) << "not in a logind session: session lock is followed through the screen saver only";
        }
    }

    QDBusConnection session = QDBusConnection::sessionBus();
    sessionBus_ = session.isConnected();
    if (!sessionBus_) {
        qCInfo(lcApp) << "no session bus: the screen saver is neither inhibited nor followed";
        return;
    }
    if (!session.interface() || !session.interface()->isServiceRegistered(QLatin1String(kScreenSaver))) {
        qCInfo(lcApp) << "no screen saver service on the session bus: the screen is not kept awake";
        sessionBus_ = false;
        return;
    }
    session.connect(QLatin1String(kScreenSaver), QLatin1String(kScreenSaverPath), QLatin1String(kScreenSaver),
                    QStringLiteral("ActiveChanged"), this, SLOT(screenSaverActiveChanged(bool)));
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
    if (!sessionBus_) return;
    QDBusInterface saver{QLatin1String(kScreenSaver), QLatin1String(kScreenSaverPath), QLatin1String(kScreenSaver),
                         QDBusConnection::sessionBus()};
    if (inhibit && inhibitCookie_ == 0) {
        const QDBusReply<quint32> cookie =
            saver.call(QStringLiteral("Inhibit"), QStringLiteral("Tavrio"), QStringLiteral("Filming with the camera"));
        if (cookie.isValid())
            inhibitCookie_ = cookie.value();
        else
            qCInfo(lcApp).noquote() << "the screen saver refused to stay off:" << cookie.error().message();
    } else if (!inhibit && inhibitCookie_ != 0) {
        saver.call(QStringLiteral("UnInhibit"), inhibitCookie_);
        inhibitCookie_ = 0;
    }
}

}  // namespace ui
