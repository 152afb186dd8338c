#include "ledgercheck.h"

#include "filedigest.h"

#include <QFileInfo>

LedgerCheck LedgerCheck::run(const Ledger& ledger, const QString& dumpPath,
                             const QString& ledgerPath) {
    LedgerCheck check;
    const auto refuse = [&](Verdict verdict, const QString& what) {
        check.verdict = verdict;
        check.problem =
            QStringLiteral("%1 does not match its ledger %2: %3").arg(dumpPath, ledgerPath, what);
        return check;
    };

    const QFileInfo info(dumpPath);
    if (!info.exists()) {
        if (ledger.records() > 0)
            return refuse(Verdict::Unreadable, QStringLiteral("the dump file does not exist"));
        // Nothing vouched for and nothing there: a run that never wrote a block.
        check.sha256Matches = ledger.sha256 == FileDigest::sha256Of({});
        if (!check.sha256Matches)
            return refuse(Verdict::DigestDiffers,
                          QStringLiteral("the ledger's \"sha256\" is not that of an empty file"));
        check.verdict = Verdict::Matches;
        return check;
    }
    const qint64 rangeBytes = qint64(ledger.blockCount) * Ledger::RecordSize;
    if (info.size() > rangeBytes) {
        check.fileSize = info.size();
        return refuse(Verdict::LongerThanRange,
                      QStringLiteral("the file holds %1 bytes, more than the %2 blocks of its "
                                     "range (%3 bytes)")
                          .arg(info.size())
                          .arg(ledger.blockCount)
                          .arg(rangeBytes));
    }

    QString error;
    const std::optional<FileDigest> digest =
        FileDigest::scan(dumpPath, FileDigest::Records::Digest, &error, false, ledger.records());
    if (!digest)
        return refuse(Verdict::Unreadable, error);
    check.fileSize = digest->size;
    check.fileRecords = static_cast<int>(digest->recordDigests.size());
    check.sha256Matches = digest->sha256 == ledger.sha256;
    check.recordSums = digest->recordSums;

    const int compared = std::min(check.fileRecords, ledger.records());
    while (check.vouchedRecords < compared &&
           digest->recordDigests[check.vouchedRecords] == ledger.blockDigests[check.vouchedRecords])
        ++check.vouchedRecords;
    if (check.vouchedRecords < compared) {
        const int record = check.vouchedRecords;
        return refuse(Verdict::RecordDiffers,
                      QStringLiteral("record %1 (block %2) differs from the one it recorded")
                          .arg(record)
                          .arg(qint64(ledger.firstBlock) + record));
    }
    if (check.fileRecords < ledger.records()) {
        return refuse(Verdict::Shorter,
                      QStringLiteral("the file holds %1 whole records, the ledger vouches for %2")
                          .arg(check.fileRecords)
                          .arg(ledger.records()));
    }
    // The ledger's digest of the whole file stands for the records it vouches for: the file as
    // it was when the ledger was written, before anything a later run may have added.
    if (digest->prefixSha256 != ledger.sha256) {
        return refuse(Verdict::DigestDiffers,
                      QStringLiteral("the SHA-256 of its %1 differs from the ledger's \"sha256\"")
                          .arg(ledger.records() == 1
                                   ? QStringLiteral("record")
                                   : QStringLiteral("%1 records").arg(ledger.records())));
    }
    check.verdict = Verdict::Matches;
    check.unvouchedBytes = check.fileSize - qint64(ledger.records()) * Ledger::RecordSize;
    return check;
}
