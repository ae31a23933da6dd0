#pragma once
// Whether the application is active, as the app's classes understand it: the system is not
// going to sleep. Leaving that state posts kWillResignActive once; coming back posts
// kDidBecomeActive once. Minimizing or hiding the window, covering it, a focus change and a
// session lock are none of these: a desktop keeps running what the user does not look at, so a
// recording goes on and an export keeps running.
//
// Sleep comes from logind (PrepareForSleep on the manager, through platform::SleepInhibitor)
// where the system bus exists. While the window is shown and the session is neither locked nor under the screen
// saver (logind Lock/Unlock on this session, the desktop's ActiveChanged), the screen saver is
// inhibited, so the display does not dim while the user films. Without a bus or a service: one
// log line, and the rest works. Every bus call is asynchronous.

#include <QObject>
#include <QPointer>

class QWidget;

namespace ui {

class ApplicationState : public QObject {
    Q_OBJECT
public:
    // Watches `window` (not owned) from now on.
    explicit ApplicationState(QWidget* window, QObject* parent = nullptr);
    ~ApplicationState() override;

    bool isActive() const { return active_; }

    // What the system reported; public so the D-Bus signals and tests drive the same path.
public slots:
    void setSessionLocked(bool locked);
    void setPreparingForSleep(bool sleeping);
    void screenSaverActiveChanged(bool active);
    void sessionLocked() { setSessionLocked(true); }
    void sessionUnlocked() { setSessionLocked(false); }

private slots:
    void followSessionLock(bool logind);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectBuses();
    void update();
    void inhibitScreenSaver(bool inhibit);

    QPointer<QWidget> window_;
    bool active_ = false;
    bool locked_ = false;
    bool sleeping_ = false;
    bool screenSaverOn_ = false;
    bool sessionBus_ = false;
    bool wantInhibit_ = false;
    bool inhibitPending_ = false;  // an Inhibit call awaits its cookie
    quint32 inhibitCookie_ = 0;
};

}  // namespace ui
