#pragma once
// Property lists (XML and binary) read into QVariant trees, and QVariant trees written as XML
// property lists, version 1.0, UTF-8, through libplist.
//
// Type mapping: array <-> QVariantList, dict <-> QVariantMap, real <-> double (a float is
// written as its exact double value), integer <-> qint64 (larger unsigned values are refused),
// true/false <-> bool, string <-> QString, data <-> QByteArray, date <-> QDateTime (UTC).
// Reals round-trip bit-exactly.
//
// Reading is defensive: garbage, empty files, files over kMaxBytes, more than kMaxNodes
// elements and nesting deeper than kMaxDepth are refused with an error, never a crash, a hang
// or an exhausted memory. The limits leave room for a zoom track of two million entries.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

namespace platform {

class PropertyList {
public:
    static constexpr qint64 kMaxBytes = 256LL * 1024 * 1024;
    static constexpr int kMaxDepth = 512;
    static constexpr qint64 kMaxNodes = 12'000'000;

    // Parses XML or binary property-list bytes. On failure returns nullopt and sets *error.
    static std::optional<QVariant> fromData(const QByteArray& data, QString* error = nullptr);
    // Reads a property-list file; nullopt when missing, unreadable or not a property list.
    static std::optional<QVariant> readFile(const QString& path, QString* error = nullptr);

    // The XML form of a value; nullopt when the tree holds a type a property list cannot hold
    // (the error names it).
    static std::optional<QByteArray> toXml(const QVariant& value, QString* error = nullptr);
    // Files are written by the caller (the app's writeSideFile), which never writes through a
    // symbolic link planted at the name.
};

}  // namespace platform
