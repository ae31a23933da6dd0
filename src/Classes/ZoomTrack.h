#pragma once
// Zoom tracks and the two side files of a movie (".zooms.lkbx" and ".duration.lkbx").
//
// A track is a list of keyed entries in the order they were recorded:
//   "zoom"   the zoom factor, a float stored as its exact double value (1.0 = unzoomed)
//   "atTime" seconds since the recording began, double
//   "orient" the recording orientation, integer; entry 0 only
// On disk it is an XML property list whose root is an array of dictionaries.

#include <QString>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "media/VideoComposition.h"
#include "media/ZoomCurve.h"

namespace media {
class Asset;
class OutputFile;
}  // namespace media

inline constexpr char kZoomKey[] = "zoom";
inline constexpr char kAtTimeKey[] = "atTime";
inline constexpr char kOrientKey[] = "orient";

// A zoom track as the program holds it: the entries in the order they were recorded and the
// orientation entry 0 carries. Files are read into it and written from it here only.
struct ZoomTrack {
    ZoomTrack() = default;
    ZoomTrack(std::vector<media::ZoomEntry> entries, std::optional<qint64> orient = std::nullopt)
        : entries(std::move(entries)), orient(orient) {}

    std::vector<media::ZoomEntry> entries;
    // Entry 0's "orient" as the file has it; nullopt for a file without one (exports, old
    // tracks), which is written without one too.
    std::optional<qint64> orient;
    // What reading found that no entry can hold (an element that is not a dictionary, a key
    // missing or not a number), and the first entry it concerns; such an entry reads as NaN,
    // which no curve uses. Empty for a track made in memory.
    QString readProblem;
    qsizetype readProblemEntry = -1;

    bool isEmpty() const { return entries.empty(); }
    qsizetype size() const { return qsizetype(entries.size()); }
    const media::ZoomEntry& operator[](qsizetype i) const { return entries[size_t(i)]; }
    auto begin() const { return entries.begin(); }
    auto end() const { return entries.end(); }
    bool operator==(const ZoomTrack&) const = default;
};

// Writes a side file of the data folders atomically (hidden temporary, renamed into place): a
// crash leaves the old file or the new one, and a symbolic link planted at `path` is replaced,
// never written through. False with *error saying why.
bool writeSideFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Writes the track as an XML property list, atomically, as a stream: the track's text is never
// held whole. False when the folder is missing or not writable or the disk is full.
bool writeZoomTrackFile(const QString& path, const ZoomTrack& track);
// The track's file as bytes, exactly as writeZoomTrackFile writes it.
QByteArray zoomTrackFileBytes(const ZoomTrack& track);

// A track kept on disk while it grows (a recording's). Each store() writes the file again,
// atomically as writeZoomTrackFile does, with the entries given after the ones stored before.
// Those are not formatted again: their bytes are copied from the file this writer stored last,
// which it keeps open, by the kernel (or shared with it where the filesystem can). A store thus
// costs its new entries and a copy, never the whole track in memory. Entries whose store failed
// are kept and stored with the next store. Used from one thread at a time.
class ZoomTrackFileWriter {
public:
    ZoomTrackFileWriter(QString path, std::optional<qint64> orient);
    ~ZoomTrackFileWriter();
    ZoomTrackFileWriter(const ZoomTrackFileWriter&) = delete;
    ZoomTrackFileWriter& operator=(const ZoomTrackFileWriter&) = delete;

    // The file: what was stored, what a failed store left, then `entries`. With `anew` the file
    // holds only `entries` (the track changed before its end). False, the file as it was, with
    // *error saying why.
    bool store(std::span<const media::ZoomEntry> entries, bool anew = false, QString* error = nullptr);
    // Entries a failed store left, waiting for the next.
    bool hasUnstored() const { return !unstored_.empty(); }
    const QString& path() const { return path_; }

private:
    QString path_;
    std::optional<qint64> orient_;
    std::unique_ptr<media::OutputFile> last_;  // the file stored last, held open to copy from
    int64_t entriesEnd_ = 0;                   // where its closing tags begin
    size_t stored_ = 0;
    std::vector<media::ZoomEntry> unstored_;
};
// nullopt when the file is missing, is not a property list, or its root is not an array.
// Elements are read as they are; use zoomTrackProblem() before rendering with the result.
std::optional<ZoomTrack> readZoomTrackFile(const QString& path);

// The zoom track stored for the movie at `moviePath` (only its file name counts); nullopt when
// there is none or it is not a property-list array.
std::optional<ZoomTrack> zoomsForVideoFile(const QString& moviePath);
// What videoOrientationForZooms gives when no orientation was recorded (exports, old tracks);
// recorded ones are media::VideoOrientation's values.
inline constexpr qint64 kNoRecordedOrientation = 0;
// Entry 0's "orient"; kNoRecordedOrientation for a missing or empty track or an entry 0 without it.
qint64 videoOrientationForZooms(const std::optional<ZoomTrack>& zooms);

// Empty when every entry has a finite zoom > 0 and a finite time; otherwise says what is wrong
// (the first fault found). Times that go backwards are allowed.
QString zoomTrackProblem(const ZoomTrack& track);
// The zoom a movie `duration` long shows with this track, by the curve's rules; an unusable
// track is unzoomed.
std::shared_ptr<const media::ZoomCurve> zoomCurveFor(const ZoomTrack& track, const media::Time& duration);
// What the player renders for an opened movie: its pictures through `curve` in the export's ramp
// form. nullopt for a movie without pictures.
std::optional<media::VideoComposition> playbackComposition(const media::Asset& asset,
                                                           std::shared_ptr<const media::ZoomCurve> curve);

// A movie's zoom track replaced by a new one, and back. The track it replaces is kept, byte for
// byte, as the movie's one earlier version (MediaStore::earlierZoomsArchiveFilePath);
// only the movie's file name counts. Both files are written atomically, the earlier version
// first: a crash between leaves the old track in place. A movie without a track gets the new one
// and no earlier version. False with *error saying why, the files then as they were.
bool replaceZoomTrack(const QString& moviePath, const ZoomTrack& track, QString* error = nullptr);
bool hasEarlierZoomTrack(const QString& moviePath);
// Puts the earlier version back as the movie's track, byte for byte; the track it replaces is
// dropped and there is no earlier version afterwards (one step of undo, not a swap).
bool restoreEarlierZoomTrack(const QString& moviePath, QString* error = nullptr);

// A movie length as library text: "MM:SS", or "HH:MM:SS" from one hour on. Fields are
// truncated, never rounded (59.99 s is "00:59"). Empty for NaN or infinity.
QString durationText(double seconds);
// Writes durationText(seconds) (UTF-8, no BOM, no line end) to the movie's duration file,
// atomically. A non-finite duration writes nothing and keeps any earlier file (returns false).
bool writeDurationFile(const QString& movieFileName, double seconds);
// The duration file's whole text; empty when there is none.
QString readDurationFile(const QString& movieFileName);
