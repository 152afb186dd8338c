#pragma once

#include <QList>
#include <QtGlobal>

// Contiguous flash blocks: first, first + 1, ..., last().
struct BlockRange {
    // The loader is told the first block and the count in four digits: the largest of each a
    // dump may ask for, and so what its ledger records and a resume, a verification or a repair
    // reads again. Every front end and the ledger keep to these.
    static constexpr int LargestFirst = 9999;
    static constexpr int LargestCount = 9999;

    int first = 0;
    int count = 0;

    // Past 32 bits for no range a dump can hold, but worked out in 64 all the same.
    qint64 last() const { return qint64(first) + count - 1; }
    bool contains(qint64 block) const { return block >= first && block <= last(); }
    bool operator==(const BlockRange&) const = default;
};

// Ascending block numbers as runs of consecutive blocks.
inline QList<BlockRange> blockRuns(const QList<int>& blocks) {
    QList<BlockRange> runs;
    for (const int block : blocks) {
        if (!runs.isEmpty() && runs.last().last() + 1 == block)
            ++runs.last().count;
        else
            runs.append({block, 1});
    }
    return runs;
}
