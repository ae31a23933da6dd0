#pragma once
// A movie file, opened once to learn its tracks and exact timing. An Asset holds no open file:
// sessions that read samples open their own, so one Asset can be shared across threads.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/AffineTransform.h"
#include "media/Dispatch.h"
#include "media/Error.h"
#include "media/Time.h"
#include "media/VideoComposition.h"

namespace media {

enum class MediaType { Video, Audio, Other };

struct AssetTrack {
    int trackID = 0;       // the container's track id (tkhd), what compositions refer to
    int streamIndex = -1;  // position among the file's tracks
    MediaType mediaType = MediaType::Other;
    std::string codecName;  // FFmpeg's short name ("h264", "aac"); else the file's fourcc ("vvc1")
    // Stored pixel size (coded width x height). The sample aspect ratio is NOT applied: exports
    // and compositions work on stored pixels, and non-square sources keep their pixel grid.
    Size naturalSize;
    // Width over height of one stored pixel (1 for square pixels, also when the file says nothing).
    double pixelAspectRatio = 1;
    // The stored picture stretched by its pixel aspect ratio, before the display matrix: the size
    // a player shows it at. Equal to naturalSize for square pixels.
    Size displaySize;
    // The display matrix (identity when absent or all zero). Mirrored matrices are kept as is.
    AffineTransform preferredTransform;
    double nominalFrameRate = 0;  // frames per second; 0 when unknown
    TimeRange timeRange;          // on the movie's timeline; duration invalid when unknown
    int sampleRate = 0;           // audio only
    int channelCount = 0;         // audio only
    bool decodable = false;       // FFmpeg has a decoder for it
    bool samplesMissing = false;  // the file ends before the samples its index lists (cut short)
};

// A still picture's shown size: `stored` stretched horizontally by the pixel aspect ratio.
Size displaySizeFor(Size stored, double pixelAspectRatio);

class Asset {
public:
    // Opens and inspects the file; nullptr (and *error) when it is not a readable movie.
    static std::shared_ptr<Asset> open(const std::string& path, Error* error = nullptr);

    // Opens on a background thread; `completion` is handed to `dispatch`, which decides where it
    // runs (the app posts it to its main thread). Exactly one of asset / error is set.
    static void loadAsync(const std::string& path, Dispatch dispatch,
                          std::function<void(std::shared_ptr<Asset>, Error)> completion);

    const std::string& path() const { return path_; }
    // The movie's length as the container states it, made exact by taking the audio or video
    // track end (start + duration, or duration) that matches it within a millisecond; the
    // container's figure when none matches; the latest track end when the container has none;
    // invalid when nothing is known. Zero for a file without tracks. A container figure far
    // beyond the end of the samples the tracks list (a damaged header) gives way to that end,
    // as a player would play it.
    Time duration() const { return duration_; }
    // True when some audio or video track lacks samples its index lists (the file was cut short):
    // the duration is what the index promised, not what can be played.
    bool isIncomplete() const;
    std::vector<AssetTrack> tracks() const { return tracks_; }
    std::vector<AssetTrack> tracksWithMediaType(MediaType type) const;
    const AssetTrack* trackWithID(int trackID) const;

private:
    Asset() = default;
    std::string path_;
    Time duration_ = Time::invalid();
    std::vector<AssetTrack> tracks_;
};

}  // namespace media
