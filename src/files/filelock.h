#pragma once

#include <QString>

// An exclusive advisory lock that one run holds on its dump path, taken on a lock file beside
// the dump (".<name>.lock"): while one run holds it, another run on the same path, in this
// program or another, is refused. The system lets go of it when the program ends, however it
// ends; the lock file is removed when the lock is given up.
class FileLock {
public:
    enum class Result { Locked, HeldElsewhere, Failed };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock of `dumpPath` without waiting. Failed, with *problem, when the lock file
    // cannot be made (a folder closed to new files).
    Result lock(const QString& dumpPath, QString* problem);
    void unlock();
    bool locked() const { return m_handle != NoHandle; }

    static QString lockPathFor(const QString& dumpPath);

private:
    static constexpr qintptr NoHandle = -1;
    qintptr m_handle = NoHandle; // a descriptor, or a Windows handle
    QString m_path;
};
