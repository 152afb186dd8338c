#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

// Byte and file helpers the tests share.

#ifdef Q_OS_UNIX
// A FIFO at the path: Windows has none at a file path, so rows that make one are Unix's own.
inline bool makeFifo(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// Files this process writes may grow to `bytes` while it lives, as on a full disk (the write
// that would pass it fails); Windows has no such limit.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return m_set; }

private:
    rlimit m_saved{};
    bool m_set = false;
};
#endif

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file with the bytes; true when all of them were written.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// What the tool sent, without the break-in bytes (31) its ticker adds at any time.
inline QByteArray withoutBreakIns(QByteArray bytes) {
    bytes.removeIf([](char byte) { return byte == 31; });
    return bytes;
}

// The one-byte sum of the protocol: every byte added, modulo 256.
inline quint8 byteSum(QByteArrayView bytes) {
    quint8 sum = 0;
    for (const char byte : bytes)
        sum = static_cast<quint8>(sum + static_cast<quint8>(byte));
    return sum;
}

// A block's frame as the loader sends it: the data, the sum byte and seven filler bytes.
inline QByteArray loaderFrame(const QByteArray& data, quint8 sumByte) {
    return data + static_cast<char>(sumByte) + QByteArray("\xF1\xF2\xF3\xF4\xF5\xF6\xF7");
}
