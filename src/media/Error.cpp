#include "media/Error.h"

extern "C" {
#include <libavutil/error.h>
}

namespace media {

Error errorFromAv(int averror, std::string description, std::string recoverySuggestion) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(averror, buf, sizeof buf);
    Error e;
    e.code = averror;
    e.description = std::move(description);
    e.failureReason = buf;
    e.recoverySuggestion = std::move(recoverySuggestion);
    return e;
}

}  // namespace media
