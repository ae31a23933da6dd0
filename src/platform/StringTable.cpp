#include "platform/StringTable.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>

#ifndef TAVRIO_SOURCE_RESOURCES
#define TAVRIO_SOURCE_RESOURCES ""
#endif

namespace platform {

namespace {

QMutex cacheMutex;
QString overrideDir;
QHash<QString, QHash<QString, QString>> cache;  // table name -> entries

class Parser {
public:
    explicit Parser(const QString& text) : s_(text) {}

    std::optional<QHash<QString, QString>> run(QString* error) {
        QHash<QString, QString> entries;
        for (;;) {
            if (!skipSpaceAndComments()) return fail(error, QStringLiteral("unterminated comment"));
            if (pos_ >= s_.size()) return entries;
            QString key, value;
            if (!readString(&key)) return fail(error, QStringLiteral("expected a quoted key"));
            if (!skipSpaceAndComments() || !expect(u'='))
                return fail(error, QStringLiteral("expected '=' after the key"));
            if (!skipSpaceAndComments() || !readString(&value))
                return fail(error, QStringLiteral("expected a quoted value"));
            if (!skipSpaceAndComments() || !expect(u';'))
                return fail(error, QStringLiteral("expected ';' after the value"));
            entries.insert(key, value);
        }
    }

private:
    std::optional<QHash<QString, QString>> fail(QString* error, const QString& what) {
        if (error) *error = QStringLiteral("line %1: %2").arg(line()).arg(what);
        return std::nullopt;
    }

    int line() const { return int(s_.left(pos_).count(u'\n')) + 1; }

    bool expect(QChar c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // False only for a comment that never ends.
    bool skipSpaceAndComments() {
        while (pos_ < s_.size()) {
            const QChar c = s_[pos_];
            if (c.isSpace() || c == QChar(0xFEFF)) {
                ++pos_;
            } else if (s_.mid(pos_, 2) == QLatin1String("//")) {
                const qsizetype nl = s_.indexOf(u'\n', pos_);
                pos_ = nl < 0 ? s_.size() : nl + 1;
            } else if (s_.mid(pos_, 2) == QLatin1String("/*")) {
                const qsizetype end = s_.indexOf(QLatin1String("*/"), pos_ + 2);
                if (end < 0) return false;
                pos_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    bool readString(QString* out) {
        if (!expect(u'"')) return false;
        while (pos_ < s_.size()) {
            const QChar c = s_[pos_++];
            if (c == u'"') return true;
            if (c != u'\\') {
                out->append(c);
                continue;
            }
            if (pos_ >= s_.size()) return false;
            const QChar e = s_[pos_++];
            switch (e.unicode()) {
            case 'n': out->append(u'\n'); break;
            case 't': out->append(u'\t'); break;
            case 'r': out->append(u'\r'); break;
            case 'U':
            case 'u': {
                bool ok = false;
                const uint code = s_.mid(pos_, 4).toUInt(&ok, 16);
                if (!ok || s_.mid(pos_, 4).size() != 4) return false;
                out->append(QChar(char16_t(code)));
                pos_ += 4;
                break;
            }
            default: out->append(e); break;  // \" \\ and any other escaped character
            }
        }
        return false;
    }

    const QString& s_;
    qsizetype pos_ = 0;
};

QString defaultResourcesDir() {
    // A program with the resources compiled in (the GUI) reads its own copy, wherever it runs.
    if (QDir(QStringLiteral(":/Resources")).exists()) return QStringLiteral(":/Resources");
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/Resources");
        if (QDir(beside).exists()) return beside;
    }
    return QString::fromUtf8(TAVRIO_SOURCE_RESOURCES);
}

const QHash<QString, QString>& tableLocked(const QString& table) {
    auto it = cache.find(table);
    if (it != cache.end()) return *it;
    QHash<QString, QString> entries;
    const QString dir = overrideDir.isEmpty() ? defaultResourcesDir() : overrideDir;
    QFile file(dir + QLatin1Char('/') + table + QStringLiteral(".strings"));
    if (file.open(QIODevice::ReadOnly)) {
        QString error;
        if (auto parsed = StringTable::parse(QString::fromUtf8(file.readAll()), &error))
            entries = std::move(*parsed);
        else
            qCWarning(lcPlatform) << "string table" << file.fileName() << error;
    } else {
        qCDebug(lcPlatform) << "no string table" << file.fileName();
    }
    return *cache.insert(table, std::move(entries));
}

}  // namespace

QString StringTable::localized(const QString& table, const QString& key) {
    QMutexLocker lock(&cacheMutex);
    return tableLocked(table).value(key, key);
}

std::optional<QHash<QString, QString>> StringTable::parse(const QString& text, QString* error) {
    return Parser(text).run(error);
}

QString StringTable::resourcesDir() {
    QMutexLocker lock(&cacheMutex);
    return overrideDir.isEmpty() ? defaultResourcesDir() : overrideDir;
}

void StringTable::setResourcesDir(const QString& dir) {
    QMutexLocker lock(&cacheMutex);
    overrideDir = dir;
    cache.clear();
}

}  // namespace platform
