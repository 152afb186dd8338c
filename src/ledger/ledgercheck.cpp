#include "ledgercheck.h"

#include "filedigest.h"

#include <QFileInfo>

#include <optional>

namespace {

using Verdict = LedgerCheck::Verdict;

// Why the file does not stand as its ledger describes it.
struct Refusal {
    Verdict verdict;
    QString what;
};

// A missing file stands only for a ledger that vouches for nothing, with the digest of nothing.
std::optional<Refusal> missingFileRefusal(const Ledger& ledger) {
    if (ledger.records() > 0)
        return Refusal{Verdict::Unreadable, QStringLiteral("the dump file does not exist")};
    // Nothing vouched for and nothing there: a run that never wrote a block.
    if (ledger.sha256 != FileDigest::sha256Of({}))
        return Refusal{Verdict::DigestDiffers,
                       QStringLiteral("the ledger's \"sha256\" is not that of an empty file")};
    return std::nullopt;
}

// The file's records against those the ledger vouches for, one by one and then all together.
std::optional<Refusal> recordsRefusal(const Ledger& ledger, const FileDigest& digest) {
    // The file may hold more than the ledger vouches for (a run ended between two of its
    // writes): only the records it vouches for must be as recorded.
    const int fileRecords = static_cast<int>(digest.recordDigests.size());
    const int compared = std::min(fileRecords, ledger.records());
    int record = 0;
    while (record < compared && digest.recordDigests[record] == ledger.blockDigests[record])
        ++record;
    if (record < compared) {
        return Refusal{Verdict::RecordDiffers,
                       QStringLiteral("record %1 (block %2) differs from the one it recorded")
                           .arg(record)
                           .arg(qint64(ledger.range.first) + record)};
    }
    if (fileRecords < ledger.records()) {
        return Refusal{Verdict::Shorter,
                       QStringLiteral("the file holds %1 whole records, the ledger vouches for %2")
                           .arg(fileRecords)
                           .arg(ledger.records())};
    }
    // The ledger's digest of the whole file stands for the records it vouches for: the file as
    // it was when the ledger was written, before anything a later run may have added.
    if (digest.prefixSha256 != ledger.sha256) {
        return Refusal{Verdict::DigestDiffers,
                       QStringLiteral("the SHA-256 of its %1 differs from the ledger's \"sha256\"")
                           .arg(ledger.records() == 1
                                    ? QStringLiteral("record")
                                    : QStringLiteral("%1 records").arg(ledger.records()))};
    }
    return std::nullopt;
}

} // namespace

LedgerCheck LedgerCheck::run(const Ledger& ledger, const QString& dumpPath) {
    LedgerCheck check;
    const auto refuse = [&](Verdict verdict, const QString& what) {
        check.verdict = verdict;
        check.problem = QStringLiteral("%1 does not match its ledger %2: %3")
                            .arg(dumpPath, Ledger::pathFor(dumpPath), what);
        return check;
    };

    const QFileInfo info(dumpPath);
    if (!info.exists()) {
        if (const std::optional<Refusal> refusal = missingFileRefusal(ledger))
            return refuse(refusal->verdict, refusal->what);
        check.verdict = Verdict::Matches;
        return check;
    }
    const qint64 rangeBytes = qint64(ledger.range.count) * BlockSize;
    if (info.size() > rangeBytes) {
        return refuse(Verdict::LongerThanRange,
                      QStringLiteral("the file holds %1 bytes, more than the %2 blocks of its "
                                     "range (%3 bytes)")
                          .arg(info.size())
                          .arg(ledger.range.count)
                          .arg(rangeBytes));
    }

    QString error;
    const std::optional<FileDigest> digest =
        FileDigest::scan(dumpPath, FileDigest::Records::Digest, &error, false, ledger.records());
    if (!digest)
        return refuse(Verdict::Unreadable, error);
    check.recordSums = digest->recordSums;
    if (const std::optional<Refusal> refusal = recordsRefusal(ledger, *digest))
        return refuse(refusal->verdict, refusal->what);
    check.verdict = Verdict::Matches;
    return check;
}
