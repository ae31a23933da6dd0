#include "ZoomTrack.h"

#include "MediaStore.h"

#include "media/OutputFile.h"
#include "platform/Logging.h"
#include "platform/PropertyList.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <limits>

ZoomEntry makeZoomEntry(float zoom, double atTime) {
    ZoomEntry entry;
    entry.insert(QLatin1String(kZoomKey), double(zoom));
    entry.insert(QLatin1String(kAtTimeKey), atTime);
    return entry;
}

ZoomEntry makeZoomEntry(float zoom, double atTime, qint64 orient) {
    ZoomEntry entry = makeZoomEntry(zoom, atTime);
    entry.insert(QLatin1String(kOrientKey), orient);
    return entry;
}

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

double numberOf(const ZoomEntry& entry, const char* key) {
    const QVariant v = entry.value(QLatin1String(key));
    return isNumber(v) ? v.toDouble() : kNaN;
}

}  // namespace

float zoomOf(const ZoomEntry& entry) {
    return float(numberOf(entry, kZoomKey));
}

double atTimeOf(const ZoomEntry& entry) {
    return numberOf(entry, kAtTimeKey);
}

bool writeSideFile(const QString& path, const QByteArray& bytes, QString* error) {
    media::Error e;
    if (media::replaceFileContents(QFile::encodeName(path).toStdString(), bytes.constData(), size_t(bytes.size()), &e))
        return true;
    if (error) *error = QString::fromStdString(e.description + " (" + e.failureReason + ")");
    return false;
}

bool writeZoomTrackFile(const QString& path, const ZoomTrack& track) {
    // Written to a temporary file and renamed into place: a crash, a power cut or a full disk
    // in the middle of an in-place write would leave a truncated track, and the movie would
    // then export without its zoom.
    QVariantList root;
    root.reserve(track.size());
    for (const ZoomEntry& entry : track) root.append(entry);
    QString error;
    const std::optional<QByteArray> xml = platform::PropertyList::toXml(root, &error);
    if (!xml || !writeSideFile(path, *xml, &error)) {
        qCWarning(lcStore) << "cannot write zoom track" << path << error;
        return false;
    }
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
    QVariantList root;
    for (const ZoomEntry& entry : track) root.append(entry);
    const std::optional<QByteArray> xml = platform::PropertyList::toXml(root, &problem);
    if (!xml) return fail(error, QStringLiteral("the new zoom cannot be stored: %1").arg(problem));
    const std::optional<QByteArray> old = readSideFile(current, &problem);
    if (!problem.isEmpty()) return fail(error, problem);
    const std::optional<QByteArray> olderStill = readSideFile(earlier, &problem);
    if (old) {
        if (!writeSideFile(earlier, *old, &problem))
            return fail(error, QStringLiteral("cannot keep the earlier zoom of %1: %2").arg(name, problem));
    } else if (olderStill) {
        // Left by an earlier movie of this name: it is no version of this movie's zoom.
        QFile::remove(earlier);
    }
    if (!writeSideFile(current, *xml, &problem)) {
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
    track.reserve(list.size());
    for (const QVariant& element : list) {
        if (element.typeId() == QMetaType::QVariantMap) {
            track.append(element.toMap());
        } else {
            ZoomEntry marker;
            marker.insert(QLatin1String(kNotADictionaryKey), QString::fromLatin1(element.metaType().name()));
            track.append(marker);
        }
    }
    return track;
}

QString zoomTrackProblem(const ZoomTrack& track) {
    if (track.isEmpty()) return QStringLiteral("the zoom track has no entries");
    for (qsizetype i = 0; i < track.size(); ++i) {
        const ZoomEntry& entry = track[i];
        if (entry.contains(QLatin1String(kNotADictionaryKey)))
            return QStringLiteral("entry %1 is not a dictionary (%2)")
                .arg(i)
                .arg(entry.value(QLatin1String(kNotADictionaryKey)).toString());
        if (!entry.contains(QLatin1String(kZoomKey))) return QStringLiteral("entry %1 has no zoom").arg(i);
        if (!entry.contains(QLatin1String(kAtTimeKey))) return QStringLiteral("entry %1 has no time").arg(i);
        if (!isNumber(entry.value(QLatin1String(kZoomKey))))
            return QStringLiteral("entry %1: zoom is not a number").arg(i);
        if (!isNumber(entry.value(QLatin1String(kAtTimeKey))))
            return QStringLiteral("entry %1: time is not a number").arg(i);
        const float zoom = zoomOf(entry);
        // A float: a finite double beyond FLT_MAX becomes infinite when read as the factor.
        if (!std::isfinite(zoom) || !(zoom > 0.0f))
            return QStringLiteral("entry %1: zoom %2 is not a positive finite factor").arg(i).arg(double(zoom));
        const double t = atTimeOf(entry);
        if (!std::isfinite(t)) return QStringLiteral("entry %1: time %2 is not finite").arg(i).arg(t);
    }
    return QString();
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
    const QVariant orient = zooms->first().value(QLatin1String(kOrientKey));
    switch (orient.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt: return orient.toLongLong();
    case QMetaType::Double: {
        // A real too large for an integer would overflow the conversion.
        const double d = orient.toDouble();
        return std::isfinite(d) && std::fabs(d) < 9.0e18 ? qint64(d) : kNoRecordedOrientation;
    }
    default: return kNoRecordedOrientation;
    }
}
