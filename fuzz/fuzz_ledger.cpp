// Fuzz target for the ledger reader, which reads input from disk: any bytes are either refused
// with a message naming the file, or read into a ledger that is consistent and that its own
// JSON reproduces exactly.

#include "fuzzcheck.h"
#include "ledger.h"

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

// Large enough for a ledger of a few hundred records; longer inputs only slow the run down.
constexpr size_t MaxInput = 64 * 1024;

const QString FileName = QStringLiteral("fuzz/BL_128.bin.json");

void checkConsistent(const Ledger& ledger) {
    fuzzCheck(ledger.range.count >= 0 && ledger.records() <= ledger.range.count,
              "a ledger holds no more records than its range");
    for (const QByteArray& digest : ledger.blockDigests)
        fuzzCheck(digest.size() == Ledger::DigestSize, "every record digest is a SHA-256");
    fuzzCheck(ledger.sha256.size() == Ledger::DigestSize, "the file digest is a SHA-256");
    for (qsizetype i = 0; i < ledger.badBlocks.size(); ++i) {
        const int block = ledger.badBlocks[i];
        fuzzCheck(block >= ledger.range.first &&
                      block < qint64(ledger.range.first) + ledger.records(),
                  "a bad block is a record of the file");
        fuzzCheck(i == 0 || ledger.badBlocks[i - 1] < block, "bad blocks ascend");
    }
    fuzzCheck(!ledger.runs.isEmpty(), "a ledger names the run that wrote it");
    fuzzCheck(ledger.total == ledger.runs.last().total, "the total is the latest run's");

    // The blocks to read again: ascending, apart, inside the range, as many as bad and missing.
    qint64 covered = 0;
    qint64 end = qint64(ledger.range.first) - 1;
    for (const BlockRange& range : ledger.blocksToRead()) {
        fuzzCheck(range.count > 0 && range.first > end, "ranges to read ascend and do not touch");
        end = qint64(range.first) + range.count;
        fuzzCheck(end - 1 <= ledger.range.last(), "ranges to read stay inside the range");
        covered += range.count;
    }
    fuzzCheck(covered == ledger.badBlocks.size() + ledger.range.count - ledger.records(),
              "the ranges to read cover the bad and the missing blocks");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size > MaxInput)
        return 0;
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    QString error;
    const std::optional<Ledger> ledger = Ledger::parse(bytes, FileName, &error);
    if (!ledger) {
        fuzzCheck(error.startsWith(FileName + QStringLiteral(": ")) &&
                      error.size() > FileName.size() + 2,
                  "a refusal names the file and the problem");
        return 0;
    }
    checkConsistent(*ledger);

    const QByteArray json = ledger->toJson();
    QString againError;
    const std::optional<Ledger> again = Ledger::parse(json, FileName, &againError);
    fuzzCheck(again.has_value(), "a ledger's own JSON is accepted");
    fuzzCheck(*again == *ledger, "a ledger's own JSON reads back as the same ledger");
    fuzzCheck(again->toJson() == json, "writing a ledger again gives the same JSON");
    return 0;
}
