#pragma once

#include <QFile>
#include <QString>

#include <filesystem>

// A path as std::filesystem takes it and back, in the system's own encoding of file names (the
// local 8-bit encoding on Unix, UTF-16 on Windows, so that no letter of a folder is lost).
inline std::filesystem::path toFsPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

inline QString fromFsPath(const std::filesystem::path& path) {
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
#endif
}
