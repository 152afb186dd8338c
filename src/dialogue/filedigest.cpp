#include "filedigest.h"

#include "ledger.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

constexpr qint64 ChunkSize = 64 * Ledger::RecordSize;

} // namespace

std::optional<FileDigest> FileDigest::scan(const QString& path, Records records, QString* error,
                                           bool missingIsEmpty) {
    FileDigest result;
    QCryptographicHash whole(QCryptographicHash::Sha256);
    QFile file(path);
    if (missingIsEmpty && !file.exists()) {
        result.sha256 = whole.result();
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }

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
            const qsizetype missing = std::min<qsizetype>(Ledger::RecordSize - partial.size(), got);
            partial += piece.first(missing);
            at = missing;
            if (partial.size() < Ledger::RecordSize)
                continue;
            result.recordDigests.append(sha256Of(partial));
            partial.clear();
        }
        for (; at + Ledger::RecordSize <= got; at += Ledger::RecordSize)
            result.recordDigests.append(sha256Of(piece.sliced(at, Ledger::RecordSize)));
        partial = piece.sliced(at).toByteArray();
    }
    result.sha256 = whole.result();
    return result;
}

QByteArray FileDigest::sha256Of(QByteArrayView bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}
