#include "TavrioCameraController.h"

#include "Settings.h"
#include "TavrioCaptureManager.h"

#include "media/CapturePresets.h"
#include "media/Asset.h"
#include "media/ExportPresets.h"
#include "media/ExportSession.h"
#include "platform/Defaults.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

TavrioCameraController::TavrioCameraController(QObject* parent) : QObject(parent) {}

TavrioCameraController::~TavrioCameraController() = default;

bool TavrioCameraController::backupData(const QString& movieFileName) {
    if (!mZooms) return false;
    return writeZoomTrackFile(TavrioCaptureManager::zoomsArchiveFilePath(movieFileName), *mZooms);
}

std::optional<ZoomTrack> TavrioCameraController::zoomsForVideoFile(const QString& moviePath) {
    const QString name = QFileInfo(moviePath).fileName();
    return readZoomTrackFile(TavrioCaptureManager::zoomsArchiveFilePath(name));
}

qint64 TavrioCameraController::videoOrientationForZooms(const std::optional<ZoomTrack>& zooms) {
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

QString TavrioCameraController::getSessionPresetFromSettings() const {
    const qint64 value = platform::Defaults::standard().integerForKey(QLatin1String(settings::kResolutionOpt));
    return QLatin1String(settings::optionForValue(settings::resolutionOptions(), value).preset);
}

std::string TavrioCameraController::getExportPresetFromSettings(const media::Asset* asset) {
    return exportPresetForOption(platform::Defaults::standard().integerForKey(QLatin1String(settings::kExportOpt)),
                                 asset);
}

std::string TavrioCameraController::exportPresetForOption(qint64 option, const media::Asset* asset) {
    const std::string preset = settings::optionForValue(settings::exportOptions(), option).preset;
    if (preset == media::kExportPresetHighestQuality || preset == media::kExportPresetMediumQuality) return preset;
    if (!asset) return media::kExportPresetMediumQuality;
    // A boxed preset the picture does not fill gives the next smaller box it fills, never less
    // than the worse choices give.
    const auto video = asset->tracksWithMediaType(media::MediaType::Video);
    if (video.empty()) return media::kExportPresetMediumQuality;
    return media::exportPresetForSource(preset, video.front().naturalSize);
}

QString TavrioCameraController::exportSizesText(int width, int height) {
    QStringList parts;
    for (const settings::Option& o : settings::exportOptions()) {
        const media::Size size = media::exportOutputSize(o.preset, {width, height});
        parts << QStringLiteral("%1 %2x%3").arg(o.detailLabel).arg(size.width).arg(size.height);
    }
    return parts.join(QStringLiteral(", "));
}
