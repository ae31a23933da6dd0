#include "Command.h"

#include "ZoomTrack.h"

#include <cmath>

namespace {

constexpr char kSynopsis[] = "MOVIE [--set T:Z,... | --undo]";

QString usage() {
    return QStringLiteral("usage: tavrio-cli zooms %1").arg(QLatin1String(kSynopsis));
}

// "t:z,t:z,...": seconds from the start, finite, from 0 and each later than the one before; zoom
// factors within the slider's range. The first step is at time 0, where every track starts.
std::optional<std::vector<std::pair<double, float>>> parseTrack(const QString& text, QString* problem) {
    std::vector<std::pair<double, float>> steps;
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString& raw : items) {
        const QString item = raw.trimmed();
        const QStringList parts = item.split(QLatin1Char(':'));
        bool okT = false, okZ = false;
        const double t = parts.size() == 2 ? parts[0].toDouble(&okT) : 0;
        const double z = parts.size() == 2 ? parts[1].toDouble(&okZ) : 0;
        if (!okT || !okZ) {
            *problem = QStringLiteral("'%1' is not T:Z (seconds:factor)").arg(item);
            return std::nullopt;
        }
        if (!std::isfinite(t) || t < 0) {
            *problem = QStringLiteral("'%1': the time must be a finite number of seconds from 0").arg(item);
            return std::nullopt;
        }
        if (!(z >= media::ZoomCurve::kMinZoom && z <= media::ZoomCurve::kMaxZoom)) {
            *problem = QStringLiteral("'%1': the zoom must be from %2 to %3")
                           .arg(item)
                           .arg(double(media::ZoomCurve::kMinZoom), 0, 'f', 1)
                           .arg(double(media::ZoomCurve::kMaxZoom), 0, 'f', 1);
            return std::nullopt;
        }
        if (!steps.empty() && !(t > steps.back().first)) {
            *problem = QStringLiteral("'%1': each time must be later than the one before").arg(item);
            return std::nullopt;
        }
        if (steps.empty() && t != 0) {
            *problem = QStringLiteral("'%1': the first step must be at time 0").arg(item);
            return std::nullopt;
        }
        steps.emplace_back(t, float(z));
    }
    return steps;
}

int printTrack(const QString& movie) {
    const std::optional<ZoomTrack> track = zoomsForVideoFile(movie);
    if (!track) {
        cli::err(QStringLiteral("zooms: no zoom track for %1").arg(movie));
        return cli::kExitFailure;
    }
    cli::out(QStringLiteral("orient %1").arg(videoOrientationForZooms(track)));
    // Enough digits that the printed numbers read back to the same double and float.
    for (const media::ZoomEntry& entry : track->entries)
        cli::out(QString::asprintf("%.17g %.9g", entry.atTime, double(entry.zoom)));
    const QString problem = zoomTrackProblem(*track);
    if (!problem.isEmpty()) {
        cli::err(QStringLiteral("zooms: the track of %1 is unusable: %2").arg(movie, problem));
        return cli::kExitFailure;
    }
    return cli::kExitOk;
}

int runZooms(const QStringList& arguments) {
    QString movie, setText;
    bool set = false, undo = false, movieGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--") && i + 2 == arguments.size() && !movieGiven) {
            movie = arguments[++i];  // a movie whose name starts with a dash
            movieGiven = true;
        } else if (a == QLatin1String("--set") && i + 1 < arguments.size() && !set) {
            set = true;
            setText = arguments[++i];
        } else if (a == QLatin1String("--undo") && !undo) {
            undo = true;
        } else if (!a.startsWith(QLatin1Char('-')) && !movieGiven) {
            movie = a;
            movieGiven = true;
        } else {
            cli::err(usage());
            return cli::kExitUsage;
        }
    }
    if (!movieGiven || (set && undo)) {
        cli::err(usage());
        return cli::kExitUsage;
    }
    if (undo) {
        QString error;
        if (!restoreEarlierZoomTrack(movie, &error)) {
            cli::err(QStringLiteral("zooms: ") + error);
            return cli::kExitFailure;
        }
        return printTrack(movie);
    }
    if (!set) return printTrack(movie);

    QString problem;
    const auto steps = parseTrack(setText, &problem);
    if (!steps) {
        cli::err(QStringLiteral("zooms: --set: ") + problem);
        return cli::kExitUsage;
    }
    // The orientation the recording was made in stays with the movie, whatever zoom it gets.
    const qint64 orientation = videoOrientationForZooms(zoomsForVideoFile(movie));
    ZoomTrack track;
    track.orient = orientation;
    for (const auto& [t, z] : *steps) track.entries.push_back({z, t});
    QString error;
    if (!replaceZoomTrack(movie, track, &error)) {
        cli::err(QStringLiteral("zooms: ") + error);
        return cli::kExitFailure;
    }
    return printTrack(movie);
}

}  // namespace

TAVRIO_CLI_COMMAND(zooms, "zooms", kSynopsis,
                   "print a movie's zoom track (orient, then atTime zoom); --set writes one, --undo puts the "
                   "earlier one back",
                   runZooms);
