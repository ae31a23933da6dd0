#include "media/OutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace media {

namespace {

constexpr char kSuffix[] = ".partial";
constexpr char kLegacySuffix[] = ".finishing";  // what recorders used to leave when killed

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() > n && s.compare(s.size() - n, n, suffix) == 0;
}

std::string folderOf(const std::string& path) {
    std::string dir = std::filesystem::path(path).parent_path().string();
    return dir.empty() ? "." : dir;
}

std::string randomTag() {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Only the uniqueness matters, and O_EXCL settles any clash.
        static unsigned counter = 0;
        const unsigned v = static_cast<unsigned>(getpid()) * 2654435761u + ++counter;
        std::memcpy(bytes, &v, std::min(sizeof v, sizeof bytes));
    }
    std::string tag;
    for (unsigned char b : bytes) tag += alphabet[b % (sizeof alphabet - 1)];
    return tag;
}

Error errnoError(int e, const std::string& what, const std::string& path) {
    std::string suggestion;
    if (e == ENOSPC || e == EDQUOT)
        suggestion = "Free some space on the disk.";
    else if (e == EEXIST)
        suggestion = "Remove the file or choose another name.";
    else
        suggestion = "Check that the folder exists and can be written.";
    return Error{e, what, std::string(std::strerror(e)) + ": " + path, suggestion};
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Claims `to` for `from` without ever replacing an entry there. renameat2 does it in one step;
// filesystems without it get a hard link (which fails on any existing entry) and an unlink.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

bool OutputFile::isTemporaryName(const std::string& name) {
    return name.size() > 1 && name[0] == '.' && (endsWith(name, kSuffix) || endsWith(name, kLegacySuffix));
}

int OutputFile::removeStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    const int dirFd = ::dirfd(dir);
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isTemporaryName(name)) continue;
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;  // a link or something we cannot open is not ours to judge
        struct stat byFd {
        }, byName{};
        // A lock we can take means the writer is gone. The name must still be the file we
        // locked: the writer checks the same after locking, so one of the two always backs off.
        if (::fstat(fd, &byFd) == 0 && S_ISREG(byFd.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(byFd, byName) &&
            ::unlinkat(dirFd, name.c_str(), 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

std::unique_ptr<OutputFile> OutputFile::create(const std::string& finalPath, Error* error) {
    const std::string folder = folderOf(finalPath);
    const std::string name = std::filesystem::path(finalPath).filename().string();
    if (name.empty()) {
        if (error) *error = errnoError(EISDIR, "The file could not be created.", finalPath);
        return nullptr;
    }
    removeStaleTemporaries(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = folder + "/." + name + "." + randomTag() + kSuffix;
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            if (error) *error = errnoError(errno, "The file could not be created.", finalPath);
            return nullptr;
        }
        struct stat byFd {
        }, byName{};
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &byFd) != 0 || ::lstat(temp.c_str(), &byName) != 0 ||
            !sameFile(byFd, byName)) {
            // A sweeper took it between the create and the lock, and removes it.
            ::close(fd);
            continue;
        }
        std::unique_ptr<OutputFile> file(new OutputFile());
        file->fd_ = fd;
        file->temp_ = temp;
        file->final_ = finalPath;
        return file;
    }
    if (error) *error = errnoError(EEXIST, "The file could not be created.", finalPath);
    return nullptr;
}

OutputFile::~OutputFile() {
    if (avio_) {
        av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }
    // Unlinked while still locked, so no sweeper ever sees it unlocked.
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::write(const void* data, size_t size, Error* error) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, end_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (error) *error = errnoError(n < 0 ? errno : ENOSPC, "The file could not be written.", final_);
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        end_ += n;
    }
    return true;
}

bool OutputFile::copyFrom(int sourceFd, int64_t length, Error* error) {
    off_t from = 0, to = end_;
    bool inKernel = true;
    char buffer[1 << 16];
    while (from < length) {
        const size_t want = static_cast<size_t>(length - from);
        ssize_t n;
        if (inKernel) {
            n = ::copy_file_range(sourceFd, &from, fd_, &to, want, 0);
            // Another filesystem, or one that cannot: through a buffer instead.
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                inKernel = false;
                continue;
            }
        } else {
            n = ::pread(sourceFd, buffer, std::min(want, sizeof buffer), from);
            if (n > 0 && !write(buffer, static_cast<size_t>(n), error)) return false;
            if (n > 0) {
                from += n;
                to = end_;
            }
        }
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The source ended early: nothing to copy is a fault too, never a shorter file.
            if (error) *error = errnoError(n < 0 ? errno : EIO, "The file could not be written.", final_);
            return false;
        }
        end_ = to;
    }
    return true;
}

int OutputFile::avioRead(void* opaque, uint8_t* buf, int size) {
    auto* f = static_cast<OutputFile*>(opaque);
    ssize_t n;
    do n = ::pread(f->fd_, buf, static_cast<size_t>(size), f->pos_);
    while (n < 0 && errno == EINTR);
    if (n < 0) return AVERROR(errno);
    if (n == 0) return AVERROR_EOF;
    f->pos_ += n;
    return static_cast<int>(n);
}

int OutputFile::avioWrite(void* opaque, uint8_t* buf, int size) {
    auto* f = static_cast<OutputFile*>(opaque);
    if (f->ioError_) return AVERROR(f->ioError_);
    int left = size;
    while (left > 0) {
        const ssize_t n = ::pwrite(f->fd_, buf, static_cast<size_t>(left), f->pos_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A full disk can show as a zero-length write; the file size limit as EFBIG.
            f->ioError_ = n < 0 ? errno : ENOSPC;
            return AVERROR(f->ioError_);
        }
        buf += n;
        left -= static_cast<int>(n);
        f->pos_ += n;
        f->end_ = std::max(f->end_, f->pos_);
    }
    return size;
}

int64_t OutputFile::avioSeek(void* opaque, int64_t offset, int whence) {
    auto* f = static_cast<OutputFile*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return f->end_;
    case SEEK_SET: f->pos_ = offset; break;
    case SEEK_CUR: f->pos_ += offset; break;
    case SEEK_END: f->pos_ = f->end_ + offset; break;
    default: return AVERROR(EINVAL);
    }
    return f->pos_;
}

AVIOContext* OutputFile::avio() {
    if (avio_) return avio_;
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer) return nullptr;
    avio_ = avio_alloc_context(buffer, kBufferSize, 1, this, &OutputFile::avioRead, &OutputFile::avioWrite,
                               &OutputFile::avioSeek);
    if (!avio_) av_free(buffer);
    return avio_;
}

bool OutputFile::flushAvio(Error* error) {
    if (!avio_) return true;
    avio_flush(avio_);
    const int e = ioError_ ? ioError_ : (avio_->error < 0 ? AVUNERROR(avio_->error) : 0);
    if (e) {
        if (error) *error = errnoError(e, "The file could not be written.", final_);
        return false;
    }
    return true;
}

bool OutputFile::commit(Commit mode, Error* error, const std::function<std::string()>& nextName) {
    if (committed_) return true;
    if (!flushAvio(error)) return false;
    if (::fdatasync(fd_) != 0) {
        if (error) *error = errnoError(errno, "The file could not be written.", final_);
        return false;
    }
    std::string target = final_;
    for (int attempt = 0; attempt < 10000; ++attempt) {
        int e = 0;
        if (mode == Commit::Replace) {
            if (::rename(temp_.c_str(), target.c_str()) != 0) e = errno;
        } else {
            e = renameNoReplace(temp_, target);
        }
        if (e == 0) {
            committed_ = true;
            final_ = target;
            syncFolder(folderOf(target));
            return true;
        }
        if (e != EEXIST || !nextName) {
            if (error)
                *error = errnoError(
                    e, e == EEXIST ? "A file already exists at " + target + "." : "The file could not be stored.",
                    target);
            return false;
        }
        target = nextName();
        if (target.empty()) break;
    }
    if (error) *error = errnoError(EEXIST, "No free name was found for the file.", final_);
    return false;
}

bool replaceFileContents(const std::string& path, const void* data, size_t size, Error* error) {
    auto file = OutputFile::create(path, error);
    return file && file->write(data, size, error) && file->commit(OutputFile::Commit::Replace, error);
}

}  // namespace media
