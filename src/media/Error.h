#pragma once
// The engine's one error type: what went wrong, why, and what the user can do about it.

#include <string>

namespace media {

struct Error {
    int code = 0;  // an FFmpeg AVERROR or errno-style code; 0 for none
    std::string description;
    std::string failureReason;
    std::string recoverySuggestion;

    bool isError() const { return code != 0 || !description.empty(); }
    explicit operator bool() const { return isError(); }
};

// An Error from an FFmpeg return code, with the library's own text as the failure reason.
Error errorFromAv(int averror, std::string description, std::string recoverySuggestion = {});

}  // namespace media
