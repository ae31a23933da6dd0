#include "platform/StallWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <optional>
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
    // stopping every thread, the watch's own thread preempted holding the lock the loop takes),
    // which is no fault of the loop; the idle wait counted would be as long as the wait itself.
    for (const QString& line : reported()) {
        EXPECT_FALSE(line.contains(QStringLiteral("\"quick\""))) << line.toStdString();
        EXPECT_LT(line.section(QLatin1Char(' '), 4, 4).toInt(), 250) << line.toStdString();
    }
}

// Programs that do nothing but spin, on the CPUs of the calling thread (inherited), until this is
// destroyed.
struct CpuHogs {
    std::vector<pid_t> pids;
    explicit CpuHogs(int count) {
        char sh[] = "/bin/sh", c[] = "-c", loop[] = "while :; do :; done";
        char* argv[] = {sh, c, loop, nullptr};
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::execv(sh, argv);
                ::_exit(127);
            }
            if (pid > 0) pids.push_back(pid);
        }
    }
    ~CpuHogs() {
        for (pid_t pid : pids) ::kill(pid, SIGKILL);
        for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
    }
};

TEST_F(StallWatchTest, AMainThreadStarvedOfTheCpuIsNotStalledByTheProgram) {
    // Everything on one CPU with six other programs spinning on it: each event below needs 20 ms
    // of the CPU and gets about a seventh of it, so it takes longer than the limit on the wall
    // clock while the program itself held the loop for 20 ms. The spinners are programs, not
    // threads of this one: threads would share this process's locks (a sanitizer's runtime takes
    // some on every atomic access), and one preempted holding a lock the main thread needs keeps
    // the main thread off the run queue, which is a stall by the program, not a starved CPU.
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    StallWatch::install(100);  // its thread shares the CPU too
    std::optional<CpuHogs> hogs(std::in_place, 6);
    ASSERT_EQ(hogs->pids.size(), 6u);
    int64_t longestWallMs = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        deliver("busy", [] {
            const int64_t until = threadCpuNs() + 20'000'000;
            while (threadCpuNs() < until) {}
        });
        longestWallMs = std::max<int64_t>(
            longestWallMs,
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count() -
                100);
    }
    hogs.reset();
    sched_setaffinity(0, sizeof before, &before);

    // Only meaningful if the CPU was really withheld for longer than the limit.
    ASSERT_GT(longestWallMs, 100) << "the main thread was not kept from the CPU";
    const std::vector<QString> got = reported();
    EXPECT_TRUE(got.empty()) << got.front().toStdString();
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
