#include "safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Empty for the kinds a ledger may be replaced over or read from.
QString kindReason(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a pipe (FIFO), not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a file");
    return {};
}

} // namespace

bool writeAll(int fd, QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

bool openRegularFile(QFile& file, const QString& path, QString* problem) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *problem = systemError(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        *problem = systemError(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        const QString reason = kindReason(status.st_mode);
        *problem = reason.isEmpty() ? QStringLiteral("it is not a regular file") : reason;
        ::close(fd);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *problem = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

QString notAFileReason(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return kindReason(status.st_mode);
}

bool replaceFile(const QString& path, QByteArrayView bytes, QString* problem) {
    const QString reason = notAFileReason(path);
    if (!reason.isEmpty()) {
        *problem = reason;
        return false;
    }
    const QFileInfo target(path);
    // A hidden name beside the target, so the rename stays within one file system.
    int fd = -1;
    QByteArray temporary;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporary =
            QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                              QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate(),
                                                            8, 16, QLatin1Char('0')));
        // The mode before the umask, as for any new file of the user's.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *problem = systemError(errno);
        return false;
    }
    // Written, flushed to the disk and closed, each step checked: a full disk shows at any of
    // them, and then the old file is left as it stands.
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    const int closeError = errno;
    if (!written || !closed) {
        *problem = systemError(!written ? writeError : closeError);
        ::unlink(temporary.constData());
        return false;
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        *problem = systemError(errno);
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

bool createGrowingFile(QFile& file, const QString& path, QString* problem) {
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(name.constData(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            if (::unlink(name.constData()) != 0) {
                *problem = systemError(errno);
                return false;
            }
        } else if (const QString reason = kindReason(status.st_mode); !reason.isEmpty()) {
            *problem = reason;
            return false;
        }
    }
    // Without waiting on a pipe, and never through a link that appeared meanwhile.
    const int fd = ::open(name.constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        *problem =
            errno == ENXIO ? QStringLiteral("it is a pipe (FIFO), not a file") : systemError(errno);
        return false;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const QString reason = kindReason(status.st_mode);
        *problem = reason.isEmpty() ? QStringLiteral("it is not a regular file") : reason;
        ::close(fd);
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::DontCloseHandle)) {
        *problem = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

bool closeWritten(QFile& file, QString* problem) {
    if (!file.isOpen())
        return true;
    const int fd = file.handle();
    const bool flushed = file.flush();
    const QString flushProblem = file.errorString();
    file.close();
    if (!flushed) {
        ::close(fd);
        *problem = flushProblem;
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        *problem = systemError(!synced ? syncError : errno);
        return false;
    }
    return true;
}

MoveResult moveWithoutReplacing(const QString& from, const QString& to, QString* problem) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
#ifdef RENAME_NOREPLACE
    const bool renamed = ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                                     RENAME_NOREPLACE) == 0;
#else
    const bool renamed = false;
    errno = ENOSYS;
#endif
    if (renamed)
        return MoveResult::Moved;
    if (errno == EEXIST)
        return MoveResult::TargetTaken;
    // A file system that cannot rename without replacing: a second name, then the first goes.
    if (errno == EINVAL || errno == ENOSYS) {
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            return MoveResult::Moved;
        }
        if (errno == EEXIST)
            return MoveResult::TargetTaken;
    }
    *problem = systemError(errno);
    return MoveResult::Failed;
}
