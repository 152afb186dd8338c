#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// SHA-256 digests of a file read in one streaming pass: of the whole file and, on request, of
// each whole 1024-byte record (a trailing partial record gets none), with each record's byte sum
// and the digest of the first records alone.
class FileDigest {
public:
    enum class Records { Skip, Digest };

    QByteArray sha256;
    QList<QByteArray> recordDigests;
    QList<quint8> recordSums; // each whole record's bytes added, modulo 256
    QByteArray prefixSha256;  // of the first `prefixRecords` whole records, when there are so many
    qint64 size = 0;

    // Nothing, and *error naming the file and the reason, when it cannot be read (also when it
    // is not a regular file). With missingIsEmpty a file that does not exist reads as an empty
    // one.
    static std::optional<FileDigest> scan(const QString& path, Records records, QString* error,
                                          bool missingIsEmpty = false, int prefixRecords = 0);
    static QByteArray sha256Of(QByteArrayView bytes);
    // The bytes added, modulo 256: a record's sum, as the loader sums a block.
    static quint8 byteSum(QByteArrayView bytes);
};
