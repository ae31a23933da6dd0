#pragma once
// Lets a recording finish before the system sleeps, and says when the system is about to.
//
// logind on the system bus does both: a "delay" inhibitor lock (a file descriptor logind hands
// out; closing it releases the lock) holds a suspend back for a few seconds, and its
// PrepareForSleep signal says a suspend is coming (true) or the system has resumed (false). So
// whoever records takes a lock with begin(), winds the take down on preparingForSleep(true) and
// calls end() once the movie is finished; the system then sleeps at once.
//
// Nothing here waits on the bus: the connection is made on a worker thread, every call is
// asynchronous, and a lock asked for before logind answered is taken when it does (or dropped
// at once if end() came first). Without a system bus or logind (containers, CI) begin() and
// end() still hand out and take back identifiers, nothing is held, no signal ever comes, and
// one log line says so.
//
// Main thread only.

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>

namespace platform {

class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    static constexpr uint32_t kInvalid = 0;

    // The one inhibitor; made on first use, which starts following logind.
    static SleepInhibitor& instance();

    // A new identifier (never kInvalid); logind is asked for a delay lock, `why` in plain words
    // for whoever lists the locks.
    static uint32_t begin(const QString& why);
    static void end(uint32_t id);  // unknown or ended identifiers are ignored
    // Identifiers for which logind's lock is held right now.
    static int lockedCount();

signals:
    // logind's PrepareForSleep: true before a suspend, false after the resume.
    void preparingForSleep(bool start);
    // The system bus was looked for: `logind` says whether sleep is followed at all.
    void systemBusChecked(bool logind);

public:
    // Whether the bus was looked for yet, and what was found.
    bool isChecked() const { return checked_; }
    bool hasLogind() const { return logind_; }

private slots:
    void prepareForSleep(bool start);

private:
    SleepInhibitor();
    void connected(bool bus, bool logind);
    void requestLock(uint32_t id);

    struct Held {
        QString why;
        int fd = -1;  // logind's lock, -1 while asked for or where none is given
        bool requested = false;
    };
    std::map<uint32_t, Held> held_;
    uint32_t nextId_ = 1;
    bool checked_ = false;
    bool logind_ = false;
};

}  // namespace platform
