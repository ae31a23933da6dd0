#include "ZoomTrack.h"

#include "MediaStore.h"

#include "media/Asset.h"
#include "media/OutputFile.h"
#include "platform/Logging.h"
#include "platform/PropertyList.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <charconv>
#include <string>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool isNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong: return true;
    default: return false;
    }
}

// The file's text, byte for byte as libplist writes the same list (which wrote every track
// before this writer, and whose reader other programs may be): a dictionary's keys in order,
// reals in the shortest of 17 significant digits ("%.17g", never a locale's comma), zero as
// "0.0", the zoom as the float's exact double value; entry 0 carries the orientation.
constexpr char kFileHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr char kArrayStart[] = "<array>\n";
constexpr char kArrayEnd[] = "</array>\n</plist>\n";
constexpr char kEmptyArray[] = "<array/>\n</plist>\n";
// What a stream of entries is formatted into before it is written.
constexpr size_t kWriteChunk = 64 * 1024;

void appendReal(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "nan";
    } else if (std::isinf(value)) {
        out += value > 0 ? "+infinity" : "-infinity";
    } else if (value == 0.0) {
        out += "0.0";
    } else {
        char text[40];
        const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 17).ptr;
        out.append(text, end);
    }
}

void appendEntry(std::string& out, const media::ZoomEntry& entry, const std::optional<qint64>& orient) {
    out += "\t<dict>\n\t\t<key>atTime</key>\n\t\t<real>";
    appendReal(out, entry.atTime);
    out += "</real>\n";
    if (orient) {
        out += "\t\t<key>orient</key>\n\t\t<integer>";
        out += std::to_string(*orient);
        out += "</integer>\n";
    }
    out += "\t\t<key>zoom</key>\n\t\t<real>";
    appendReal(out, double(entry.zoom));
    out += "</real>\n\t</dict>\n";
}

// Formats entries numbered from `firstIndex` into chunks handed to `write`; false when a write
// failed.
template <class Write>
bool streamEntries(std::span<const media::ZoomEntry> entries, size_t firstIndex, const std::optional<qint64>& orient,
                   std::string& chunk, Write&& write) {
    for (size_t i = 0; i < entries.size(); ++i) {
        appendEntry(chunk, entries[i], firstIndex + i == 0 ? orient : std::nullopt);
        if (chunk.size() >= kWriteChunk) {
            if (!write(chunk)) return false;
            chunk.clear();
        }
    }
    return true;
}

// Entry 0's "orient": integers as they are, reals truncated when an integer can hold them.
std::optional<qint64> orientOf(const QVariant& orient) {
    switch (orient.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt: return orient.toLongLong();
    case QMetaType::Double: {
        // A real too large for an integer would overflow the conversion.
        const double d = orient.toDouble();
        if (std::isfinite(d) && std::fabs(d) < 9.0e18) return qint64(d);
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

// What one element of the stored array holds, however the file spells it.
struct StoredEntry {
    QString notADictionary;  // the element's type when it is no dictionary
    bool hasZoom = false, hasTime = false;
    std::optional<double> zoom, atTime;  // nullopt: not a number
    std::optional<qint64> orient;
};

// One element as an entry; a fault is noted on the track (the first one only) and leaves NaN
// where the value should be.
void appendEntry(ZoomTrack& track, const StoredEntry& stored) {
    const qsizetype index = track.size();
    auto note = [&](const QString& problem) {
        if (track.readProblemEntry >= 0) return;
        track.readProblem = problem;
        track.readProblemEntry = index;
    };
    media::ZoomEntry entry{float(kNaN), kNaN};
    if (!stored.notADictionary.isEmpty())
        note(QStringLiteral("entry %1 is not a dictionary (%2)").arg(index).arg(stored.notADictionary));
    else if (!stored.hasZoom)
        note(QStringLiteral("entry %1 has no zoom").arg(index));
    else if (!stored.hasTime)
        note(QStringLiteral("entry %1 has no time").arg(index));
    else if (!stored.zoom)
        note(QStringLiteral("entry %1: zoom is not a number").arg(index));
    else if (!stored.atTime)
        note(QStringLiteral("entry %1: time is not a number").arg(index));
    if (stored.zoom) entry.zoom = float(*stored.zoom);
    if (stored.atTime) entry.atTime = *stored.atTime;
    if (index == 0) track.orient = stored.orient;
    track.entries.push_back(entry);
}

StoredEntry storedEntryOf(const QVariant& element) {
    StoredEntry stored;
    if (element.typeId() != QMetaType::QVariantMap) {
        stored.notADictionary = QString::fromLatin1(element.metaType().name());
        return stored;
    }
    const QVariantMap map = element.toMap();
    const QVariant zoom = map.value(QLatin1String(kZoomKey)), atTime = map.value(QLatin1String(kAtTimeKey));
    stored.hasZoom = map.contains(QLatin1String(kZoomKey));
    stored.hasTime = map.contains(QLatin1String(kAtTimeKey));
    if (isNumber(zoom)) stored.zoom = zoom.toDouble();
    if (isNumber(atTime)) stored.atTime = atTime.toDouble();
    stored.orient = orientOf(map.value(QLatin1String(kOrientKey)));
    return stored;
}

// A number element's text: reals and integers as libplist reads them (surrounding blanks
// allowed, a leading '+', inf and nan for reals); nullopt when the text is no such number.
std::optional<double> realOf(QStringView text) {
    const QByteArray bytes = text.trimmed().toLatin1();
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    if (begin != end && *begin == '+') ++begin;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end) return std::nullopt;
    return value;
}

std::optional<qint64> integerOf(QStringView text) {
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (ok) return value;
    return std::nullopt;
}

// The type the element would have had as a value, for the "not a dictionary" problem.
QString typeNameOf(QStringView tag) {
    if (tag == u"string") return QStringLiteral("QString");
    if (tag == u"integer") return QStringLiteral("qlonglong");
    if (tag == u"real") return QStringLiteral("double");
    if (tag == u"true" || tag == u"false") return QStringLiteral("bool");
    if (tag == u"array") return QStringLiteral("QVariantList");
    if (tag == u"data") return QStringLiteral("QByteArray");
    if (tag == u"date") return QStringLiteral("QDateTime");
    return tag.toString();
}

// An XML property list read as a stream, element by element, straight into the track: a long
// track is never held as a tree of values, nor as its file's text. nullopt, with *error, when
// the file is not such a list or its root is not an array.
std::optional<ZoomTrack> readXmlTrack(QIODevice& file, QString* error) {
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement()) {
        *error = xml.hasError() ? xml.errorString() : QStringLiteral("no property list");
        return std::nullopt;
    }
    if (xml.name() == u"plist" && !xml.readNextStartElement()) {
        *error = xml.hasError() ? xml.errorString() : QStringLiteral("an empty property list");
        return std::nullopt;
    }
    if (xml.name() != u"array") {
        *error = QStringLiteral("not an array");
        return std::nullopt;
    }
    ZoomTrack track;
    while (xml.readNextStartElement()) {
        StoredEntry stored;
        if (xml.name() != u"dict") {
            stored.notADictionary = typeNameOf(xml.name());
            xml.skipCurrentElement();
            appendEntry(track, stored);
            continue;
        }
        const bool first = track.isEmpty();
        while (xml.readNextStartElement()) {
            if (xml.name() != u"key") {
                xml.raiseError(QStringLiteral("a dictionary value without its key"));
                break;
            }
            const QString key = xml.readElementText();
            if (!xml.readNextStartElement()) {
                xml.raiseError(QStringLiteral("a key without its value"));
                break;
            }
            const QStringView tag = xml.name();
            const bool real = tag == u"real", integer = tag == u"integer";
            std::optional<double> number;
            std::optional<qint64> whole;
            if (real || integer) {
                const QString text = xml.readElementText();
                if (real) {
                    number = realOf(text);
                    // An unreadable real is still a real: a number no entry can use.
                    if (!number) number = kNaN;
                } else {
                    whole = integerOf(text);
                    number = whole ? std::optional<double>(double(*whole)) : std::optional<double>(kNaN);
                }
            } else {
                xml.skipCurrentElement();
            }
            if (key == QLatin1String(kZoomKey)) {
                stored.hasZoom = true;
                stored.zoom = number;
            } else if (key == QLatin1String(kAtTimeKey)) {
                stored.hasTime = true;
                stored.atTime = number;
            } else if (key == QLatin1String(kOrientKey) && first) {
                stored.orient = whole ? whole
                                : number && std::isfinite(*number) && std::fabs(*number) < 9.0e18
                                    ? std::optional<qint64>(qint64(*number))
                                    : std::nullopt;
            }
        }
        if (xml.hasError()) break;
        appendEntry(track, stored);
    }
    if (!xml.hasError()) {
        // What follows the array must close the list and end the document.
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement()) xml.raiseError(QStringLiteral("more than one value in the property list"));
        }
    }
    if (xml.hasError()) {
        *error = xml.errorString();
        return std::nullopt;
    }
    return track;
}

}  // namespace

bool writeSideFile(const QString& path, const QByteArray& bytes, QString* error) {
    media::Error e;
    if (media::replaceFileContents(QFile::encodeName(path).toStdString(), bytes.constData(), size_t(bytes.size()), &e))
        return true;
    if (error) *error = QString::fromStdString(e.description + " (" + e.failureReason + ")");
    return false;
}

bool writeZoomTrackFile(const QString& path, const ZoomTrack& track) {
    QString error;
    ZoomTrackFileWriter writer(path, track.orient);
    if (writer.store(track.entries, false, &error)) return true;
    qCWarning(lcStore) << "cannot write zoom track" << path << error;
    return false;
}

QByteArray zoomTrackFileBytes(const ZoomTrack& track) {
    QByteArray bytes(kFileHead);
    if (track.isEmpty()) {
        bytes += kEmptyArray;
    } else {
        bytes += kArrayStart;
        std::string chunk;
        streamEntries(track.entries, 0, track.orient, chunk, [&](const std::string& text) {
            bytes.append(text.data(), qsizetype(text.size()));
            return true;
        });
        bytes.append(chunk.data(), qsizetype(chunk.size()));
        bytes += kArrayEnd;
    }
    return bytes;
}

ZoomTrackFileWriter::ZoomTrackFileWriter(QString path, std::optional<qint64> orient)
    : path_(std::move(path)), orient_(orient) {}

ZoomTrackFileWriter::~ZoomTrackFileWriter() = default;

bool ZoomTrackFileWriter::store(std::span<const media::ZoomEntry> entries, bool anew, QString* error) {
    if (anew) {
        last_.reset();
        stored_ = 0;
        entriesEnd_ = 0;
        unstored_.clear();
    }
    if (last_ && entries.empty() && unstored_.empty()) return true;
    // Written to a temporary file and renamed into place: a crash, a power cut or a full disk in
    // the middle of an in-place write would leave a truncated track, and the movie would then
    // export without its zoom.
    media::Error e;
    std::unique_ptr<media::OutputFile> out = media::OutputFile::create(QFile::encodeName(path_).toStdString(), &e);
    const size_t total = stored_ + unstored_.size() + entries.size();
    int64_t written = 0;
    auto write = [&](const std::string& bytes) {
        written += int64_t(bytes.size());
        return out->write(bytes.data(), bytes.size(), &e);
    };
    std::string chunk;
    chunk.reserve(kWriteChunk + 512);
    bool ok = out != nullptr;
    if (ok && last_) {
        ok = out->copyFrom(last_->fd(), entriesEnd_, &e);
        written = entriesEnd_;
    } else if (ok) {
        chunk = kFileHead;
        if (total > 0) chunk += kArrayStart;
    }
    ok = ok && streamEntries(unstored_, stored_, orient_, chunk, write) &&
         streamEntries(entries, stored_ + unstored_.size(), orient_, chunk, write) && write(chunk);
    // Where the entries end: the next store copies up to there.
    const int64_t entriesEnd = written;
    chunk = total > 0 ? kArrayEnd : kEmptyArray;
    ok = ok && write(chunk) && out->commit(media::OutputFile::Commit::Replace, &e);
    if (!ok) {
        unstored_.insert(unstored_.end(), entries.begin(), entries.end());
        if (error) *error = QString::fromStdString(e.description + " (" + e.failureReason + ")");
        return false;
    }
    last_ = std::move(out);
    entriesEnd_ = total > 0 ? entriesEnd : 0;
    // An empty track's file is not one to copy from: its array is written "<array/>".
    if (total == 0) last_.reset();
    stored_ = total;
    unstored_.clear();
    return true;
}

namespace {

// A regular file's bytes (a link is not followed, a FIFO never blocks); nullopt when there is
// none, empty *error then. A file that is there and cannot be read sets *error.
std::optional<QByteArray> readSideFile(const QString& path, QString* error) {
    error->clear();
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile()) return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

bool fail(QString* error, const QString& text) {
    qCWarning(lcStore).noquote() << text;
    if (error) *error = text;
    return false;
}

}  // namespace

bool replaceZoomTrack(const QString& moviePath, const ZoomTrack& track, QString* error) {
    const QString name = QFileInfo(moviePath).fileName();
    const QString current = MediaStore::zoomsArchiveFilePath(name);
    const QString earlier = MediaStore::earlierZoomsArchiveFilePath(name);
    QString problem;
    const QByteArray xml = zoomTrackFileBytes(track);
    const std::optional<QByteArray> old = readSideFile(current, &problem);
    if (!problem.isEmpty()) return fail(error, problem);
    const std::optional<QByteArray> olderStill = readSideFile(earlier, &problem);
    if (old) {
        if (!writeSideFile(earlier, *old, &problem))
            return fail(error, QStringLiteral("cannot keep the earlier zoom of %1: %2").arg(name, problem));
    } else if (olderStill) {
        // Left by an earlier movie of this name: it is no version of this movie's zoom.
        MediaStore::removeLeftEarlierZoom(name);
    }
    if (!writeSideFile(current, xml, &problem)) {
        // The track is unchanged, so the earlier version goes back to what it was.
        if (olderStill)
            writeSideFile(earlier, *olderStill);
        else
            QFile::remove(earlier);
        return fail(error, QStringLiteral("cannot store the new zoom of %1: %2").arg(name, problem));
    }
    return true;
}

bool hasEarlierZoomTrack(const QString& moviePath) {
    const QFileInfo info(MediaStore::earlierZoomsArchiveFilePath(QFileInfo(moviePath).fileName()));
    return info.isFile() && !info.isSymLink();
}

bool restoreEarlierZoomTrack(const QString& moviePath, QString* error) {
    const QString name = QFileInfo(moviePath).fileName();
    const QString earlier = MediaStore::earlierZoomsArchiveFilePath(name);
    QString problem;
    const std::optional<QByteArray> bytes = readSideFile(earlier, &problem);
    if (!bytes) {
        if (problem.isEmpty()) problem = QStringLiteral("%1 has no earlier zoom").arg(name);
        return fail(error, problem);
    }
    if (!writeSideFile(MediaStore::zoomsArchiveFilePath(name), *bytes, &problem))
        return fail(error, QStringLiteral("cannot put back the earlier zoom of %1: %2").arg(name, problem));
    if (!QFile::remove(earlier))
        return fail(
            error,
            QStringLiteral("the earlier zoom of %1 is back, but its copy %2 cannot be removed").arg(name, earlier));
    return true;
}

std::optional<ZoomTrack> readZoomTrackFile(const QString& path) {
    if (!QFile::exists(path)) return std::nullopt;
    QString error;
    // Tracks are written as XML; a binary list (a track made elsewhere) is small enough to be
    // read whole.
    QFile file(path);
    char magic[6] = {};
    if (!QFileInfo(path).isFile() || file.size() > platform::PropertyList::kMaxBytes ||
        !file.open(QIODevice::ReadOnly)) {
        qCWarning(lcStore) << "zoom track" << path << "unreadable:"
                           << (file.size() > platform::PropertyList::kMaxBytes ? QStringLiteral("too large")
                                                                               : QStringLiteral("not a readable file"));
        return std::nullopt;
    }
    if (file.peek(magic, sizeof magic) != qint64(sizeof magic) || std::memcmp(magic, "bplist", sizeof magic) != 0) {
        std::optional<ZoomTrack> track = readXmlTrack(file, &error);
        if (!track) qCWarning(lcStore) << "zoom track" << path << "unreadable:" << error;
        return track;
    }
    file.close();
    std::optional<QVariant> root = platform::PropertyList::readFile(path, &error);
    if (!root) {
        qCWarning(lcStore) << "zoom track" << path << "unreadable:" << error;
        return std::nullopt;
    }
    if (root->typeId() != QMetaType::QVariantList) {
        qCWarning(lcStore) << "zoom track" << path << "is not an array";
        return std::nullopt;
    }
    const QVariantList list = root->toList();
    ZoomTrack track;
    track.entries.reserve(size_t(list.size()));
    for (const QVariant& element : list) appendEntry(track, storedEntryOf(element));
    return track;
}

QString zoomTrackProblem(const ZoomTrack& track) {
    if (track.isEmpty()) return QStringLiteral("the zoom track has no entries");
    for (qsizetype i = 0; i < track.size(); ++i) {
        if (i == track.readProblemEntry) return track.readProblem;
        const media::ZoomEntry& entry = track.entries[size_t(i)];
        if (media::ZoomCurve::isUsable(entry)) continue;
        // A float: a finite double beyond FLT_MAX became infinite when read as the factor.
        if (!std::isfinite(entry.zoom) || !(entry.zoom > 0.0f))
            return QStringLiteral("entry %1: zoom %2 is not a positive finite factor").arg(i).arg(double(entry.zoom));
        return QStringLiteral("entry %1: time %2 is not finite").arg(i).arg(entry.atTime);
    }
    return QString();
}

std::shared_ptr<const media::ZoomCurve> zoomCurveFor(const ZoomTrack& track, const media::Time& duration) {
    if (!zoomTrackProblem(track).isEmpty()) return std::make_shared<const media::ZoomCurve>();
    return std::make_shared<const media::ZoomCurve>(track.entries, duration);
}

std::optional<media::VideoComposition> playbackComposition(const media::Asset& asset,
                                                           std::shared_ptr<const media::ZoomCurve> curve) {
    const std::vector<media::AssetTrack> video = asset.tracksWithMediaType(media::MediaType::Video);
    if (video.empty()) return std::nullopt;
    return media::makeRampComposition(video.front().naturalSize, std::move(curve));
}

QString durationText(double seconds) {
    if (!std::isfinite(seconds)) return QString();
    // Far beyond any movie, but keeps the integer conversions defined.
    constexpr double kLimit = 1e15;
    const double d = std::max(-kLimit, std::min(kLimit, seconds));
    const qint64 totalMinutes = qint64(std::trunc(d / 60.0));
    const qint64 hours = totalMinutes / 60;
    const qint64 minutes = totalMinutes % 60;
    const qint64 secs = qint64(std::trunc(d)) % 60;
    if (hours == 0) return QString::asprintf("%02lld:%02lld", minutes, secs);
    return QString::asprintf("%02lld:%02lld:%02lld", hours, minutes, secs);
}

bool writeDurationFile(const QString& movieFileName, double seconds) {
    if (!std::isfinite(seconds)) {
        qCInfo(lcStore) << "no duration file for" << movieFileName << "- duration is not finite";
        return false;
    }
    const QString path = MediaStore::timingFilePathForVideo(movieFileName);
    // Atomic for the same reason as the zoom track: the library shows the file's whole text.
    QString error;
    if (!writeSideFile(path, durationText(seconds).toUtf8(), &error)) {
        qCWarning(lcStore) << "cannot write duration file" << path << error;
        return false;
    }
    return true;
}

QString readDurationFile(const QString& movieFileName) {
    const QString path = MediaStore::timingFilePathForVideo(movieFileName);
    if (!QFileInfo(path).isFile())  // not a FIFO or a folder: reading must not block
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll());
}

std::optional<ZoomTrack> zoomsForVideoFile(const QString& moviePath) {
    const QString name = QFileInfo(moviePath).fileName();
    return readZoomTrackFile(MediaStore::zoomsArchiveFilePath(name));
}

qint64 videoOrientationForZooms(const std::optional<ZoomTrack>& zooms) {
    if (!zooms || zooms->isEmpty()) return kNoRecordedOrientation;
    return zooms->orient.value_or(kNoRecordedOrientation);
}
