#include "platform/SleepInhibitor.h"

#include "platform/Logging.h"

#include <QMutex>
#include <QProcess>
#include <QStandardPaths>

#include <map>
#include <memory>

namespace platform {

namespace {

struct Held {
    std::unique_ptr<QProcess> process;  // null where no inhibitor is available
};

QMutex mutex;
std::map<uint32_t, Held> held;
uint32_t nextId = 1;

}  // namespace

uint32_t SleepInhibitor::begin(const QString& why) {
    Held h;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("systemd-inhibit"));
    if (!tool.isEmpty()) {
        // The lock lives as long as this child: ending it (or our own death) releases it.
        h.process = std::make_unique<QProcess>();
        h.process->setProgram(tool);
        h.process->setArguments({QStringLiteral("--what=sleep:idle"), QStringLiteral("--who=Tavrio"),
                                 QStringLiteral("--why=") + why, QStringLiteral("--mode=block"),
                                 QStringLiteral("sleep"), QStringLiteral("infinity")});
        h.process->setStandardOutputFile(QProcess::nullDevice());
        h.process->setStandardErrorFile(QProcess::nullDevice());
        h.process->start();
        if (!h.process->waitForStarted(2000)) {
            qCInfo(lcPlatform) << "no sleep inhibitor available:" << h.process->errorString();
            h.process.reset();
        }
    }
    QMutexLocker lock(&mutex);
    uint32_t id = nextId++;
    if (nextId == kInvalid) nextId = 1;
    held[id] = std::move(h);
    return id;
}

void SleepInhibitor::end(uint32_t id) {
    Held h;
    {
        QMutexLocker lock(&mutex);
        auto it = held.find(id);
        if (it == held.end()) return;
        h = std::move(it->second);
        held.erase(it);
    }
    if (h.process && h.process->state() != QProcess::NotRunning) {
        h.process->terminate();
        if (!h.process->waitForFinished(1000)) h.process->kill();
        h.process->waitForFinished(1000);
    }
}

bool SleepInhibitor::isHeld(uint32_t id) {
    QMutexLocker lock(&mutex);
    return held.count(id) > 0;
}

int SleepInhibitor::activeCount() {
    QMutexLocker lock(&mutex);
    return int(held.size());
}

}  // namespace platform
