#pragma once
// The per-user defaults store: integer, boolean and text values by key, kept in an INI file.
// A key that was never written reads 0 / false. Writes are kept in memory until
// synchronize() (or the store's destruction) flushes them.

#include <QString>
#include <memory>

class QSettings;

namespace platform {

class Defaults {
public:
    // A store over the given INI file.
    explicit Defaults(const QString& iniFile);
    ~Defaults();
    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;

    // The app's store, at Paths::settingsFile(). It follows TAVRIO_HOME: each settings file gets
    // its own store, and references stay valid for the process's life. Main thread only.
    static Defaults& standard();

    qint64 integerForKey(const QString& key) const;  // 0 when missing or not a number
    bool boolForKey(const QString& key) const;       // false when missing; non-zero numbers are true
    bool hasKey(const QString& key) const;
    QString stringForKey(const QString& key) const;  // empty when missing
    void setInteger(qint64 value, const QString& key);
    void setBool(bool value, const QString& key);
    void setString(const QString& value, const QString& key);

    // Flushes to disk and re-reads changes made by other processes. False when the file could
    // not be written or read (the values stay in memory either way).
    bool synchronize();

    QString fileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace platform
