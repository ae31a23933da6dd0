#pragma once
// An inter-process lock: an flock on an existing file or folder, so that nothing is left behind
// and no lock file can be removed from under its holder. The lock goes with the object, and with
// the process however it ends.

#include <QString>
#include <memory>

namespace platform {

class FileLock {
public:
    // Takes the lock on `path` (never through a symbolic link) without waiting. nullptr when
    // another holder has it (*error left empty) or it cannot be opened (*error says why).
    static std::unique_ptr<FileLock> tryLock(const QString& path, QString* error = nullptr);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace platform
