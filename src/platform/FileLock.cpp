#include "FileLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

std::unique_ptr<FileLock> FileLock::tryLock(const QString& lockFilePath, QString* error) {
    if (error) error->clear();
    const QByteArray native = QFile::encodeName(lockFilePath);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = QStringLiteral("%1: %2").arg(lockFilePath, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e != EWOULDBLOCK && error)
            *error = QStringLiteral("%1: %2").arg(lockFilePath, QString::fromLocal8Bit(std::strerror(e)));
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(fd));
}

FileLock::~FileLock() {
    ::close(fd_);
}

}  // namespace platform
