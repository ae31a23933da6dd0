#pragma once
// String tables: one file per table, "<table>.strings", of  "key" = "value";  lines, with
// /* */ and // comments and the escapes \" \\ \n \t \r \uXXXX. A key with no entry reads as
// itself, so untranslated texts still show.

#include <QHash>
#include <QString>
#include <optional>

namespace platform {

class StringTable {
public:
    // The entry of `key` in table `table`, or `key` itself.
    static QString localized(const QString& table, const QString& key);

    // Parses a table's text. nullopt (and *error with the line) on a syntax error.
    static std::optional<QHash<QString, QString>> parse(const QString& text, QString* error = nullptr);

    // The folder the tables are loaded from: the compiled-in ":/Resources" in a program that has
    // them, else "Resources" beside the executable if it exists, else the source tree's
    // src/Resources. Overridable (tests, packaging); clears the cache.
    static QString resourcesDir();
    static void setResourcesDir(const QString& dir);
};

}  // namespace platform
