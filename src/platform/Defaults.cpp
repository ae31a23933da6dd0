#include "platform/Defaults.h"
#include "platform/MainThread.h"

#include "platform/Logging.h"
#include "platform/Paths.h"

#include <QSettings>

#include <map>

namespace platform {

Defaults::Defaults(const QString& iniFile) : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

Defaults::~Defaults() = default;

Defaults& Defaults::standard() {
    // One store per settings file, kept for the life of the process: a caller may still hold a
    // reference to the store of an earlier TAVRIO_HOME, and it must stay valid.
    static std::map<QString, std::unique_ptr<Defaults>> stores;
    const QString file = Paths::settingsFile();
    auto it = stores.find(file);
    if (it == stores.end()) it = stores.emplace(file, std::make_unique<Defaults>(file)).first;
    return *it->second;
}

qint64 Defaults::integerForKey(const QString& key) const {
    const QVariant v = settings_->value(key);
    if (!v.isValid()) return 0;
    // The INI file keeps every value as text; booleans come back as "true" / "false".
    const QString text = v.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return 1;
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (ok) return n;
    const double d = text.toDouble(&ok);
    if (ok && d > -9.2e18 && d < 9.2e18) return static_cast<qint64>(d);
    return 0;
}

bool Defaults::boolForKey(const QString& key) const {
    const QVariant v = settings_->value(key);
    if (!v.isValid()) return false;
    const QString text = v.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
        text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double d = text.toDouble(&ok);
    return ok && d != 0.0;
}

bool Defaults::hasKey(const QString& key) const {
    return settings_->contains(key);
}

void Defaults::setInteger(qint64 value, const QString& key) {
    TAVRIO_ASSERT_MAIN_THREAD();
    settings_->setValue(key, value);
}

void Defaults::setBool(bool value, const QString& key) {
    TAVRIO_ASSERT_MAIN_THREAD();
    settings_->setValue(key, value);
}

QString Defaults::stringForKey(const QString& key) const {
    return settings_->value(key).toString();
}

void Defaults::setString(const QString& value, const QString& key) {
    TAVRIO_ASSERT_MAIN_THREAD();
    settings_->setValue(key, value);
}

bool Defaults::synchronize() {
    TAVRIO_ASSERT_MAIN_THREAD();
    settings_->sync();
    if (settings_->status() != QSettings::NoError) {
        qCWarning(lcPlatform) << "cannot write the settings file" << settings_->fileName() << "status"
                              << settings_->status();
        return false;
    }
    return true;
}

QString Defaults::fileName() const {
    return settings_->fileName();
}

}  // namespace platform
