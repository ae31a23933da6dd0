#include "platform/PropertyList.h"

#include "platform/Logging.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace platform {

namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01 UTC).
constexpr qint64 kPlistEpoch = 978307200;

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

void setError(QString* error, const QString& text) {
    if (error) *error = text;
}

quint64 readBigEndian(const uchar* p, int n) {
    quint64 v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// libplist's binary reader recurses once per nesting level and follows object references
// without a depth bound, so a crafted file (a long chain of one-element arrays, or a cycle)
// overflows the stack; and it copies an object each time it is referenced again, so a small
// file of shared references (a chain of arrays each holding the next one twice) expands into
// billions of nodes. Walk the object graph ourselves first, iteratively, and refuse cycles,
// graphs deeper than kMaxDepth and graphs whose expanded tree exceeds kMaxNodes.
bool checkBinaryGraph(const QByteArray& data, QString* error) {
    const qint64 size = data.size();
    if (size < 8 + 32) {
        setError(error, QStringLiteral("binary property list too short"));
        return false;
    }
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const uchar* trailer = bytes + size - 32;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 objectCount = readBigEndian(trailer + 8, 8);
    const quint64 top = readBigEndian(trailer + 16, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    const quint64 bodyEnd = quint64(size - 32);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0 || top >= objectCount ||
        tableOffset < 8 || tableOffset > bodyEnd || objectCount > (bodyEnd - tableOffset) / quint64(offsetSize)) {
        setError(error, QStringLiteral("binary property list has a broken trailer"));
        return false;
    }

    if (objectCount > quint64(PropertyList::kMaxNodes)) {
        setError(error, QStringLiteral("property list has too many objects"));
        return false;
    }
    auto offsetOf = [&](quint64 object) {
        return readBigEndian(bytes + tableOffset + object * offsetSize, offsetSize);
    };
    for (quint64 i = 0; i < objectCount; ++i) {
        const quint64 offset = offsetOf(i);
        if (offset < 8 || offset >= tableOffset) {
            setError(error, QStringLiteral("binary property list has a broken offset table"));
            return false;
        }
    }

    // An object's marker byte and element count (the low nibble, or a following integer when
    // it is 0xF); *start is where its contents begin. False when the header runs out of bounds.
    auto header = [&](quint64 object, int* type, quint64* count, quint64* start) -> bool {
        quint64 p = offsetOf(object);
        const uchar marker = bytes[p];
        *type = marker >> 4;
        quint64 n = marker & 0x0F;
        ++p;
        if (n == 0x0F) {
            if (p >= tableOffset || (bytes[p] >> 4) != 0x1) return false;
            const int width = 1 << (bytes[p] & 0x0F);
            if (width > 8 || p + 1 + width > tableOffset) return false;
            n = readBigEndian(bytes + p + 1, width);
            p += 1 + width;
        }
        *count = n;
        *start = p;
        return true;
    };

    // libplist asserts (aborting the process) when a dictionary key holds a NUL character.
    auto keyHasNul = [&](quint64 object) -> bool {
        int type = 0;
        quint64 n = 0, p = 0;
        if (!header(object, &type, &n, &p)) return false;  // malformed; libplist refuses it
        if (type == 0x5 && n <= tableOffset - p) return std::memchr(bytes + p, 0, n) != nullptr;
        if (type == 0x6 && n <= (tableOffset - p) / 2) {
            for (quint64 i = 0; i < n; ++i) {
                if (bytes[p + 2 * i] == 0 && bytes[p + 2 * i + 1] == 0) return true;
            }
        }
        return false;
    };

    // The references held by a container object, as [first, count) into the file.
    auto refsOf = [&](quint64 object, quint64* first, quint64* count) -> bool {
        int type = 0;
        quint64 n = 0, p = 0;
        *count = 0;
        if (type = bytes[offsetOf(object)] >> 4; type != 0xA && type != 0xB && type != 0xC && type != 0xD)
            return true;  // not a container
        if (!header(object, &type, &n, &p)) return false;
        const bool dict = type == 0xD;
        if (dict) {
            if (n > std::numeric_limits<quint64>::max() / 2) return false;
            n *= 2;  // keys, then values
        }
        if (n > (tableOffset - p) / quint64(refSize)) return false;
        if (dict) {
            for (quint64 i = 0; i < n / 2; ++i) {
                const quint64 key = readBigEndian(bytes + p + i * refSize, refSize);
                if (key < objectCount && keyHasNul(key)) return false;
            }
        }
        *first = p;
        *count = n;
        return true;
    };

    // Iterative depth-first search: 0 unseen, 1 on the current path, 2 finished.
    std::vector<uchar> state(objectCount, 0);
    std::vector<quint16> depth(objectCount, 0);  // bounded by kMaxDepth
    // Nodes in the object's expanded tree, saturating just above the limit.
    std::vector<quint32> treeSize(objectCount, 0);
    constexpr quint32 kTooMany = quint32(PropertyList::kMaxNodes) + 1;
    auto addTree = [&](quint64 parent, quint64 child) {
        treeSize[parent] = quint32(std::min<quint64>(quint64(treeSize[parent]) + treeSize[child], kTooMany));
    };
    struct Frame {
        quint64 object, first, count, next;
    };
    std::vector<Frame> stack;
    auto push = [&](quint64 object) -> bool {
        Frame f{object, 0, 0, 0};
        if (!refsOf(object, &f.first, &f.count)) return false;
        state[object] = 1;
        depth[object] = 1;
        treeSize[object] = 1;
        stack.push_back(f);
        return true;
    };
    if (!push(top)) {
        setError(error, QStringLiteral("binary property list has a broken container"));
        return false;
    }
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.count) {
            state[f.object] = 2;
            const quint64 done = f.object;
            stack.pop_back();
            if (!stack.empty()) {
                depth[stack.back().object] = std::max<quint16>(depth[stack.back().object], depth[done] + 1);
                addTree(stack.back().object, done);
            }
            continue;
        }
        const quint64 child = readBigEndian(bytes + f.first + f.next * refSize, refSize);
        ++f.next;
        if (child >= objectCount) {
            setError(error, QStringLiteral("binary property list refers to a missing object"));
            return false;
        }
        if (state[child] == 1) {
            setError(error, QStringLiteral("binary property list contains itself"));
            return false;
        }
        if (state[child] == 2) {
            depth[f.object] = std::max<quint16>(depth[f.object], depth[child] + 1);
            addTree(f.object, child);
            if (treeSize[f.object] >= kTooMany) {
                setError(error, QStringLiteral("property list has too many objects"));
                return false;
            }
            continue;
        }
        if (stack.size() >= size_t(PropertyList::kMaxDepth)) {
            setError(error, QStringLiteral("property list nested too deeply"));
            return false;
        }
        if (!push(child)) {
            setError(error, QStringLiteral("binary property list has a broken container"));
            return false;
        }
    }
    if (treeSize[top] >= kTooMany) {
        setError(error, QStringLiteral("property list has too many objects"));
        return false;
    }
    return true;
}

// XML forbids the NUL character, raw or as a character reference; libplist would accept it
// and then abort on a dictionary key holding one.
bool hasXmlNul(const QByteArray& data) {
    if (data.contains('\0')) return true;
    const char* p = data.constData();
    const char* end = p + data.size();
    while ((p = static_cast<const char*>(std::memchr(p, '&', end - p))) != nullptr) {
        ++p;
        if (p >= end || *p != '#') continue;
        ++p;
        const bool hex = p < end && (*p == 'x' || *p == 'X');
        if (hex) ++p;
        const char* digits = p;
        while (p < end && *p == '0') ++p;
        if (p > digits && p < end && *p == ';') return true;
    }
    return false;
}

bool startsWith(const char* p, const char* end, const char* text) {
    const size_t n = std::strlen(text);
    return size_t(end - p) >= n && std::memcmp(p, text, n) == 0;
}

// libplist frees trees recursively, and holds every node in memory: refuse XML nested deeper
// than we would ever convert, or with more elements than kMaxNodes, before it builds the tree.
// Strings cannot hold a raw '<', so counting tags outside comments and CDATA sections is exact.
bool checkXmlShape(const QByteArray& data, QString* error) {
    const char* p = data.constData();
    const char* end = p + data.size();
    int depth = 0;
    qint64 elements = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '<', end - p))) != nullptr) {
        ++p;
        if (startsWith(p, end, "!--")) {
            const char* close = std::strstr(p, "-->");  // the data is NUL-terminated
            if (!close || close >= end) break;
            p = close + 3;
            continue;
        }
        if (startsWith(p, end, "![CDATA[")) {
            const char* close = std::strstr(p, "]]>");
            if (!close || close >= end) break;
            p = close + 3;
            continue;
        }
        const bool closing = p < end && *p == '/';
        if (!closing && p < end && *p != '?' && *p != '!' && ++elements > PropertyList::kMaxNodes) {
            setError(error, QStringLiteral("property list has too many elements"));
            return false;
        }
        const char* name = closing ? p + 1 : p;
        size_t len = 0;
        if (startsWith(name, end, "array"))
            len = 5;
        else if (startsWith(name, end, "dict"))
            len = 4;
        else
            continue;
        const char* after = name + len;
        if (after >= end ||
            (*after != '>' && *after != '/' && *after != ' ' && *after != '\t' && *after != '\n' && *after != '\r'))
            continue;
        if (closing) {
            --depth;
            continue;
        }
        const char* gt = static_cast<const char*>(std::memchr(after, '>', end - after));
        if (gt && gt[-1] == '/') continue;  // <array/>
        if (++depth > PropertyList::kMaxDepth) {
            setError(error, QStringLiteral("property list nested too deeply"));
            return false;
        }
    }
    return true;
}

bool toVariant(plist_t node, int depth, QVariant* out, QString* error) {
    if (depth > PropertyList::kMaxDepth) {
        setError(error, QStringLiteral("property list nested too deeply"));
        return false;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        *out = bool(b);
        return true;
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        *out = qint64(v);  // libplist keeps negative integers as two's complement
        return true;
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        *out = d;
        return true;
    }
    case PLIST_STRING: {
        uint64_t len = 0;
        const char* s = plist_get_string_ptr(node, &len);
        *out = QString::fromUtf8(s, qsizetype(len));
        return true;
    }
    case PLIST_DATA: {
        uint64_t len = 0;
        const char* s = plist_get_data_ptr(node, &len);
        *out = QByteArray(s, qsizetype(len));
        return true;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        *out = QDateTime::fromMSecsSinceEpoch((kPlistEpoch + sec) * 1000 + usec / 1000, QTimeZone::utc());
        return true;
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        *out = QVariant::fromValue(quint64(v));
        return true;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        list.reserve(plist_array_get_size(node));
        // Iterate rather than index: indexing walks the child list from the start each time.
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        plist_t item = nullptr;
        bool ok = true;
        for (plist_array_next_item(node, it, &item); item; plist_array_next_item(node, it, &item)) {
            QVariant v;
            if (!toVariant(item, depth + 1, &v, error)) {
                ok = false;
                break;
            }
            list.append(std::move(v));
        }
        std::free(it);
        if (ok) *out = std::move(list);
        return ok;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        char* key = nullptr;
        plist_t value = nullptr;
        bool ok = true;
        for (plist_dict_next_item(node, it, &key, &value); value; plist_dict_next_item(node, it, &key, &value)) {
            QVariant v;
            const QString k = QString::fromUtf8(key ? key : "");
            std::free(key);
            key = nullptr;
            if (!toVariant(value, depth + 1, &v, error)) {
                ok = false;
                break;
            }
            map.insert(k, std::move(v));
        }
        std::free(key);
        std::free(it);
        if (ok) *out = std::move(map);
        return ok;
    }
    default: setError(error, QStringLiteral("property list holds an unsupported node")); return false;
    }
}

plist_t fromVariant(const QVariant& v, int depth, QString* error) {
    if (depth > PropertyList::kMaxDepth) {
        setError(error, QStringLiteral("value nested too deeply for a property list"));
        return nullptr;
    }
    switch (v.typeId()) {
    case QMetaType::Bool: return plist_new_bool(v.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar: return plist_new_uint(uint64_t(v.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const quint64 u = v.toULongLong();
        if (u > quint64(std::numeric_limits<qint64>::max())) {
            setError(error, QStringLiteral("integer too large for a property list"));
            return nullptr;
        }
        return plist_new_uint(u);
    }
    case QMetaType::Float: return plist_new_real(double(v.value<float>()));
    case QMetaType::Double: return plist_new_real(v.toDouble());
    case QMetaType::QString: return plist_new_string(v.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    case QMetaType::QDateTime: {
        const qint64 ms = v.toDateTime().toMSecsSinceEpoch() - kPlistEpoch * 1000;
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        return plist_new_date(int32_t(sec), int32_t((ms - sec * 1000) * 1000));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : v.toList()) {
            plist_t child = fromVariant(item, depth + 1, error);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = v.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t child = fromVariant(it.value(), depth + 1, error);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    default:
        setError(error, QStringLiteral("a %1 cannot be stored in a property list")
                            .arg(QString::fromLatin1(v.metaType().name() ? v.metaType().name() : "invalid value")));
        return nullptr;
    }
}

}  // namespace

std::optional<QVariant> PropertyList::fromData(const QByteArray& data, QString* error) {
    if (data.isEmpty()) {
        setError(error, QStringLiteral("empty file"));
        return std::nullopt;
    }
    if (data.size() > kMaxBytes) {
        setError(error, QStringLiteral("file too large for a property list"));
        return std::nullopt;
    }
    const bool binary = plist_is_binary(data.constData(), uint32_t(data.size())) != 0;
    if (binary ? !checkBinaryGraph(data, error) : !checkXmlShape(data, error)) return std::nullopt;
    if (!binary && hasXmlNul(data)) {
        setError(error, QStringLiteral("not a property list: it contains a NUL character"));
        return std::nullopt;
    }

    plist_t raw = nullptr;
    if (binary)
        plist_from_bin(data.constData(), uint32_t(data.size()), &raw);
    else
        plist_from_xml(data.constData(), uint32_t(data.size()), &raw);
    PlistPtr root(raw);
    if (!root) {
        setError(error, QStringLiteral("not a property list"));
        return std::nullopt;
    }
    QVariant out;
    if (!toVariant(root.get(), 0, &out, error)) return std::nullopt;
    return out;
}

std::optional<QVariant> PropertyList::readFile(const QString& path, QString* error) {
    // Only regular files: opening a FIFO would block until someone writes to it.
    const QFileInfo info(path);
    if (!info.isFile()) {
        setError(error, info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("no such file"));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaxBytes) {
        setError(error, QStringLiteral("file too large for a property list"));
        return std::nullopt;
    }
    return fromData(file.readAll(), error);
}

std::optional<QByteArray> PropertyList::toXml(const QVariant& value, QString* error) {
    PlistPtr root(fromVariant(value, 0, error));
    if (!root) return std::nullopt;
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (!xml) {
        setError(error, QStringLiteral("cannot produce the XML property list"));
        return std::nullopt;
    }
    QByteArray out(xml, qsizetype(length));
    plist_to_xml_free(xml);
    return out;
}

}  // namespace platform
