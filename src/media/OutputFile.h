#pragma once
// Files written where the user's movies and side files live, so that nothing is lost or
// clobbered: never half a file under a final name, never a write through a symbolic link, never
// a file replaced or removed that this program did not make.
//
// An OutputFile is a hidden temporary beside the final name, ".NAME.XXXXXX.partial", created
// exclusively (a link or file already there is never opened) and held under an flock while this
// object lives. The lock is how another process tells a live temporary from one a killed program
// left behind: create() removes those of dead writers in the folder before making its own.
// commit() gives the temporary its final name, either claiming a free name (an existing file,
// link included, is never replaced) or replacing what is there (a symbolic link at the final name
// is replaced itself, never followed). Dropped without a commit, the temporary is removed.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "media/Error.h"

struct AVIOContext;

namespace media {

class OutputFile {
public:
    enum class Commit { ClaimFree, Replace };

    // Creates the temporary for `finalPath` in the same folder. nullptr (and *error) when the
    // folder is missing or not writable.
    static std::unique_ptr<OutputFile> create(const std::string& finalPath, Error* error = nullptr);
    ~OutputFile();  // removes the temporary unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    const std::string& temporaryPath() const { return temp_; }
    const std::string& finalPath() const { return final_; }
    bool isCommitted() const { return committed_; }

    // Writes all of `data` at the current end; false (and *error) on a short write.
    bool write(const void* data, size_t size, Error* error = nullptr);
    // Appends the first `length` bytes of the file open at `sourceFd` (another OutputFile's, say)
    // at the current end. The kernel copies them, sharing the blocks where the filesystem can, so
    // no copy passes through this process. False (and *error) on a short copy.
    bool copyFrom(int sourceFd, int64_t length, Error* error = nullptr);
    // A seekable read/write I/O context on the temporary for FFmpeg's muxers (owned here; set it
    // as the muxer's pb with AVFMT_FLAG_CUSTOM_IO and clear pb before freeing the muxer).
    AVIOContext* avio();

    // Flushes the data to disk and gives the file its final name. With ClaimFree a taken name
    // fails with EEXIST, and then, when `nextName` is given, the names it returns are tried in
    // turn (an empty one gives up). finalPath() is the name taken. After a failure the
    // temporary is still there, uncommitted.
    bool commit(Commit mode, Error* error = nullptr, const std::function<std::string()>& nextName = {});

    // Removes the temporaries in `folder` whose writers are gone (also the ".NAME.finishing"
    // files older recorders left); returns how many.
    static int removeStaleTemporaries(const std::string& folder);
    static bool isTemporaryName(const std::string& fileName);

private:
    OutputFile() = default;
    bool flushAvio(Error* error);

    int fd_ = -1;
    std::string temp_;
    std::string final_;
    bool committed_ = false;
    AVIOContext* avio_ = nullptr;
    int64_t pos_ = 0;
    int64_t end_ = 0;
    int ioError_ = 0;

    static int avioRead(void* opaque, uint8_t* buf, int size);
    static int avioWrite(void* opaque, uint8_t* buf, int size);
    static int64_t avioSeek(void* opaque, int64_t offset, int whence);
};

// Writes `size` bytes to `path` atomically through an OutputFile, replacing what is there: a
// crash leaves the old contents or the new, and a symbolic link at `path` is replaced, not
// followed.
bool replaceFileContents(const std::string& path, const void* data, size_t size, Error* error = nullptr);

}  // namespace media
