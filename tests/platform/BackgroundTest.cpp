#include "platform/Background.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using platform::Background;
using platform::MainThread;

namespace {

class BackgroundTest : public ::testing::Test {
protected:
    template <typename F>
    bool spinUntil(F done) {
        QDeadlineTimer guard(60000);
        while (!done() && !guard.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    void TearDown() override { Background::drain(); }

    int argc_ = 1;
    char name_[16] = "platform_tests";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
};

// Holds every thread of a lane until released: what is queued behind it waits its turn.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void wait() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return open; });
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(m);
            open = true;
        }
        cv.notify_all();
    }
};

}  // namespace

TEST_F(BackgroundTest, WorkRunsOffTheMainThreadAndItsResultArrivesOnIt) {
    QObject context;
    std::atomic<bool> workOnMain{true};
    bool doneOnMain = false;
    int got = 0;
    Background::run(
        &context,
        [&] {
            workOnMain = MainThread::isMainThread();
            return 42;
        },
        [&](int value) {
            doneOnMain = MainThread::isMainThread();
            got = value;
        });
    ASSERT_TRUE(spinUntil([&] { return got != 0; }));
    EXPECT_FALSE(workOnMain);
    EXPECT_TRUE(doneOnMain);
    EXPECT_EQ(got, 42);
}

TEST_F(BackgroundTest, AGoneContextGetsNoResultButTheWorkIsFinished) {
    // A file being written is not cut short because its screen closed; only the answer is dropped.
    auto context = std::make_unique<QObject>();
    Gate gate;
    std::atomic<bool> worked{false};
    bool delivered = false;
    Background::run(
        context.get(),
        [&] {
            gate.wait();
            worked = true;
        },
        [&] { delivered = true; });
    context.reset();
    gate.release();
    Background::drain();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(worked);
    EXPECT_FALSE(delivered);
}

TEST_F(BackgroundTest, TheLowLaneSkipsWorkWhoseContextWentBeforeItsTurn) {
    // Every thread of the lane is held, so the job below is still queued when its list goes.
    Gate gate;
    std::atomic<int> holding{0};
    const int threads = std::max(1, QThread::idealThreadCount());
    for (int i = 0; i < threads; ++i)
        Background::run(
            [&] {
                ++holding;
                gate.wait();
            },
            Background::Lane::Low);
    ASSERT_TRUE(spinUntil([&] { return holding == threads; }));
    auto context = std::make_unique<QObject>();
    std::atomic<bool> worked{false};
    Background::run(
        context.get(), [&] { worked = true; }, [] {}, Background::Lane::Low);
    context.reset();
    gate.release();
    Background::drain();
    EXPECT_FALSE(worked);
}

TEST_F(BackgroundTest, WorkLeavesQtsGlobalPoolToThePainting) {
    // Qt's raster engine splits a large fill across its global pool and the UI thread waits for
    // the pieces: work held on either lane (a camera opening, a serial set-up) must not take
    // a thread of that pool, or the next paint waits for it.
    Gate gate;
    std::atomic<int> holding{0};
    const int jobs = 2 * std::max(2, QThread::idealThreadCount()) + 2;
    Background::Serial serial;
    QObject context;
    serial.run(
        &context,
        [&] {
            ++holding;
            gate.wait();
        },
        [] {});
    for (int i = 0; i < jobs; ++i)
        Background::run(
            [&] {
                ++holding;
                gate.wait();
            },
            i % 2 ? Background::Lane::Low : Background::Lane::Normal);
    ASSERT_TRUE(spinUntil([&] { return holding >= 3; }));
    QThreadPool* qtPool = QThreadPool::globalInstance();
    EXPECT_EQ(qtPool->activeThreadCount(), 0);
    std::atomic<bool> painted{false};
    const bool free = qtPool->tryStart([&] { painted = true; });
    if (free) qtPool->waitForDone();
    gate.release();
    Background::drain();
    EXPECT_TRUE(free && painted) << "a piece of a paint would have waited for background work";
}

TEST_F(BackgroundTest, ASerialLaneRunsItsJobsOneAtATimeInOrder) {
    QObject context;
    Background::Serial lane;
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::vector<int> ran, delivered;
    std::mutex ranMutex;
    for (int i = 0; i < 12; ++i)
        lane.run(
            &context,
            [&, i] {
                most = std::max(most.load(), ++running);
                std::this_thread::yield();
                {
                    std::lock_guard<std::mutex> lock(ranMutex);
                    ran.push_back(i);
                }
                --running;
                return i;
            },
            [&](int i) { delivered.push_back(i); });
    lane.waitUntilIdle();
    ASSERT_TRUE(spinUntil([&] { return delivered.size() == 12; }));
    std::vector<int> inOrder(12);
    for (int i = 0; i < 12; ++i) inOrder[size_t(i)] = i;
    EXPECT_EQ(ran, inOrder);
    EXPECT_EQ(delivered, inOrder);
    EXPECT_EQ(most, 1);
}

TEST_F(BackgroundTest, DrainWaitsForWorkThatQueuedMoreWork) {
    std::atomic<bool> second{false};
    Gate gate;
    // The first job is on the low lane, the one it queues on the other: draining one pool after
    // the other would miss it.
    Background::run(
        [&] {
            Background::run([&] {
                gate.wait();
                second = true;
            });
        },
        Background::Lane::Low);
    std::thread opener([&] {
        std::this_thread::yield();
        gate.release();
    });
    Background::drain();
    opener.join();
    EXPECT_TRUE(second);
}

#ifndef NDEBUG
TEST_F(BackgroundTest, AMainThreadOperationCalledElsewhereAbortsNamingItself) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Store {
        static void write() { TAVRIO_ASSERT_MAIN_THREAD(); }
    };
    Store::write();  // the main thread passes
    EXPECT_DEATH(
        {
            std::thread t(&Store::write);
            t.join();
        },
        "Store::write.*called off the main thread");
}
#endif
