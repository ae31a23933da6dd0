#include "MovieInfo.h"

#include "ZoomTrack.h"

#include "media/Asset.h"

#include <cmath>

namespace {

// The angle, in degrees clockwise, by which a player turns the stored picture for display.
int displayRotationDegrees(const media::AffineTransform& t) {
    const double degrees = std::atan2(static_cast<double>(t.b), static_cast<double>(t.a)) * 180.0 / M_PI;
    const int rounded = static_cast<int>(std::lround(degrees));
    return rounded == -180 ? 180 : rounded;
}

}  // namespace

std::optional<MovieInfo> MovieInfo::read(const QString& path, QString* problem) {
    media::Error error;
    auto asset = media::Asset::open(path.toStdString(), &error);
    if (!asset) {
        if (problem)
            *problem =
                QString::fromStdString(error.description) +
                (error.failureReason.empty() ? QString()
                                             : QStringLiteral(": ") + QString::fromStdString(error.failureReason));
        return std::nullopt;
    }
    MovieInfo info;
    info.seconds = asset->duration().seconds();
    info.incomplete = asset->isIncomplete();
    const auto video = asset->tracksWithMediaType(media::MediaType::Video);
    if (!video.empty()) {
        const auto& v = video.front();
        info.video = Video{QString::fromStdString(v.codecName),         static_cast<int>(v.naturalSize.width),
                           static_cast<int>(v.naturalSize.height),      static_cast<int>(v.displaySize.width),
                           static_cast<int>(v.displaySize.height),      v.nominalFrameRate,
                           displayRotationDegrees(v.preferredTransform)};
    }
    for (const auto& a : asset->tracksWithMediaType(media::MediaType::Audio))
        info.audio.push_back({QString::fromStdString(a.codecName), a.sampleRate, a.channelCount});
    info.recordedOrientation = videoOrientationForZooms(zoomsForVideoFile(path));
    return info;
}
