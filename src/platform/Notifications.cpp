#include "platform/Notifications.h"

#include "platform/MainThread.h"

#include <algorithm>

namespace platform {

Notifications& Notifications::center() {
    static Notifications instance;
    return instance;
}

void Notifications::addObserver(QObject* owner, const QString& name, Handler handler) {
    TAVRIO_ASSERT_MAIN_THREAD();
    observers_[name].push_back(Entry{nextId_++, QPointer<QObject>(owner), owner, std::move(handler)});
}

void Notifications::removeObserver(QObject* owner) {
    TAVRIO_ASSERT_MAIN_THREAD();
    for (auto it = observers_.begin(); it != observers_.end(); ++it) {
        auto& list = it.value();
        list.erase(std::remove_if(list.begin(), list.end(), [owner](const Entry& e) { return e.ownerKey == owner; }),
                   list.end());
    }
}

void Notifications::removeObserver(QObject* owner, const QString& name) {
    TAVRIO_ASSERT_MAIN_THREAD();
    auto it = observers_.find(name);
    if (it == observers_.end()) return;
    auto& list = it.value();
    list.erase(std::remove_if(list.begin(), list.end(), [owner](const Entry& e) { return e.ownerKey == owner; }),
               list.end());
}

int Notifications::observerCount(const QString& name) const {
    auto it = observers_.constFind(name);
    if (it == observers_.cend()) return 0;
    return int(std::count_if(it->begin(), it->end(), [](const Entry& e) { return !e.owner.isNull(); }));
}

void Notifications::post(const QString& name, const QVariantMap& info) {
    if (MainThread::isMainThread()) {
        deliver(name, info);
        return;
    }
    MainThread::dispatchAsync([this, name, info] { deliver(name, info); });
}

bool Notifications::stillRegistered(const QString& name, quint64 id) const {
    auto it = observers_.constFind(name);
    if (it == observers_.cend()) return false;
    return std::any_of(it->begin(), it->end(), [id](const Entry& e) { return e.id == id && !e.owner.isNull(); });
}

void Notifications::deliver(const QString& name, const QVariantMap& info) {
    auto it = observers_.find(name);
    if (it == observers_.end()) return;
    // Owners that are gone are dropped here rather than through their destroyed() signal, so
    // registering needs no connection per observer.
    auto& list = it.value();
    list.erase(std::remove_if(list.begin(), list.end(), [](const Entry& e) { return e.owner.isNull(); }), list.end());
    // A handler may add or remove observers (itself included); walk a snapshot and skip
    // anyone removed by an earlier handler of this same post.
    std::vector<std::pair<quint64, Handler>> snapshot;
    snapshot.reserve(list.size());
    for (const Entry& e : list) snapshot.emplace_back(e.id, e.handler);
    for (const auto& [id, handler] : snapshot) {
        if (stillRegistered(name, id)) handler(name, info);
    }
}

}  // namespace platform
