#include "platform/AlertService.h"
#include "platform/MainThread.h"
#include "platform/Notifications.h"
#include "support/QtApp.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using platform::MainThread;
using platform::Notifications;
using testsupport::spinUntil;

namespace {

class MainThreadTest : public ::testing::Test {
protected:
    int argc_ = 1;
    char name_[16] = "platform_tests";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
};

}  // namespace

TEST_F(MainThreadTest, DispatchRunsLaterOnTheMainThreadInOrder) {
    std::vector<int> order;
    MainThread::dispatchAsync([&] { order.push_back(1); });
    order.push_back(0);  // never inline, even from the main thread
    EXPECT_TRUE(MainThread::isMainThread());

    std::atomic<int> onMain{0};
    std::atomic<bool> workerIsMain{true};
    std::thread worker([&] {
        workerIsMain = MainThread::isMainThread();
        auto dispatch = MainThread::dispatcher();
        for (int i = 2; i < 6; ++i) {
            dispatch([&, i] {
                order.push_back(i);
                if (QThread::currentThread() == app_.thread()) ++onMain;
            });
        }
        MainThread::afterDelay(1, [&] { order.push_back(99); });
    });
    worker.join();
    EXPECT_FALSE(workerIsMain);
    ASSERT_TRUE(spinUntil([&] { return order.size() == 7; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 99}));
    EXPECT_EQ(onMain, 4);
}

TEST_F(MainThreadTest, NotificationsReachCurrentObserversOnly) {
    Notifications centre;
    QObject a, b;
    auto c = std::make_unique<QObject>();
    std::vector<std::string> calls;
    centre.addObserver(&a, platform::kWillResignActive, [&](const QString&, const QVariantMap& info) {
        calls.push_back("a" + info.value("n").toString().toStdString());
        centre.removeObserver(&b);  // b must not be called by this same post
    });
    centre.addObserver(&b, platform::kWillResignActive,
                       [&](const QString&, const QVariantMap&) { calls.push_back("b"); });
    centre.addObserver(c.get(), platform::kWillResignActive,
                       [&](const QString&, const QVariantMap&) { calls.push_back("c"); });
    centre.addObserver(&b, platform::kDidBecomeActive,
                       [&](const QString&, const QVariantMap&) { calls.push_back("b-active"); });
    c.reset();  // a destroyed owner is never called

    centre.post(platform::kWillResignActive, {{"n", 1}});
    EXPECT_EQ(calls, (std::vector<std::string>{"a1"}));
    centre.post(platform::kDidBecomeActive);
    EXPECT_EQ(calls.back(), "a1");  // b was removed from every name
    EXPECT_EQ(centre.observerCount(platform::kWillResignActive), 1);

    centre.removeObserver(&a, platform::kWillResignActive);
    centre.addObserver(&b, platform::kOrientationDidChange, [&](const QString& name, const QVariantMap&) {
        calls.push_back(name.toStdString() + (QThread::currentThread() == app_.thread() ? "@main" : "@worker"));
    });
    std::thread worker([&] { centre.post(platform::kOrientationDidChange); });
    worker.join();
    ASSERT_TRUE(spinUntil([&] { return calls.size() == 2; }));
    EXPECT_EQ(calls.back(), std::string(platform::kOrientationDidChange) + "@main");
}

TEST(AlertService, PresenterReceivesAlertsAndTheDefaultDismissesThem) {
    std::vector<platform::Alert> seen;
    platform::AlertService::setPresenter([&](const platform::Alert& a) { seen.push_back(a); });
    platform::AlertService::show("Title", "Message", "Ok");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "Title");
    EXPECT_EQ(seen[0].message, "Message");
    EXPECT_EQ(seen[0].cancelButton, "Ok");

    platform::AlertService::setPresenter({});
    int dismissedWith = -1;
    platform::Alert alert;
    alert.title = "Logged";
    alert.dismissed = [&](int i) { dismissedWith = i; };
    platform::AlertService::show(alert);
    EXPECT_EQ(dismissedWith, 0);
    EXPECT_EQ(seen.size(), 1u);
}
