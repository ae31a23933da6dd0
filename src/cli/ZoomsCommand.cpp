#include "Command.h"

#include "ZoomTrack.h"

namespace {

int runZooms(const QStringList& arguments) {
    QStringList args = arguments;
    if (args.size() == 2 && args.first() == QLatin1String("--"))
        args.removeFirst();  // a movie whose name starts with a dash
    if (args.size() != 1) {
        cli::err(QStringLiteral("usage: tavrio-cli zooms MOVIE"));
        return cli::kExitUsage;
    }
    const QString& movie = args.first();
    const std::optional<ZoomTrack> track = zoomsForVideoFile(movie);
    if (!track) {
        cli::err(QStringLiteral("zooms: no zoom track for %1").arg(movie));
        return cli::kExitFailure;
    }
    cli::out(QStringLiteral("orient %1").arg(videoOrientationForZooms(track)));
    // Enough digits that the printed numbers read back to the same double and float.
    for (const ZoomEntry& entry : *track)
        cli::out(QString::asprintf("%.17g %.9g", atTimeOf(entry), double(zoomOf(entry))));
    const QString problem = zoomTrackProblem(*track);
    if (!problem.isEmpty()) {
        cli::err(QStringLiteral("zooms: the track of %1 is unusable: %2").arg(movie, problem));
        return cli::kExitFailure;
    }
    return cli::kExitOk;
}

}  // namespace

TAVRIO_CLI_COMMAND(zooms, "zooms", "MOVIE", "print a movie's zoom track (orient, then atTime zoom)", runZooms);
