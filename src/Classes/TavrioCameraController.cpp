#include "TavrioCameraController.h"

#include "Settings.h"
#include "TavrioCaptureManager.h"

#include "media/CapturePresets.h"
#include "platform/Defaults.h"

#include <QFileInfo>

#include <cmath>

TavrioCameraController::TavrioCameraController(QObject* parent) : QObject(parent) {}

TavrioCameraController::~TavrioCameraController() = default;

bool TavrioCameraController::backupData(const QString& movieFileName) {
    if (!mZooms)
        return false;
    return writeZoomTrackFile(TavrioCaptureManager::zoomsArchiveFilePath(movieFileName), *mZooms);
}

std::optional<ZoomTrack> TavrioCameraController::zoomsForVideoFile(const QString& moviePath) {
    const QString name = QFileInfo(moviePath).fileName();
    return readZoomTrackFile(TavrioCaptureManager::zoomsArchiveFilePath(name));
}

qint64 TavrioCameraController::videoOrientationForZooms(const std::optional<ZoomTrack>& zooms) {
    if (!zooms || zooms->isEmpty())
        return 0;
    const QVariant orient = zooms->first().value(QLatin1String(kOrientKey));
    switch (orient.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt:
        return orient.toLongLong();
    case QMetaType::Double:
        return std::isfinite(orient.toDouble()) ? qint64(orient.toDouble()) : 0;
    default:
        return 0;
    }
}

QString TavrioCameraController::getSessionPresetFromSettings() const {
    switch (platform::Defaults::standard().integerForKey(QLatin1String(settings::kResolutionOpt))) {
    case 1:
        return QLatin1String(media::kCapturePreset640x480);
    case 2:
        return QLatin1String(media::kCapturePresetMedium);
    case 3:
        return QLatin1String(media::kCapturePresetLow);
    default:
        return QLatin1String(media::kCapturePresetHigh);
    }
}
