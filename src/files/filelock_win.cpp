#include "filelock.h"

#include <QDir>

#include <windows.h>

FileLock::Result FileLock::lock(const QString& dumpPath, QString* problem) {
    unlock();
    const QString path = lockPathFor(dumpPath);
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = QStringLiteral("Windows error %1").arg(::GetLastError());
        return Result::Failed;
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return Result::HeldElsewhere;
        *problem = QStringLiteral("Windows error %1").arg(error);
        return Result::Failed;
    }
    m_handle = reinterpret_cast<qintptr>(file);
    m_path = path;
    return Result::Locked;
}

void FileLock::unlock() {
    if (m_handle == NoHandle)
        return;
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    // Fails, harmlessly, while another run has the file open (it is shared without deletion).
    ::DeleteFileW(QDir::toNativeSeparators(m_path).toStdWString().c_str());
    m_handle = NoHandle;
    m_path.clear();
}
