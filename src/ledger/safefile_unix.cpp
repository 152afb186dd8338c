#include "safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
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

} // namespace

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
