#include "platform/StallWatch.h"

#include "platform/Logging.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QMetaEnum>
#include <QObject>
#include <QThread>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the main thread was delivering: copied on every event, read by the watch when it reports.
struct Delivery {
    const QMetaObject* receiver = nullptr;
    QString name;
    int type = 0;
    const char* scope = nullptr;
    const char* scopeDetail = nullptr;
};

QString describe(const Delivery& d) {
    QString text;
    if (d.receiver) {
        text = QString::fromLatin1(d.receiver->className());
        if (!d.name.isEmpty()) text += QStringLiteral(" \"%1\"").arg(d.name);
        const char* type = QMetaEnum::fromType<QEvent::Type>().valueToKey(d.type);
        text += QLatin1Char(' ') + (type ? QString::fromLatin1(type) : QString::number(d.type));
    } else {
        text = QStringLiteral("the event loop itself");
    }
    if (d.scope) {
        text += QStringLiteral(" (%1").arg(QString::fromLatin1(d.scope));
        if (d.scopeDetail) text += QStringLiteral(": %1").arg(QString::fromLatin1(d.scopeDetail));
        text += QLatin1Char(')');
    }
    return text;
}

class Watch;
std::mutex gInstallMutex;
Watch* gWatch = nullptr;
std::atomic<void (*)(const QString&)> gHook{nullptr};
std::atomic<int> gDisplayServer{0};

// A thread's schedstat: nanoseconds on a CPU and waiting for one so far; false when unreadable.
bool readSchedstat(const char* path, int64_t* onCpu, int64_t* waiting) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[128];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return false;
    buf[n] = 0;
    unsigned long long run = 0, wait = 0;
    if (std::sscanf(buf, "%llu %llu", &run, &wait) != 2) return false;
    *onCpu = static_cast<int64_t>(run);
    *waiting = static_cast<int64_t>(wait);
    return true;
}

class Watch : public QObject {
public:
    Watch(int limitMs) : limitNs_(int64_t(limitMs) * 1000000), tid_(::gettid()) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", static_cast<int>(tid_));
        schedstat_ = path;
        progressNs_ = nowNs();
        QCoreApplication::instance()->installEventFilter(this);
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread())) {
            connect(
                d, &QAbstractEventDispatcher::aboutToBlock, this, [this] { progress(nullptr, nullptr, true); },
                Qt::DirectConnection);
            connect(
                d, &QAbstractEventDispatcher::awake, this, [this] { progress(nullptr, nullptr, false); },
                Qt::DirectConnection);
        }
        thread_ = std::thread([this] { watch(); });
    }

    ~Watch() override {
        {
            std::lock_guard<std::mutex> lock(stopMutex_);
            stop_ = true;
        }
        stopCv_.notify_all();
        thread_.join();
        if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
    }

    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (QThread::currentThread() == thread()) progress(receiver, event, false);
        return false;
    }

    // On the main thread: a piece of work begins (an event, a pass of the loop) or the loop is
    // about to sleep. A gap since the last one that was not sleep is handed to the watch.
    void progress(QObject* receiver, QEvent* event, bool blocking) {
        const int64_t now = nowNs();
        std::lock_guard<std::mutex> lock(mutex_);
        // The watch holds this lock for a moment each tick; preempted there on a busy machine,
        // it keeps the main thread waiting for it. That wait is the watch's, not the program's:
        // the next piece of work begins once the lock is had, and waits for it inside a piece of
        // work (scopes) are taken off.
        const int64_t locked = nowNs();
        if (!idle_ && now - progressNs_ - lockWaitNs_ > limitNs_) {
            gapStart_ = progressNs_;
            gapEnd_ = now;
            gapLockWait_ = lockWaitNs_;
            gapDelivery_ = current_;
            ++gapSeq_;
        }
        progressNs_ = locked;
        lockWaitNs_ = 0;
        idle_ = blocking;
        current_.receiver = receiver ? receiver->metaObject() : nullptr;
        current_.name = receiver ? receiver->objectName() : QString();
        current_.type = event ? int(event->type()) : 0;
        current_.scope = current_.scopeDetail = nullptr;
    }

    void scope(const char* what, const char* detail) {
        const int64_t asked = nowNs();
        std::lock_guard<std::mutex> lock(mutex_);
        lockWaitNs_ += nowNs() - asked;
        current_.scope = what;
        current_.scopeDetail = detail;
    }

private:
    struct Sample {
        int64_t at = 0;
        int64_t onCpu = 0, delay = 0;  // the main thread's
        int64_t serverDelay = 0;       // what the main thread waits for: their time waiting for a CPU
    };

    // The threads the main thread waits for while it paints, besides the display server: Qt's
    // X event reader, which reads the server's replies the main thread waits on, and Qt's global
    // pool, across which the raster engine splits large fills (Background's pools name their
    // threads otherwise). Qt starts pool threads when a paint needs them, so the list is looked
    // at every tick; a thread's name is read once when it appears and again every second (a
    // pool thread of ours is named when its first job runs).
    void findHelpers(int64_t now) {
        const bool reread = now - helpersFoundNs_ >= 1'000'000'000;
        if (reread) helpersFoundNs_ = now;
        std::vector<std::pair<int, bool>> found;
        if (DIR* dir = ::opendir("/proc/self/task")) {
            while (dirent* e = ::readdir(dir)) {
                const int tid = std::atoi(e->d_name);
                if (tid <= 0) continue;
                int known = -1;
                for (const auto& [t, helper] : threads_)
                    if (t == tid) known = helper;
                if (known < 0 || (known == 1 && reread)) known = isHelper(tid);
                found.emplace_back(tid, known == 1);
            }
            ::closedir(dir);
        }
        threads_ = std::move(found);
        helpers_.clear();
        for (const auto& [tid, helper] : threads_)
            if (helper) helpers_.push_back(tid);
    }

    static bool isHelper(int tid) {
        char path[64], name[32] = {};
        std::snprintf(path, sizeof path, "/proc/self/task/%d/comm", tid);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const ssize_t n = ::read(fd, name, sizeof name - 1);
        ::close(fd);
        if (n <= 0) return false;
        return std::strncmp(name, "QXcbEventQueue", 14) == 0 || std::strncmp(name, "Thread (pooled)", 15) == 0;
    }

    // Adds what each waited-for thread waited for a CPU since the last look to one running
    // total: threads come and go, and a new one's past is not this gap's.
    int64_t helpersDelay() {
        std::vector<std::pair<int, int64_t>> seen;
        auto add = [&](int tid, const char* path) {
            int64_t ignored = 0, delay = 0;
            if (!readSchedstat(path, &ignored, &delay)) return;
            // A thread not seen at the last look was born since: all its waiting is new.
            int64_t before = 0;
            for (const auto& [was, delayThen] : helperDelays_)
                if (was == tid) before = delayThen;
            helpersTotal_ += std::max<int64_t>(0, delay - before);
            seen.emplace_back(tid, delay);
        };
        char path[64];
        if (const int server = gDisplayServer.load(); server > 0) {
            std::snprintf(path, sizeof path, "/proc/%d/schedstat", server);
            add(-server, path);
        }
        for (const int tid : helpers_) {
            std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", tid);
            add(tid, path);
        }
        helperDelays_ = std::move(seen);
        return helpersTotal_;
    }

    // Watch thread only.
    Sample sample(int64_t at) {
        Sample s;
        s.at = at;
        if (!readSchedstat(schedstat_.c_str(), &s.onCpu, &s.delay)) s.onCpu = s.delay = 0;
        findHelpers(at);
        s.serverDelay = helpersDelay();
        return s;
    }

    // The latest sample taken before `t`, else the oldest kept: its counts are at most what had
    // passed by `t`, so a gap is never charged less waiting than it had.
    Sample sampleBefore(int64_t t) const {
        const Sample* best = nullptr;
        const Sample* oldest = nullptr;
        for (const Sample& s : samples_) {
            if (s.at == 0) continue;
            if (s.at <= t && (!best || s.at > best->at)) best = &s;
            if (!oldest || s.at < oldest->at) oldest = &s;
        }
        return best ? *best : oldest ? *oldest : Sample{};
    }

    void report(const QString& line) {
        qCWarning(lcStall).noquote() << line;
        if (auto hook = gHook.load()) hook(line);
    }

    void watch() {
        const int64_t tick = std::clamp<int64_t>(limitNs_ / 5, 1000000, 10000000);
        uint64_t seenGap = 0;
        bool hangTold = false;
        std::unique_lock<std::mutex> stopLock(stopMutex_);
        while (!stopCv_.wait_for(stopLock, std::chrono::nanoseconds(tick), [this] { return stop_; })) {
            const int64_t now = nowNs();
            samples_[next_++ % samples_.size()] = sample(now);
            int64_t start = 0, end = 0, lockWait = 0, ongoingSince = 0;
            bool idle = true;
            Delivery gap, ongoing;
            uint64_t gapSeq = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                gapSeq = gapSeq_;
                if (gapSeq != seenGap) start = gapStart_, end = gapEnd_, lockWait = gapLockWait_, gap = gapDelivery_;
                idle = idle_;
                ongoingSince = progressNs_;
                if (!idle && !hangTold && now - ongoingSince > kHangNs) ongoing = current_;
            }
            if (gapSeq != seenGap) {
                seenGap = gapSeq;
                hangTold = false;
                // Read again now that the gap is known to have ended: this thread may have been
                // kept from the CPU itself between the sample above and the look at the gap.
                const Sample after = sample(nowNs());
                const Sample before = sampleBefore(start);
                const int64_t gapNs = end - start;
                const int64_t waited = std::max<int64_t>(0, after.delay - before.delay);
                // While the main thread slept it may have been waiting for the display server
                // (a paint waits until the server has taken the last picture) or Qt's helper
                // threads; their own wait for a CPU then is the machine's load too, up to the
                // time slept.
                const int64_t ran = std::max<int64_t>(0, after.onCpu - before.onCpu);
                const int64_t slept = std::max<int64_t>(0, gapNs - ran - waited - lockWait);
                const int64_t serverWaited =
                    std::min(slept, std::max<int64_t>(0, after.serverDelay - before.serverDelay));
                const int64_t held = gapNs - waited - serverWaited - lockWait;
                if (held > limitNs_) {
                    // Asleep or on a CPU tells a wait (a file, a lock, a process) from work.
                    QString line = QStringLiteral("event loop stalled for %1 ms in %2, %3 ms of it asleep")
                                       .arg(held / 1000000)
                                       .arg(describe(gap))
                                       .arg((slept - serverWaited) / 1000000);
                    if (waited + serverWaited >= 1000000) {
                        line += QStringLiteral(" [%1 ms more waiting for a CPU").arg((waited + serverWaited) / 1000000);
                        if (serverWaited >= 1000000)
                            line += QStringLiteral(", %1 ms of it the display server's and Qt's helpers'")
                                        .arg(serverWaited / 1000000);
                        line += QStringLiteral(", not counted]");
                    }
                    report(line);
                }
            }
            if (!idle && !hangTold && now - ongoingSince > kHangNs) {
                hangTold = true;
                report(QStringLiteral("event loop has not come back for %1 ms, in %2")
                           .arg((now - ongoingSince) / 1000000)
                           .arg(describe(ongoing)));
            }
        }
    }

    static constexpr int64_t kHangNs = 10'000'000'000;

    const int64_t limitNs_;
    const pid_t tid_;
    std::string schedstat_;
    std::thread thread_;
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    bool stop_ = false;

    std::mutex mutex_;  // guards what the main thread writes and the watch reads, below
    int64_t progressNs_ = 0;
    bool idle_ = false;
    Delivery current_;
    uint64_t gapSeq_ = 0;
    int64_t gapStart_ = 0, gapEnd_ = 0, gapLockWait_ = 0;
    int64_t lockWaitNs_ = 0;  // the main thread's waits for this lock within the present piece of work
    Delivery gapDelivery_;

    // Watch thread only: the main thread's run-queue delay, sampled every tick (the last 40 s
    // at 10 ms).
    std::array<Sample, 4096> samples_{};
    int64_t helpersFoundNs_ = 0;
    std::vector<std::pair<int, bool>> threads_;  // every thread seen at the last look, and whether a helper
    std::vector<int> helpers_;
    std::vector<std::pair<int, int64_t>> helperDelays_;  // thread (the server's pid negated), delay
    int64_t helpersTotal_ = 0;
    size_t next_ = 0;
};

}  // namespace

int StallWatch::limitFromEnvironment() {
    bool ok = false;
    const int asked = qEnvironmentVariableIntValue("TAVRIO_STALL_MS", &ok);
    if (ok) return std::max(0, asked);
#ifdef NDEBUG
    return 0;
#else
    return kDefaultLimitMs;
#endif
}

void StallWatch::installFromEnvironment() {
    if (const int limit = limitFromEnvironment(); limit > 0) install(limit);
}

void StallWatch::install(int limitMs) {
    std::lock_guard<std::mutex> lock(gInstallMutex);
    if (gWatch || limitMs <= 0 || !QCoreApplication::instance()) return;
    gWatch = new Watch(limitMs);
    qCInfo(lcStall) << "watching the event loop for stalls over" << limitMs << "ms";
}

void StallWatch::uninstall() {
    std::lock_guard<std::mutex> lock(gInstallMutex);
    delete gWatch;
    gWatch = nullptr;
}

void StallWatch::setDisplayServer(int pid) {
    gDisplayServer = pid > 0 ? pid : 0;
}

void StallWatch::setReportHook(void (*hook)(const QString& line)) {
    gHook = hook;
}

StallWatch::Scope::Scope(const char* what, const char* detail) {
    // Only the main thread installs and removes the watch, and scopes are entered there.
    if (gWatch && QThread::currentThread() == gWatch->thread()) gWatch->scope(what, detail);
}

}  // namespace platform
