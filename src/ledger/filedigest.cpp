#include "filedigest.h"

#include "blocksize.h"
#include "ledger.h"
#include "safefile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 ChunkSize = 64 * BlockSize;

} // namespace

std::optional<FileDigest> FileDigest::scan(const QString& path, Records records, QString* error,
                                           bool missingIsEmpty, int prefixRecords) {
    FileDigest result;
    QCryptographicHash whole(QCryptographicHash::Sha256);
    QCryptographicHash prefix(QCryptographicHash::Sha256);
    if (missingIsEmpty && !QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        result.sha256 = whole.result();
        return result;
    }
    QFile file;
    QString problem;
    if (!openRegularFile(file, path, &problem)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, problem);
        return std::nullopt;
    }

    const auto takeRecord = [&](QByteArrayView record) {
        result.recordDigests.append(sha256Of(record));
        result.recordSums.append(byteSum(record));
        if (result.recordDigests.size() <= prefixRecords)
            prefix.addData(record);
    };
    QByteArray chunk(ChunkSize, Qt::Uninitialized);
    QByteArray partial; // the start of a record that a short read cut
    for (;;) {
        const qint64 got = file.read(chunk.data(), ChunkSize);
        if (got < 0) {
            if (error)
                *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return std::nullopt;
        }
        if (got == 0)
            break;
        const QByteArrayView piece(chunk.constData(), got);
        whole.addData(piece);
        result.size += got;
        if (records == Records::Skip)
            continue;
        qsizetype at = 0;
        if (!partial.isEmpty()) {
            const qsizetype missing = std::min<qsizetype>(BlockSize - partial.size(), got);
            partial += piece.first(missing);
            at = missing;
            if (partial.size() < BlockSize)
                continue;
            takeRecord(partial);
            partial.clear();
        }
        for (; at + BlockSize <= got; at += BlockSize)
            takeRecord(piece.sliced(at, BlockSize));
        partial = piece.sliced(at).toByteArray();
    }
    result.sha256 = whole.result();
    if (result.recordDigests.size() >= prefixRecords)
        result.prefixSha256 = prefix.result();
    return result;
}

QByteArray FileDigest::sha256Of(QByteArrayView bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

quint8 FileDigest::byteSum(QByteArrayView bytes) {
    int sum = 0;
    for (const char byte : bytes)
        sum += static_cast<quint8>(byte);
    return static_cast<quint8>(sum);
}
