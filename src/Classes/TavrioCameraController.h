#pragma once
// The camera screen. This half holds the zoom track of the current or last recording and the
// operations that store and read tracks and settings; the screen itself is built elsewhere.

#include "ZoomTrack.h"

#include <QObject>
#include <QString>
#include <optional>
#include <string>

namespace media {
class Asset;
}

class TavrioCameraController : public QObject {
    Q_OBJECT
public:
    explicit TavrioCameraController(QObject* parent = nullptr);
    ~TavrioCameraController() override;

    // The track of the current or last recording; nullopt before the first recording.
    const std::optional<ZoomTrack>& zooms() const { return mZooms; }
    void setZooms(std::optional<ZoomTrack> zooms) { mZooms = std::move(zooms); }

    // Stores the current track as the zoom track of `movieFileName` (a file name, not a path).
    // Nothing is written when there is no track. Callers may ignore the result.
    bool backupData(const QString& movieFileName);

    // The zoom track stored for the movie at `moviePath`; nullopt when there is none or it is
    // not a property-list array.
    static std::optional<ZoomTrack> zoomsForVideoFile(const QString& moviePath);
    // What videoOrientationForZooms gives when no orientation was recorded (exports, old
    // tracks); recorded ones are media::VideoOrientation's values.
    static constexpr qint64 kNoRecordedOrientation = 0;
    // Entry 0's "orient"; kNoRecordedOrientation for a missing or empty track or an entry 0
    // without it.
    static qint64 videoOrientationForZooms(const std::optional<ZoomTrack>& zooms);

    // The capture preset of the "resolutionOpt" setting (High for any value outside 0-3).
    QString getSessionPresetFromSettings() const;

    // The export preset of the "exportOpt" setting for `asset`: Best for 0 and anything outside
    // 0-3; for 960x540 / 640x480 the largest of that box and the worse ones that the picture
    // fills (media::exportPresetForSource), else Medium; Medium for 3 whatever the asset.
    static std::string getExportPresetFromSettings(const media::Asset* asset);
    static std::string exportPresetForOption(qint64 option, const media::Asset* asset);
    // The picture each export choice gives a source picture of `width` x `height`, best choice
    // first: "Best 1280x720, Good 960x540, Average 640x360, Low 480x270".
    static QString exportSizesText(int width, int height);

protected:
    std::optional<ZoomTrack> mZooms;
};
