#include "safefile.h"

#include "systemerror_win.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <climits>
#include <string>

// Every path goes to the system as UTF-16 (C:\Taller\Señal keeps its letters) through the
// wide calls; a link here is a reparse point (a symbolic link or a junction).

namespace {

std::wstring nativeName(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// CON, NUL, COM1, LPT1... name a device in any folder and with any extension ("NUL.txt").
bool isReservedDeviceName(const QString& path) {
    static const QStringList devices = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                        QStringLiteral("AUX"), QStringLiteral("NUL")};
    const QString base = QFileInfo(path).fileName().section(QLatin1Char('.'), 0, 0).trimmed();
    if (devices.contains(base, Qt::CaseInsensitive))
        return true;
    const bool numbered = base.size() == 4 && base.at(3) >= u'1' && base.at(3) <= u'9' &&
                          (base.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ||
                           base.startsWith(QLatin1String("LPT"), Qt::CaseInsensitive));
    return numbered;
}

bool isDeviceNamespace(const QString& path) {
    const QString native = QDir::toNativeSeparators(path);
    return native.startsWith(QLatin1String("\\\\.\\")) ||
           (native.startsWith(QLatin1String("\\\\?\\")) &&
            !native.startsWith(QLatin1String("\\\\?\\UNC\\")) &&
            !(native.size() > 5 && native.at(5) == u':'));
}

QString typeReason(DWORD type) {
    switch (type) {
    case FILE_TYPE_DISK:
        return {};
    case FILE_TYPE_PIPE:
        return QStringLiteral("it is a pipe, not a file");
    case FILE_TYPE_CHAR:
        return QStringLiteral("it is a device, not a file");
    default:
        return QStringLiteral("it is not a regular file");
    }
}

// Hands the handle of what was opened to `file`, once the system says it is a file on disk: as a
// C descriptor opened in `mode`, which `file` closes or not as `handleFlags` says. On failure the
// handle is closed and *problem says why.
bool openAsFile(QFile& file, HANDLE handle, int flags, QIODevice::OpenMode mode,
                QFileDevice::FileHandleFlags handleFlags, QString* problem) {
    if (const QString reason = typeReason(::GetFileType(handle)); !reason.isEmpty()) {
        *problem = reason;
        ::CloseHandle(handle);
        return false;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        *problem = QStringLiteral("no descriptor is left for the file");
        ::CloseHandle(handle);
        return false;
    }
    if (!file.open(fd, mode, handleFlags)) {
        *problem = file.errorString();
        ::_close(fd);
        return false;
    }
    return true;
}

bool writeHandle(HANDLE handle, QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > INT_MAX ? DWORD(INT_MAX) : DWORD(left);
        if (!::WriteFile(handle, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

QString notAFileReason(const QString& path) {
    if (isDeviceNamespace(path) || isReservedDeviceName(path))
        return QStringLiteral("it is a device, not a file");
    const DWORD attributes = ::GetFileAttributesW(nativeName(path).c_str());
    // A link itself is neither: it is replaced, never followed.
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {};
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? QStringLiteral("it is a folder") : QString();
}

bool openRegularFile(QFile& file, const QString& path, QString* problem) {
    if (const QString reason = notAFileReason(path); !reason.isEmpty()) {
        *problem = reason;
        return false;
    }
    const HANDLE handle = ::CreateFileW(nativeName(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A folder (also one reached through a link) opens only with backup semantics.
        *problem = error == ERROR_ACCESS_DENIED && QFileInfo(path).isDir()
                       ? QStringLiteral("it is a folder")
                       : systemErrorText(error);
        return false;
    }
    return openAsFile(file, handle, _O_RDONLY, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle,
                      problem);
}

bool replaceFile(const QString& path, QByteArrayView bytes, QString* problem) {
    if (const QString reason = notAFileReason(path); !reason.isEmpty()) {
        *problem = reason;
        return false;
    }
    const QFileInfo target(path);
    // A hidden name beside the target, so the move stays within one volume.
    HANDLE handle = INVALID_HANDLE_VALUE;
    QString temporary;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; handle == INVALID_HANDLE_VALUE && attempt < 16; ++attempt) {
        temporary = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                    QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                  QLatin1Char('0'));
        handle = ::CreateFileW(nativeName(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN, nullptr);
        error = ::GetLastError();
        if (handle == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
            error != ERROR_ALREADY_EXISTS)
            break;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        *problem = systemErrorText(error);
        return false;
    }
    // Written and flushed to the disk, each step checked: a full disk shows at either, and then
    // the old file is left as it stands.
    const bool written = writeHandle(handle, bytes) && ::FlushFileBuffers(handle);
    error = ::GetLastError();
    ::CloseHandle(handle);
    if (!written) {
        *problem = systemErrorText(error);
        ::DeleteFileW(nativeName(temporary).c_str());
        return false;
    }
    if (!::MoveFileExW(nativeName(temporary).c_str(), nativeName(path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *problem = systemErrorText(::GetLastError());
        ::DeleteFileW(nativeName(temporary).c_str());
        return false;
    }
    // The new file takes the hidden mark of its temporary name off.
    ::SetFileAttributesW(nativeName(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    return true;
}

bool createGrowingFile(QFile& file, const QString& path, QString* problem) {
    const std::wstring name = nativeName(path);
    if (QFileInfo(path).isSymbolicLink() && !::DeleteFileW(name.c_str())) {
        *problem = systemErrorText(::GetLastError());
        return false;
    }
    if (const QString reason = notAFileReason(path); !reason.isEmpty()) {
        *problem = reason;
        return false;
    }
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *problem = systemErrorText(::GetLastError());
        return false;
    }
    return openAsFile(file, handle, _O_WRONLY, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::DontCloseHandle, problem);
}

bool closeWritten(QFile& file, QString* problem) {
    if (!file.isOpen())
        return true;
    const int fd = file.handle();
    const bool flushed = file.flush();
    const QString flushProblem = file.errorString();
    file.close();
    if (!flushed) {
        ::_close(fd);
        *problem = flushProblem;
        return false;
    }
    const bool synced = ::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
    const DWORD syncError = ::GetLastError();
    const bool closed = ::_close(fd) == 0;
    if (!synced || !closed) {
        *problem = !synced ? systemErrorText(syncError) : QStringLiteral("the file did not close");
        return false;
    }
    return true;
}

MoveResult moveWithoutReplacing(const QString& from, const QString& to, QString* problem) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything stands at the target.
    if (::MoveFileExW(nativeName(from).c_str(), nativeName(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return MoveResult::Moved;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return MoveResult::TargetTaken;
    *problem = systemErrorText(error);
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
