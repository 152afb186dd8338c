#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

// Byte and file helpers the tests share.

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
