#include "platform/StallWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using platform::StallWatch;

namespace {

std::mutex linesMutex;
std::vector<QString> lines;

void keep(const QString& line) {
    std::lock_guard<std::mutex> lock(linesMutex);
    lines.push_back(line);
}

std::vector<QString> reported() {
    std::lock_guard<std::mutex> lock(linesMutex);
    return lines;
}

int64_t threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

cpu_set_t theCpuThisRunsOn() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    return one;
}

// Six programs spinning on one CPU until this goes out of scope: whatever else runs there gets
// about a seventh of it. Programs, not threads of this one: threads would share this process's
// locks (a sanitizer's runtime takes some on every atomic access), and one preempted holding a
// lock the main thread needs keeps the main thread off the run queue, which is a stall by the
// program, not a starved CPU.
class Crowd {
public:
    explicit Crowd(const cpu_set_t& cpu) {
        char sh[] = "/bin/sh", c[] = "-c", loop[] = "while :; do :; done";
        char* argv[] = {sh, c, loop, nullptr};
        for (int i = 0; i < 6; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                sched_setaffinity(0, sizeof cpu, &cpu);
                ::execv(sh, argv);
                ::_exit(127);
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~Crowd() {
        for (pid_t pid : pids_) ::kill(pid, SIGKILL);
        for (pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
    }
    size_t size() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

class StallWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(linesMutex);
            lines.clear();
        }
        StallWatch::setReportHook(&keep);
    }
    void TearDown() override {
        StallWatch::uninstall();
        StallWatch::setReportHook(nullptr);
    }
    // Runs `work` as one event delivered to an object named `name`, then lets the loop run on.
    void deliver(const char* name, const std::function<void()>& work) {
        QObject receiver;
        receiver.setObjectName(QString::fromLatin1(name));
        bool ran = false;
        QMetaObject::invokeMethod(
            &receiver,
            [&] {
                work();
                ran = true;
            },
            Qt::QueuedConnection);
        QDeadlineTimer guard(60000);
        while (!ran && !guard.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // The watch reports on its next look after the loop came back.
        QEventLoop idle;
        QTimer::singleShot(100, &idle, &QEventLoop::quit);
        idle.exec();
    }

    // deliver(), returning how long the work took on the wall clock (ms).
    int64_t deliverTimed(const char* name, const std::function<void()>& work) {
        const auto start = std::chrono::steady_clock::now();
        deliver(name, work);
        const auto took = std::chrono::steady_clock::now() - start;
        return std::chrono::duration_cast<std::chrono::milliseconds>(took).count() - 100;  // less the idle wait
    }

    // Runs the loop until the watch has told `count` stalls, for at most a minute: it looks from a
    // thread of its own, which a loaded machine may keep waiting for longer than any fixed pause.
    std::vector<QString> waitForReports(size_t count) {
        QDeadlineTimer guard(60000);
        while (reported().size() < count && !guard.hasExpired()) {
            QEventLoop idle;
            QTimer::singleShot(20, &idle, &QEventLoop::quit);
            idle.exec();
        }
        return reported();
    }

    int argc_ = 1;
    char name_[16] = "platform_tests";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
};

}  // namespace

TEST_F(StallWatchTest, AMainThreadBlockedOnAPipeOrASleepIsReportedWithWhatItWasDoing) {
    StallWatch::install(50);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
    });
    deliver("reader", [&] {
        char c;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
    });
    writer.join();
    ::close(fds[0]);
    ::close(fds[1]);
    // Told before the next one begins: the watch keeps the latest stall it has not looked at yet.
    waitForReports(1);
    deliver("sleeper", [] {
        StallWatch::Scope scope("SleepyJob", "nap");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });

    const std::vector<QString> got = waitForReports(2);
    ASSERT_EQ(got.size(), 2u) << (got.empty() ? "" : got.front().toStdString());
    EXPECT_TRUE(got[0].startsWith(QStringLiteral("event loop stalled for "))) << got[0].toStdString();
    EXPECT_TRUE(got[0].contains(QStringLiteral("\"reader\""))) << got[0].toStdString();
    EXPECT_GE(got[0].section(QLatin1Char(' '), 4, 4).toInt(), 250) << got[0].toStdString();
    const auto asleep = QRegularExpression(QStringLiteral("(\\d+) ms of it asleep")).match(got[0]);
    EXPECT_GE(asleep.captured(1).toInt(), 200) << "a read waits asleep: " << got[0].toStdString();
    EXPECT_TRUE(got[1].contains(QStringLiteral("\"sleeper\""))) << got[1].toStdString();
    EXPECT_TRUE(got[1].contains(QStringLiteral("(SleepyJob: nap)"))) << got[1].toStdString();
}

TEST_F(StallWatchTest, AnIdleLoopAndShortWorkAreNoStall) {
    StallWatch::install(50);
    QEventLoop idle;
    QTimer::singleShot(300, &idle, &QEventLoop::quit);
    idle.exec();
    for (int i = 0; i < 5; ++i) deliver("quick", [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
    // Neither the 300 ms asleep nor the quick work is told. A loaded machine can still hold the
    // whole process for longer than the limit where no CPU wait shows (a sanitizer's runtime
    // stopping every thread), which is no fault of the loop; the idle wait counted would be as
    // long as the wait itself.
    for (const QString& line : reported()) {
        EXPECT_FALSE(line.contains(QStringLiteral("\"quick\""))) << line.toStdString();
        EXPECT_LT(line.section(QLatin1Char(' '), 4, 4).toInt(), 250) << line.toStdString();
    }
}

TEST_F(StallWatchTest, AMainThreadStarvedOfTheCpuIsNotStalledByTheProgram) {
    // Everything on one CPU with six programs spinning beside the main thread: each event below
    // needs 20 ms of the CPU and gets about a seventh of it, so it takes longer than the limit on
    // the wall clock while the program itself held the loop for 20 ms.
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    const cpu_set_t one = theCpuThisRunsOn();
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    StallWatch::install(100);  // its thread shares the CPU too
    int64_t longestWallMs = 0;
    {
        Crowd crowd(one);
        ASSERT_EQ(crowd.size(), 6u);
        for (int i = 0; i < 5; ++i)
            longestWallMs = std::max(longestWallMs, deliverTimed("busy", [] {
                                         const int64_t until = threadCpuNs() + 20'000'000;
                                         while (threadCpuNs() < until) {}
                                     }));
    }
    sched_setaffinity(0, sizeof before, &before);

    // Only meaningful if the CPU was really withheld for longer than the limit.
    ASSERT_GT(longestWallMs, 100) << "the main thread was not kept from the CPU";
    const std::vector<QString> got = reported();
    EXPECT_TRUE(got.empty()) << got.front().toStdString();
}

TEST_F(StallWatchTest, WaitingForAStarvedDisplayServerIsNotAStallButWaitingForAnIdleOneIs) {
    // A child process stands in for the display server: each event below waits until it has
    // spent 20 ms of its CPU, on a CPU shared with six spinning programs, so the wait is several
    // times the limit on the wall clock though the server did 20 ms of work.
    const cpu_set_t one = theCpuThisRunsOn();
    int ask[2], told[2];
    ASSERT_EQ(::pipe(ask), 0);
    ASSERT_EQ(::pipe(told), 0);
    const pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        ::close(ask[1]);
        ::close(told[0]);
        sched_setaffinity(0, sizeof one, &one);
        char c;
        while (::read(ask[0], &c, 1) == 1) {
            const int64_t until = threadCpuNs() + (c == 'w' ? 20'000'000 : 0);
            while (threadCpuNs() < until) {}
            if (c == 's') ::usleep(200'000);  // idle, not starved
            if (::write(told[1], &c, 1) != 1) break;
        }
        ::_exit(0);
    }
    ::close(ask[0]);
    ::close(told[1]);
    auto waitFor = [&](char what) {
        char c = what;
        ASSERT_EQ(::write(ask[1], &c, 1), 1);
        ASSERT_EQ(::read(told[0], &c, 1), 1);
    };
    StallWatch::setDisplayServer(server);
    StallWatch::install(100);
    int64_t longestWallMs = 0;
    {
        Crowd crowd(one);
        for (int i = 0; i < 3; ++i)
            longestWallMs = std::max(longestWallMs, deliverTimed("painting", [&] { waitFor('w'); }));
    }
    const std::vector<QString> starved = reported();
    // A server that merely takes its time (here: sleeps) is waited for by the program itself.
    deliver("sleepy server", [&] { waitFor('s'); });
    const std::vector<QString> all = waitForReports(starved.size() + 1);
    ::close(ask[1]);
    ::waitpid(server, nullptr, 0);
    ::close(told[0]);
    StallWatch::setDisplayServer(0);

    ASSERT_GT(longestWallMs, 100) << "the server was not kept from the CPU";
    EXPECT_TRUE(starved.empty()) << starved.front().toStdString();
    ASSERT_EQ(all.size(), starved.size() + 1);
    EXPECT_TRUE(all.back().contains(QStringLiteral("\"sleepy server\""))) << all.back().toStdString();
}

TEST_F(StallWatchTest, TheEnvironmentChoosesTheLimit) {
    qputenv("TAVRIO_STALL_MS", "120");
    EXPECT_EQ(StallWatch::limitFromEnvironment(), 120);
    qputenv("TAVRIO_STALL_MS", "0");
    EXPECT_EQ(StallWatch::limitFromEnvironment(), 0);
    qunsetenv("TAVRIO_STALL_MS");
#ifdef NDEBUG
    EXPECT_EQ(StallWatch::limitFromEnvironment(), 0);
#else
    EXPECT_EQ(StallWatch::limitFromEnvironment(), StallWatch::kDefaultLimitMs);
#endif
}
