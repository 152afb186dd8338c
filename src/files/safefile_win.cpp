#include "safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <io.h>
#include <windows.h>

#include <climits>

// Windows has no FIFOs at a file path and its links are rare; QSaveFile writes a temporary file
// beside the target and renames it over the target when every write succeeded.

bool openRegularFile(QFile& file, const QString& path, QString* problem) {
    const QString reason = notAFileReason(path);
    if (!reason.isEmpty() || QFileInfo(path).isDir()) {
        *problem = reason.isEmpty() ? QStringLiteral("it is a folder") : reason;
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return false;
    }
    return true;
}

QString notAFileReason(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (info.exists() && !info.isFile() && !info.isSymLink())
        return QStringLiteral("it is a device, not a file");
    return {};
}

bool replaceFile(const QString& path, QByteArrayView bytes, QString* problem) {
    const QString reason = notAFileReason(path);
    if (!reason.isEmpty()) {
        *problem = reason;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), bytes.size()) != bytes.size() || !file.commit()) {
        *problem = file.errorString();
        return false;
    }
    return true;
}

bool createGrowingFile(QFile& file, const QString& path, QString* problem) {
    const QFileInfo info(path);
    if (info.isSymLink() && !QFile::remove(path)) {
        *problem = QStringLiteral("the link there cannot be replaced");
        return false;
    }
    if (const QString reason = notAFileReason(path); !reason.isEmpty()) {
        *problem = reason;
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *problem = file.errorString();
        return false;
    }
    return true;
}

bool closeWritten(QFile& file, QString* problem) {
    if (!file.isOpen())
        return true;
    const bool flushed =
        file.flush() &&
        ::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle())));
    const QString flushProblem = file.errorString();
    file.close();
    if (!flushed || file.error() != QFileDevice::NoError) {
        *problem = flushed ? file.errorString() : flushProblem;
        return false;
    }
    return true;
}

MoveResult moveWithoutReplacing(const QString& from, const QString& to, QString* problem) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything stands at the target.
    if (::MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                      reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                      MOVEFILE_WRITE_THROUGH))
        return MoveResult::Moved;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return MoveResult::TargetTaken;
    *problem = QStringLiteral("Windows error %1").arg(error);
    return MoveResult::Failed;
}

bool writeAll(int fd, QByteArrayView bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const int chunk = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        const int written = ::_write(fd, data, static_cast<unsigned>(chunk));
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}
