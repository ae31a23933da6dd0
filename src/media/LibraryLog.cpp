#include "media/LibraryLog.h"

extern "C" {
#include <libavutil/log.h>
}

namespace media {

void setLibraryLogLevel(LibraryLogLevel level) {
    switch (level) {
    case LibraryLogLevel::Quiet: av_log_set_level(AV_LOG_QUIET); break;
    case LibraryLogLevel::Errors: av_log_set_level(AV_LOG_ERROR); break;
    case LibraryLogLevel::Warnings: av_log_set_level(AV_LOG_WARNING); break;
    case LibraryLogLevel::Verbose: av_log_set_level(AV_LOG_VERBOSE); break;
    }
}

}  // namespace media
