// tavrio-cli info and thumbnail: what the library knows of a movie, and its thumbnail.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <cmath>

#include "Command.h"
#include "MovieInfo.h"
#include "MediaStore.h"
#include "VideoAssetsViewController.h"
#include "ZoomTrack.h"

namespace {

int usageError(const QString& message) {
    cli::err(message);
    return cli::kExitUsage;
}

int runInfo(const QStringList& arguments) {
    QStringList args = arguments;
    if (args.size() == 2 && args.first() == "--") args.removeFirst();  // a movie whose name starts with a dash
    if (args.size() != 1) return usageError("usage: tavrio-cli info MOVIE");
    const QString movie = args[0];
    QString problem;
    const auto info = MovieInfo::read(movie, &problem);
    if (!info) {
        cli::err(QStringLiteral("tavrio-cli: %1: %2").arg(movie, problem));
        return cli::kExitFailure;
    }
    const double seconds = info->seconds;
    cli::out(QStringLiteral("duration: %1").arg(durationText(seconds)));
    cli::out(std::isfinite(seconds) ? QStringLiteral("seconds: %1").arg(seconds, 0, 'f', 3)
                                    : QStringLiteral("seconds: unknown"));
    // The header's figure promises samples a cut-short file no longer holds.
    if (info->incomplete) cli::out(QStringLiteral("incomplete: the file ends before its last samples"));

    if (!info->video) {
        cli::out(QStringLiteral("video: none"));
    } else {
        const auto& v = *info->video;
        QString line = QStringLiteral("video: %1 %2x%3").arg(v.codec).arg(v.width).arg(v.height);
        if (v.shownWidth != v.width || v.shownHeight != v.height)
            line += QStringLiteral(" (shown %1x%2)").arg(v.shownWidth).arg(v.shownHeight);
        if (v.frameRate > 0) line += QStringLiteral(" %1 fps").arg(v.frameRate, 0, 'g', 3);
        cli::out(line);
        cli::out(QStringLiteral("rotation: %1").arg(v.rotationDegrees));
    }
    if (info->audio.empty()) {
        cli::out(QStringLiteral("audio: none"));
    } else {
        for (const auto& a : info->audio)
            cli::out(QStringLiteral("audio: %1 %2 Hz %3 ch").arg(a.codec).arg(a.sampleRate).arg(a.channels));
    }
    cli::out(QStringLiteral("orientation: %1").arg(info->recordedOrientation));
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
    QDir().mkpath(MediaStore::baseDirForThumbnails());
    QString reason;
    const QImage image = VideoAssetsViewController::generateThumbImageForVideo(movie, QSize(size, size), &reason);
    if (image.isNull()) {
        cli::err(QStringLiteral("tavrio-cli: %1: Format Not Supported: %2").arg(QFileInfo(movie).fileName(), reason));
        return cli::kExitFailure;
    }
    const QString path = MediaStore::thumbnailFilePath(movie);
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
