// tavrio-cli info and thumbnail: what the library knows of a movie, and its thumbnail.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <cmath>

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
        cli::err(QStringLiteral("tavrio-cli: %1: %2%3%4")
                     .arg(movie, QString::fromStdString(error.description),
                          error.failureReason.empty() ? QString() : QStringLiteral(": "),
                          QString::fromStdString(error.failureReason)));
        return cli::kExitFailure;
    }
    const double seconds = asset->duration().seconds();
    cli::out(QStringLiteral("duration: %1").arg(durationText(seconds)));
    cli::out(std::isfinite(seconds) ? QStringLiteral("seconds: %1").arg(seconds, 0, 'f', 3)
                                    : QStringLiteral("seconds: unknown"));
    // The header's figure promises samples a cut-short file no longer holds.
    if (asset->isIncomplete()) cli::out(QStringLiteral("incomplete: the file ends before its last samples"));

    auto video = asset->tracksWithMediaType(media::MediaType::Video);
    if (video.empty()) {
        cli::out(QStringLiteral("video: none"));
    } else {
        const auto& v = video.front();
        QString line = QStringLiteral("video: %1 %2x%3")
                           .arg(QString::fromStdString(v.codecName))
                           .arg(v.naturalSize.width)
                           .arg(v.naturalSize.height);
        if (v.displaySize != v.naturalSize)
            line += QStringLiteral(" (shown %1x%2)")
                        .arg(v.displaySize.width)
                        .arg(v.displaySize.height);
        if (v.nominalFrameRate > 0) line += QStringLiteral(" %1 fps").arg(v.nominalFrameRate, 0, 'g', 3);
        cli::out(line);
        cli::out(QStringLiteral("rotation: %1").arg(displayRotationDegrees(v.preferredTransform)));
    }
    auto audio = asset->tracksWithMediaType(media::MediaType::Audio);
    if (audio.empty()) {
        cli::out(QStringLiteral("audio: none"));
    } else {
        for (const auto& a : audio)
            cli::out(QStringLiteral("audio: %1 %2 Hz %3 ch")
                         .arg(QString::fromStdString(a.codecName))
                         .arg(a.sampleRate)
                         .arg(a.channelCount));
    }
    const auto zooms = TavrioCameraController::zoomsForVideoFile(movie);
    cli::out(QStringLiteral("orientation: %1").arg(TavrioCameraController::videoOrientationForZooms(zooms)));
    return cli::kExitOk;
}

int runThumbnail(const QStringList& args) {
    QString movie;
    int size = 70;           // the library list's row picture
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
        cli::err(QStringLiteral("tavrio-cli: %1: no such movie").arg(movie));
        return cli::kExitFailure;
    }
    // As the library does when it opens: it is the one that makes the thumbnails folder.
    QDir().mkpath(TavrioCaptureManager::baseDirForThumbnails());
    QString reason;
    const QImage image = VideoAssetsViewController::generateThumbImageForVideo(movie, QSize(size, size), &reason);
    if (image.isNull()) {
        cli::err(QStringLiteral("tavrio-cli: %1: Format Not Supported: %2").arg(QFileInfo(movie).fileName(), reason));
        return cli::kExitFailure;
    }
    const QString path =
        QDir(TavrioCaptureManager::baseDirForThumbnails()).filePath(QFileInfo(movie).fileName() + ".jpeg");
    if (!VideoAssetsViewController::writeThumbnailFile(image, path)) {
        cli::err(QStringLiteral("tavrio-cli: cannot write %1").arg(path));
        return cli::kExitFailure;
    }
    cli::out(path);
    return cli::kExitOk;
}

}  // namespace

TAVRIO_CLI_COMMAND(info, "info", "MOVIE", "duration, tracks, display rotation and recorded orientation", runInfo);
TAVRIO_CLI_COMMAND(thumbnail, "thumbnail", "MOVIE [--size N]", "make the library thumbnail and duration file",
                   runThumbnail);
