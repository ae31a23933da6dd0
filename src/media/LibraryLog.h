#pragma once
// How chatty the FFmpeg libraries are on stderr. Front ends choose: the encoders' banners and
// the demuxers' notes are noise to a user, who hears of failures through the engine's errors.

namespace media {

enum class LibraryLogLevel { Quiet, Errors, Warnings, Verbose };

// Process-wide; call once at start-up, before engine threads run.
void setLibraryLogLevel(LibraryLogLevel level);

}  // namespace media
