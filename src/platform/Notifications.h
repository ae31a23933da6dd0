#pragma once
// A small notification centre: observers register a handler for a name, posters post the
// name. Delivery happens on the main thread: synchronously when posted there, queued when
// posted from another thread. Observers register and remove themselves on the main thread.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <vector>

namespace platform {

// Application life-cycle notifications.
inline constexpr char kWillResignActive[] = "ApplicationWillResignActive";
inline constexpr char kDidBecomeActive[] = "ApplicationDidBecomeActive";
inline constexpr char kOrientationDidChange[] = "DeviceOrientationDidChange";

class Notifications {
public:
    using Handler = std::function<void(const QString& name, const QVariantMap& info)>;

    // The process-wide centre.
    static Notifications& center();

    // Registers `handler` for `name`, owned by `owner`. An owner that is destroyed is dropped
    // automatically; it should still remove itself when it stops caring.
    void addObserver(QObject* owner, const QString& name, Handler handler);
    void removeObserver(QObject* owner);                       // every name
    void removeObserver(QObject* owner, const QString& name);  // one name
    int observerCount(const QString& name) const;

    // Calls every observer of `name` registered at delivery time, in registration order.
    void post(const QString& name, const QVariantMap& info = {});

private:
    struct Entry {
        quint64 id;
        QPointer<QObject> owner;
        const QObject* ownerKey;
        Handler handler;
    };
    void deliver(const QString& name, const QVariantMap& info);
    bool stillRegistered(const QString& name, quint64 id) const;

    QHash<QString, std::vector<Entry>> observers_;
    quint64 nextId_ = 1;
};

}  // namespace platform
