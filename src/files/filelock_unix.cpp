#include "filelock.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

} // namespace

FileLock::Result FileLock::lock(const QString& dumpPath, QString* problem) {
    unlock();
    const QString path = lockPathFor(dumpPath);
    const QByteArray name = QFile::encodeName(path);
    // The run that held the lock removes the file as it lets go: a lock taken on a file that
    // has just been removed guards nothing, so it is taken again on the file now there.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd =
            ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            *problem = QString::fromLocal8Bit(std::strerror(errno));
            return Result::Failed;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            *problem = QStringLiteral("%1 is not a regular file").arg(path);
            return Result::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK)
                return Result::HeldElsewhere;
            *problem = QString::fromLocal8Bit(std::strerror(error));
            return Result::Failed;
        }
        struct stat there {};
        if (::lstat(name.constData(), &there) == 0 && sameFile(there, opened)) {
            m_handle = fd;
            m_path = path;
            return Result::Locked;
        }
        ::close(fd);
    }
    *problem = QStringLiteral("%1 keeps changing").arg(path);
    return Result::Failed;
}

void FileLock::unlock() {
    if (m_handle == NoHandle)
        return;
    const int fd = static_cast<int>(m_handle);
    // Removed while still held, so that no other run can take a lock on it that a third run,
    // making the file anew, would not see.
    struct stat held {};
    struct stat there {};
    const QByteArray name = QFile::encodeName(m_path);
    if (::fstat(fd, &held) == 0 && ::lstat(name.constData(), &there) == 0 && sameFile(held, there))
        ::unlink(name.constData());
    ::close(fd);
    m_handle = NoHandle;
    m_path.clear();
}
