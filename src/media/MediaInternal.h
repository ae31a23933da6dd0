#pragma once
// Helpers shared by the engine's own sources; not part of the public interface.

#include <optional>
#include <string>

#include "media/AffineTransform.h"
#include "media/Error.h"
#include "media/FFmpeg.h"
#include "media/Time.h"

namespace media::internal {

// A timestamp on an FFmpeg time base as an exact media time; invalid for AV_NOPTS_VALUE.
Time timeFromAv(int64_t value, AVRational tb);

// avformat_open_input for a local regular file only: the path made absolute, the protocols
// limited to "file" (a name like "http:x.mov" is a file, never a URL). `options` are the
// demuxer's, as avformat_open_input takes them.
Error openLocalFile(const std::string& path, AVFormatContext** ctx, const AVInputFormat* format = nullptr,
                    AVDictionary** options = nullptr);

// Opens a movie and reads its stream parameters; an Error with the user-facing texts on failure.
Error openInput(const std::string& path, av::InputContext& out);

// True when the file ends before the samples its index lists: the movie was cut short.
bool streamIsTruncated(AVFormatContext* ctx, AVStream* st);

// The stream's display matrix when it has a usable one (finite, not flattening the picture).
std::optional<AffineTransform> streamDisplayMatrix(const AVStream* st);
// Gives an output stream a display matrix; false when out of memory.
bool setStreamDisplayMatrix(AVStream* st, const AffineTransform& t);

// The instruction sets the bilinear renderer's kernels are written for. The renderer uses the
// widest the processor has, up to a cap that tests lower to check that every path gives the same
// bytes. Returns the previous cap.
enum class RendererIsa { Portable, Sse41, Avx2 };
RendererIsa capRendererIsa(RendererIsa cap);

}  // namespace media::internal
