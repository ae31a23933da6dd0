// tavrio-cli info and thumbnail: what the library knows of a movie, and its thumbnail.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <cmath>
#include <cstdio>

#include "Command.h"
#include "TavrioCameraController.h"
#include "TavrioCaptureManager.h"
#include "VideoAssetsViewController.h"
#include "ZoomTrack.h"
#include "media/Asset.h"

namespace {

int usageError(const QString& message) {
    cli::err(message);
    return cli::kExitUsage;
}

// The angle, in degrees clockwise, by which a player turns the stored picture for display.
int displayRotationDegrees(const media::AffineTransform& t) {
    double degrees = std::atan2(static_cast<double>(t.b), static_cast<double>(t.a)) * 180.0 / M_PI;
    int rounded = static_cast<int>(std::lround(degrees));
    return rounded == -180 ? 180 : rounded;
}

int runInfo(const QStringList& arguments) {
    QStringList args = arguments;
    if (args.size() == 2 && args.first() == "--") args.removeFirst();  // a movie whose name starts with a dash
    if (args.size() != 1) return usageError("usage: tavrio-cli info MOVIE");
    const QString movie = args[0];
    media::Error error;
    auto asset = media::Asset::open(movie.toStdString(), &error);
    if (!asset) {
        std::fprintf(stderr, "tavrio-cli: %s: %s%s%s\n", qPrintable(movie), error.description.c_str(),
                     error.failureReason.empty() ? "" : ": ", error.failureReason.c_str());
        return 1;
    }
    const double seconds = asset->duration().seconds();
    std::printf("duration: %s\n", qPrintable(durationText(seconds)));
    if (std::isfinite(seconds))
        std::printf("seconds: %.3f\n", seconds);
    else
        std::printf("seconds: unknown\n");

    auto video = asset->tracksWithMediaType(media::MediaType::Video);
    if (video.empty()) {
        std::printf("video: none\n");
    } else {
        const auto& v = video.front();
        std::printf("video: %s %dx%d", v.codecName.c_str(), static_cast<int>(v.naturalSize.width),
                    static_cast<int>(v.naturalSize.height));
        if (v.nominalFrameRate > 0) std::printf(" %.3g fps", v.nominalFrameRate);
        std::printf("\n");
        std::printf("rotation: %d\n", displayRotationDegrees(v.preferredTransform));
    }
    auto audio = asset->tracksWithMediaType(media::MediaType::Audio);
    if (audio.empty()) {
        std::printf("audio: none\n");
    } else {
        for (const auto& a : audio)
            std::printf("audio: %s %d Hz %d ch\n", a.codecName.c_str(), a.sampleRate, a.channelCount);
    }
    const auto zooms = TavrioCameraController::zoomsForVideoFile(movie);
    std::printf("orientation: %lld\n", static_cast<long long>(TavrioCameraController::videoOrientationForZooms(zooms)));
    return 0;
}

int runThumbnail(const QStringList& args) {
    QString movie;
    int size = 70;  // the library list's row picture
    bool namesOnly = false;  // after "--", a name may start with a dash
    for (int i = 0; i < args.size(); ++i) {
        if (!namesOnly && args[i] == "--") {
            namesOnly = true;
        } else if (!namesOnly && args[i] == "--size") {
            bool ok = false;
            size = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || size < 1 || size > 8192) return usageError("--size takes a whole number of pixels, 1 to 8192");
        } else if (!namesOnly && args[i].startsWith("-")) {
            return usageError(QStringLiteral("unknown option %1").arg(args[i]));
        } else if (movie.isEmpty()) {
            movie = args[i];
        } else {
            return usageError("thumbnail takes one movie");
        }
    }
    if (movie.isEmpty()) return usageError("usage: tavrio-cli thumbnail MOVIE [--size N]");
    if (!QFileInfo(movie).isFile()) {
        std::fprintf(stderr, "tavrio-cli: %s: no such movie\n", qPrintable(movie));
        return 1;
    }
    // As the library does when it opens: it is the one that makes the thumbnails folder.
    QDir().mkpath(TavrioCaptureManager::baseDirForThumbnails());
    const QImage image = VideoAssetsViewController::generateThumbImageForVideo(movie, QSize(size, size));
    if (image.isNull()) {
        std::fprintf(stderr, "tavrio-cli: %s: Format Not Supported\n", qPrintable(QFileInfo(movie).fileName()));
        return 1;
    }
    const QString path = QDir(TavrioCaptureManager::baseDirForThumbnails()).filePath(QFileInfo(movie).fileName() + ".jpeg");
    if (!VideoAssetsViewController::writeThumbnailFile(image, path)) {
        std::fprintf(stderr, "tavrio-cli: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    return 0;
}

}  // namespace

TAVRIO_CLI_COMMAND(info, "info", "MOVIE", "duration, tracks, display rotation and recorded orientation", runInfo);
TAVRIO_CLI_COMMAND(thumbnail, "thumbnail", "MOVIE [--size N]", "make the library thumbnail and duration file", runThumbnail);
