#include "platform/MainThread.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

void MainThread::dispatchAsync(Task fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        qCWarning(lcPlatform) << "no application: main-thread task dropped";
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void MainThread::afterDelay(int ms, Task fn) {
    // The timer has to be started on the main thread, whatever thread asks for it.
    dispatchAsync([ms, fn = std::move(fn)]() mutable {
        QTimer::singleShot(std::max(0, ms), QCoreApplication::instance(), std::move(fn));
    });
}

MainThread::Dispatcher MainThread::dispatcher() {
    return [](Task fn) { dispatchAsync(std::move(fn)); };
}

bool MainThread::isMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void MainThread::assertMain(const char* function) {
    QCoreApplication* app = QCoreApplication::instance();
    // Before the application exists (and after it) the process's first thread is the main one.
    if (app ? QThread::currentThread() == app->thread() : ::gettid() == ::getpid()) return;
    std::fprintf(stderr, "%s called off the main thread\n", function);
    std::fflush(stderr);
    std::abort();
}

}  // namespace platform
