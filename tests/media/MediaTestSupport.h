#pragma once
// Movie helpers for the engine's tests: make small pattern movies, read every picture back.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/AffineTransform.h"
#include "media/ExportSession.h"
#include "support/TestPattern.h"
#include "media/Time.h"

namespace mediatest {

struct DecodedFrame {
    media::Time time;
    int width = 0, height = 0;
    int code = -1;  // the frame code read through the transform given to decodeFrames
};

// Every picture of the first video track in presentation order, with its frame code read
// through `sourceToOutput(time)` from a `sourceWidth` x `sourceHeight` pattern.
std::vector<DecodedFrame> decodeFrames(
    const std::string& path, int sourceWidth, int sourceHeight,
    const std::function<media::AffineTransform(const media::Time&)>& sourceToOutput = nullptr);

struct PacketInfo {
    media::Time pts, dts;  // on the track's own timescale, which a muxer may change
    std::string data;
};
// The packets of the n-th track of a type ("video"/"audio"), as stored, in file order.
std::vector<PacketInfo> readPackets(const std::string& path, bool video, int n = 0);

// A small pattern movie (320x240, 30 fps unless changed); fails the test on error.
media::testpattern::MovieOptions patternOptions(int frames, int width = 320, int height = 240);
void makePatternMovie(const std::string& path, const media::testpattern::MovieOptions& options);

// Runs an export to its end (cancelling it after a generous guard against hangs); counts the
// completion's calls into `completions` when given.
media::ExportSession::Status runExport(media::ExportSession& session,
                                       std::shared_ptr<std::atomic<int>> completions = nullptr);

// A composition over the whole movie zooming from `from` at its start to `to` at its end.
media::VideoComposition zoomComposition(media::Size size, media::Time duration, float from, float to,
                                        media::ResampleFilter filter = media::ResampleFilter::Bilinear);
// One that renders the pictures at `size` without any zoom.
media::VideoComposition plainComposition(media::Size size);

// A hash of the file's bytes, to tell that a source stayed untouched.
std::string fileDigest(const std::string& path);

}  // namespace mediatest
