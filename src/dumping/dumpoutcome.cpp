#include "dumpoutcome.h"

#include <algorithm>

DumpOutcome::Findings DumpOutcome::findings() const {
    Findings found;
    if (!ledger)
        return found;
    const Ledger& file = *ledger;
    for (const int block : verification.differingBlocks) {
        const bool bad = std::binary_search(file.badBlocks.begin(), file.badBlocks.end(), block);
        (bad ? found.badRecordsDiffer : found.flashDiffers).append(block);
    }
    for (const int block : verification.uncomparedBlocks)
        (qint64(block) - file.range.first < file.records() ? found.badReads : found.notInFile)
            .append(block);
    return found;
}
