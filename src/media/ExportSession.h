#pragma once
// Renders or re-wraps a movie into a new QuickTime file on engine threads.
//
// With a video composition every output frame k sits at k * frameDuration over [0, duration)
// and shows the source frame on screen at that time, transformed as the composition says.
// Without one, the source frames are re-encoded at their own times, scaled to the preset.
// Passthrough copies the compressed audio and video samples unchanged.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/AffineTransform.h"
#include "media/Asset.h"
#include "media/Error.h"
#include "media/ExportPresets.h"
#include "media/VideoComposition.h"

namespace media {

class ExportSession {
public:
    enum class Status : int { Unknown = 0, Waiting = 1, Exporting = 2, Completed = 3, Failed = 4, Cancelled = 5 };

    // HighestQuality, MediumQuality and Passthrough always; a boxed preset when the picture is at
    // least as large as its box. A movie without video gets HighestQuality, MediumQuality and
    // Passthrough.
    static std::vector<ExportPreset> exportPresetsCompatibleWithAsset(const Asset& asset);

    ExportSession(std::shared_ptr<const Asset> asset, ExportPreset preset);
    // Cancels a running export and waits for it to wind up (the completion still runs once).
    ~ExportSession();
    ExportSession(const ExportSession&) = delete;
    ExportSession& operator=(const ExportSession&) = delete;

    ExportPreset preset() const;
    std::shared_ptr<const Asset> asset() const;

    // The movie is written to a hidden temporary beside `path` and takes the name only once it
    // is complete; nothing ever stands under the name otherwise. An existing file there is never
    // overwritten: the export fails (EEXIST), unless a chooser names another path.
    void setOutputPath(std::string path);
    std::string outputPath() const;  // the name the movie took, once completed
    // When the output name is taken by the time the movie is complete (another program claimed
    // it meanwhile), the movie takes the name `next` returns instead, asked again until one is
    // free. It runs on an engine thread and may only look at the file system.
    void setOutputPathChooser(std::function<std::string()> next);
    void setOutputFileType(FileType fileType);
    FileType outputFileType() const;
    void setVideoComposition(std::optional<VideoComposition> composition);
    const std::optional<VideoComposition>& videoComposition() const;
    // The display matrix the output's video track carries with Passthrough (without it the
    // source's is kept). Re-encoding ignores it: with a composition the output carries the
    // identity (the composition decides the picture), without one the source's matrix.
    void setVideoTrackPreferredTransform(AffineTransform transform);

    // Starts the export once; `completion` runs exactly once on an engine thread after status()
    // is final (Completed, Failed or Cancelled). A second call is ignored.
    void exportAsynchronously(std::function<void()> completion);
    // Blocking convenience for tools and tests: exports and returns the final status.
    Status exportAndWait();
    // Blocks until a started export has ended and its completion has returned (at once when
    // none was started). Not from the completion itself.
    void waitUntilFinished();

    // Where a re-encoding export's time went, in seconds of each of its three threads' wall
    // time. Reader: reading and decoding (with the sound), waiting for room for a decoded
    // picture. Renderer: rendering, waiting for a decoded picture, waiting for room for a
    // rendered one. Encoder: encoding and writing the pictures, waiting for a rendered picture.
    // Final once status() is; zero for passthrough.
    struct Timings {
        double decode = 0, decoderWait = 0;
        double render = 0, rendererStarved = 0, rendererWait = 0;
        double encode = 0, encoderWait = 0;
    };
    Timings timings() const;

    // Thread-safe.
    Status status() const;
    float progress() const;  // 0..1 by output time
    Error error() const;     // set when status() is Failed
    void cancelExport();     // status Cancelled within a few frames; nothing is left on disk

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace media
