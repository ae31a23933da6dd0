// Damaged zoom tracks and damaged movies through the code that reads them: the zoom track reader
// and the export job's segments and compositions, Asset, the first-frame image maker and, for
// some movies, a whole export. Every input must end without a crash and within a generous time
// limit, and whatever succeeds must be sound: a usable track has only finite, positive factors
// and its segments cover the movie; an opened movie has a sane duration; a picture fits its box;
// a completed export is a movie that opens, and a failed one leaves nothing behind.
//
// Deterministic: input i of a run with seed S is always the same. A failure prints the seed and
// the input's number and leaves the input on disk; `fuzz_readers --seed S --first i --count 1`
// runs just that input again (--tracks N / --movies N set the two counts apart).
// TAVRIO_FUZZ_SCALE=N (or --scale N) runs N times as many inputs.

#include "ZoomTrack.h"
#include "MediaStore.h"
#include "TavrioExportController.h"
#include "ZoomTrack.h"
#include "media/Asset.h"
#include "media/ExportSession.h"
#include "media/ImageGenerator.h"
#include "media/LibraryLog.h"
#include "support/TestPattern.h"
#include "platform/AlertService.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------------
// Reporting: which input is running, for the crash handler and the watchdog.

char gCurrent[1024] = "starting";
std::atomic<int64_t> gDeadline{0};  // steady-clock ms; 0 when idle
int gFailures = 0;

// What the inputs came to, so that a run shows it reached past the first refusal.
struct Tally {
    int usableTracks = 0, zoomedTracks = 0, openedMovies = 0, pictures = 0, exportsCompleted = 0, exportsFailed = 0;
} gTally;

void setCurrent(const std::string& label, int limitSeconds) {
    std::snprintf(gCurrent, sizeof gCurrent, "%s\n", label.c_str());
    const auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    gDeadline = now + int64_t(limitSeconds) * 1000;
}

void onCrash(int sig) {
    const char head[] = "\nfuzz_readers: crashed on ";
    (void)!write(2, head, sizeof head - 1);
    (void)!write(2, gCurrent, std::strlen(gCurrent));
    signal(sig, SIG_DFL);
    raise(sig);
}

void watchdog() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int64_t deadline = gDeadline;
        const auto now =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
        if (deadline > 0 && now > deadline) {
            const char head[] = "\nfuzz_readers: no end within the time limit (a hang) on ";
            (void)!write(2, head, sizeof head - 1);
            (void)!write(2, gCurrent, std::strlen(gCurrent));
            _exit(3);
        }
    }
}

void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_readers: %s on %s", what.c_str(), gCurrent);
    ++gFailures;
}

// ---------------------------------------------------------------------------------------------
// Inputs

struct Rng {
    uint64_t s;
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n ? size_t(next() % n) : 0; }
};

std::string mutateBytes(std::string data, Rng& r) {
    static const uint32_t boundaries[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    const int n = 1 + int(r.below(6));
    for (int k = 0; k < n; ++k) {
        const size_t size = data.size();
        switch (r.below(7)) {
        case 0:  // a flipped bit
            if (size) data[r.below(size)] ^= char(1 << r.below(8));
            break;
        case 1:  // a random byte
            if (size) data[r.below(size)] = char(r.next());
            break;
        case 2:  // a boundary value in a (big-endian) size or count field
            if (size >= 4) {
                const size_t at = r.below(size - 3);
                const uint32_t v = boundaries[r.below(std::size(boundaries))];
                for (int b = 0; b < 4; ++b) data[at + b] = char(v >> (24 - 8 * b));
            }
            break;
        case 3:  // cut short
            data.resize(r.below(size + 1));
            break;
        case 4:  // a piece missing
            if (size) {
                const size_t at = r.below(size);
                data.erase(at, r.below(std::min<size_t>(size - at, 4096)) + 1);
            }
            break;
        case 5:  // a piece repeated
            if (size) {
                const size_t at = r.below(size);
                const std::string piece = data.substr(at, r.below(std::min<size_t>(size - at, 2048)) + 1);
                data.insert(r.below(size + 1), piece);
            }
            break;
        default:  // noise inserted
        {
            std::string noise(r.below(64) + 1, '\0');
            for (char& c : noise) c = char(r.next());
            data.insert(r.below(size + 1), noise);
        }
        }
    }
    return data;
}

// Property-list text edits that reach past the parser into the values.
std::string mutateTrackText(std::string xml, Rng& r) {
    static const char* numbers[] = {"nan",
                                    "-nan",
                                    "inf",
                                    "-inf",
                                    "1e309",
                                    "-1e309",
                                    "0",
                                    "-0",
                                    "0.5",
                                    "1e-30",
                                    "-5",
                                    "3.0000001",
                                    "99999999999999999999",
                                    "4.9e-324",
                                    "",
                                    "x",
                                    "2.99"};
    static const char* tags[] = {"real", "integer", "string", "true/", "date", "data", "dict", "array"};
    const int n = 1 + int(r.below(4));
    for (int k = 0; k < n; ++k) {
        switch (r.below(4)) {
        case 0: {  // a number's text replaced
            size_t at = xml.find("<real>", r.below(xml.size() + 1));
            if (at == std::string::npos) at = xml.find("<real>");
            if (at == std::string::npos) break;
            const size_t from = at + 6, to = xml.find('<', from);
            if (to != std::string::npos) xml.replace(from, to - from, numbers[r.below(std::size(numbers))]);
            break;
        }
        case 1: {  // an element's type changed
            size_t at = xml.find("<real>", r.below(xml.size() + 1));
            if (at == std::string::npos) break;
            const std::string tag = tags[r.below(std::size(tags))];
            const size_t end = xml.find("</real>", at);
            if (end == std::string::npos) break;
            xml.replace(end, 7, "</" + tag.substr(0, tag.find('/')) + ">");
            xml.replace(at, 6, "<" + tag.substr(0, tag.find('/')) + ">");
            break;
        }
        case 2: {  // a key renamed or an entry dropped
            const char* keys[] = {"<key>zoom</key>", "<key>atTime</key>", "<key>orient</key>", "<dict>"};
            const std::string key = keys[r.below(std::size(keys))];
            const size_t at = xml.find(key, r.below(xml.size() + 1));
            if (at != std::string::npos) xml.replace(at, key.size(), r.below(2) ? "<key>other</key>" : "");
            break;
        }
        default: xml = mutateBytes(xml, r);
        }
    }
    return xml;
}

ZoomTrack randomTrack(Rng& r) {
    ZoomTrack t;
    const int n = 1 + int(r.below(r.below(4) == 0 ? 400 : 12));
    double at = 0;
    for (int i = 0; i < n; ++i) {
        // Mostly the slider's range; now and then a factor no slider makes, or a time that
        // goes backwards or repeats.
        const float z = r.below(10) ? 1.0f + float(r.below(2001)) / 1000.0f : float(r.below(100000) + 1) / 10000.0f;
        const double step = double(r.below(1000)) / 997.0 * (r.below(8) == 0 ? 1e-6 : 1.0);
        if (i == 0) {
            t.entries.push_back({z, r.below(20) ? 0.0 : 5.0});
            t.orient = r.below(2) ? 1 : 3;
        } else
            t.entries.push_back({z, at += r.below(15) ? step : -step});
    }
    return t;
}

std::string fileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void putFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// ---------------------------------------------------------------------------------------------
// Checks

void checkTrack(const QString& moviePath, double movieSeconds) {
    const std::optional<ZoomTrack> track = zoomsForVideoFile(moviePath);
    (void)videoOrientationForZooms(track);
    if (track && zoomTrackProblem(*track).isEmpty()) {
        ++gTally.usableTracks;
        for (const media::ZoomEntry& e : *track)
            if (!std::isfinite(e.zoom) || !(e.zoom > 0) || !std::isfinite(e.atTime))
                fail("a track called usable holds a bad entry");
    }
    TavrioExportController job(moviePath);
    const auto& segments = job.zoomCurve()->segments();
    if (segments.size() > 1) ++gTally.zoomedTracks;
    if (!segments.empty()) {
        media::Time expectedStart = media::Time::zero();
        for (const auto& s : segments) {
            if (!(s.fromZoom >= media::ZoomCurve::kMinZoom && s.fromZoom <= media::ZoomCurve::kMaxZoom &&
                  s.toZoom >= media::ZoomCurve::kMinZoom && s.toZoom <= media::ZoomCurve::kMaxZoom))
                fail("a segment zooms outside 1 to 3");
            if (s.range.isEmpty() || s.range.start != expectedStart) fail("segments leave a gap or overlap");
            expectedStart = s.range.end();
        }
        if (std::fabs(expectedStart.seconds() - movieSeconds) > 1e-6) fail("segments do not reach the movie's end");
    }
    if (auto composition = job.zoomCompositionForPreview()) {
        for (double t : {0.0, movieSeconds / 3, movieSeconds - 0.01}) {
            const media::AffineTransform m = composition->transformAt(media::Time::fromSeconds(t, 600));
            if (!m.isFinite() || m.determinant() == 0) fail("a zoom transform is not finite or flattens the picture");
        }
    }
}

bool hasTemporaries(const fs::path& dir) {
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(".out", 0) == 0) return true;
    return false;
}

void checkMovie(const fs::path& path, bool exportIt, const fs::path& out, bool passthrough) {
    media::Error error;
    auto asset = media::Asset::open(path.string(), &error);
    if (!asset) {
        if (!error.isError()) fail("a movie that cannot be opened gives no reason");
    } else {
        ++gTally.openedMovies;
        const media::Time d = asset->duration();
        if (d.isValid() && !(std::isfinite(d.seconds()) && d.seconds() >= 0))
            fail("an opened movie has a bad duration");
        for (const auto& t : asset->tracks())
            if (t.naturalSize.width < 0 || t.naturalSize.height < 0) fail("a track has a bad picture size");
    }
    media::ImageGenerator generator(path.string());
    generator.setMaximumSize({64, 64});
    generator.setAppliesPreferredTrackTransform(true);
    media::Error imageError;
    const media::RgbImage image = generator.copyFirstImage(&imageError);
    if (image.isNull()) {
        if (!imageError.isError()) fail("no picture and no reason");
    } else if (++gTally.pictures, image.width > 64 || image.height > 64 || image.stride < 3 * image.width ||
                                      image.bytes.size() < size_t(image.stride) * size_t(image.height)) {
        fail("a picture does not fit its box or its buffer");
    }
    if (!exportIt || !asset) return;
    media::ExportSession session(asset,
                                 passthrough ? media::ExportPreset::Passthrough : media::ExportPreset::MediumQuality);
    session.setOutputPath(out.string());
    const auto status = session.exportAndWait();
    if (status == media::ExportSession::Status::Completed) {
        ++gTally.exportsCompleted;
        media::Error e;
        auto result = media::Asset::open(out.string(), &e);
        if (!result)
            fail("a completed export does not open: " + e.description + " " + e.failureReason);
        else if (result->tracks().empty())
            fail("a completed export has no track");
        fs::remove(out);
    } else {
        ++gTally.exportsFailed;
        if (!session.error().isError()) fail("a failed export gives no reason");
        if (fs::exists(out)) fail("a failed export left a file under its name");
    }
    if (hasTemporaries(out.parent_path())) fail("an export left its temporary behind");
}

int intArg(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    for (int sig : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) signal(sig, onCrash);
    std::thread(watchdog).detach();
    media::setLibraryLogLevel(media::LibraryLogLevel::Quiet);
    QCoreApplication app(argc, argv);
    // The readers log every damaged input they refuse; thousands of such lines are noise here.
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    platform::AlertService::setPresenter([](const platform::Alert& a) {
        if (a.dismissed) a.dismissed(0);
    });

    int scale = std::max(1, qEnvironmentVariableIntValue("TAVRIO_FUZZ_SCALE"));
    scale = std::max(1, intArg(argc, argv, "--scale", scale));
    const uint64_t seed = uint64_t(intArg(argc, argv, "--seed", 20261207));
    const int first = intArg(argc, argv, "--first", 0);
    const int trackCount = intArg(argc, argv, "--tracks", intArg(argc, argv, "--count", 5000 * scale));
    const int movieCount = intArg(argc, argv, "--movies", intArg(argc, argv, "--count", 2500 * scale));
    const int exportEvery = 25;

    testsupport::TempHome home;
    const fs::path work = home.path() / "work";
    fs::create_directories(work);

    // The movie the tracks belong to: 2 s at 30 fps, small.
    const QString recording = MediaStore::filePathForRecording();
    media::testpattern::MovieOptions options;
    options.writer.width = 96;
    options.writer.height = 64;
    options.frameCount = 60;
    media::Error error;
    if (!media::testpattern::makeMovie(recording.toStdString(), options, &error)) {
        std::fprintf(stderr, "fuzz_readers: cannot make the movie: %s\n", error.description.c_str());
        return 1;
    }
    const QString trackPath = MediaStore::zoomsArchiveFilePath(QStringLiteral("Out.mov"));

    // Tracks start from what the writer makes; movies from what the engine makes and the small
    // real files beside the checkout.
    std::vector<std::string> movieSeeds;
    {
        media::testpattern::MovieOptions o;
        o.writer.width = 64;
        o.writer.height = 48;
        o.frameCount = 8;
        o.writer.audioCodec = media::AudioCodec::Aac;
        const fs::path p = work / "seed.mov";
        for (int variant = 0; variant < 3; ++variant) {
            if (variant == 1) o.writer.displayMatrix = media::AffineTransform::makeRotation(float(M_PI / 2));
            if (variant == 2) {
                // A width that is no multiple of a SIMD block, as damaged files often claim.
                o.writer.width = 58;
                o.writer.height = 6;
            }
            fs::remove(p);
            if (media::testpattern::makeMovie(p.string(), o, &error)) movieSeeds.push_back(fileBytes(p));
        }
        movieSeeds.push_back(fileBytes(recording.toStdString()));
        fs::remove(p);
        const fs::path shared = testsupport::sharedMedia("");
        if (!shared.empty() && fs::exists(shared))
            for (const auto& e : fs::directory_iterator(shared))
                if (e.is_regular_file() && e.path().extension() != ".md" && e.file_size() <= 100000)
                    movieSeeds.push_back(fileBytes(e.path()));
    }

    std::fprintf(stderr, "fuzz_readers: seed %llu, %d tracks and %d movies (%zu movie seeds)\n",
                 static_cast<unsigned long long>(seed), trackCount, movieCount, movieSeeds.size());

    for (int i = first; i < first + trackCount; ++i) {
        Rng r{seed * 1000003 + uint64_t(i)};
        const ZoomTrack base = randomTrack(r);
        QFile::remove(trackPath);
        if (!writeZoomTrackFile(trackPath, base)) {
            fail("the writer could not store a track");
            continue;
        }
        const std::string xml = fileBytes(trackPath.toStdString());
        const size_t how = r.below(6);  // as written, edited as text, or damaged as bytes
        if (how > 0) putFile(trackPath.toStdString(), how < 4 ? mutateTrackText(xml, r) : mutateBytes(xml, r));
        setCurrent("track " + std::to_string(i) + " (seed " + std::to_string(seed) + ", input in " +
                       trackPath.toStdString() + ")",
                   30);
        checkTrack(recording, 2.0);
        gDeadline = 0;
        if (gFailures) break;
    }

    const fs::path movie = work / "movie.mov";
    for (int i = first; i < first + movieCount && !gFailures; ++i) {
        Rng r{seed * 7919 + uint64_t(i) * 31 + 17};
        const std::string& base = movieSeeds[r.below(movieSeeds.size())];
        putFile(movie, r.below(16) == 0 ? base : mutateBytes(base, r));
        setCurrent(
            "movie " + std::to_string(i) + " (seed " + std::to_string(seed) + ", input in " + movie.string() + ")", 60);
        checkMovie(movie, i % exportEvery == 0, work / "out.mov", (i / exportEvery) % 2 == 1);
        gDeadline = 0;
    }

    if (gFailures) {
        std::fprintf(stderr, "fuzz_readers: FAILED; rerun with --seed %llu --first N --count 1\n",
                     static_cast<unsigned long long>(seed));
        // Keep the failing input where the message says it is.
        const fs::path keep = fs::current_path() / "fuzz-failure-input";
        std::error_code ec;
        fs::copy_file(fs::exists(movie) ? movie : fs::path(trackPath.toStdString()), keep,
                      fs::copy_options::overwrite_existing, ec);
        std::fprintf(stderr, "fuzz_readers: the input is copied to %s\n", keep.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "fuzz_readers: all inputs passed: %d usable tracks (%d zooming), %d movies opened, %d pictures, "
                 "%d exports completed and %d refused\n",
                 gTally.usableTracks, gTally.zoomedTracks, gTally.openedMovies, gTally.pictures,
                 gTally.exportsCompleted, gTally.exportsFailed);
    return 0;
}
