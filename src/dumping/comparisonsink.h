#pragma once

#include "blocksink.h"

#include <QFile>
#include <QList>

// A verification: nothing is written; each block is compared, as it comes, with its record of
// the file, so nothing is held but the block at hand. A record the file lacks, or a block that
// came with a bad sum, differs: neither confirms what the file holds.
class ComparisonSink : public BlockSink {
public:
    // firstRecord: the record of the file that the transfer's first block is compared with.
    explicit ComparisonSink(int firstRecord = 0) : m_firstRecord(firstRecord) {}

    std::optional<Failure> check(const QString&) override { return std::nullopt; }
    std::optional<Failure> open(const QString& dumpPath, const BlockRange& range) override;
    Stored store(int index, QByteArrayView data, bool sumOk) override;
    void close() override;

    // The blocks of the last transfer that differ from their records, ascending.
    const QList<int>& differingBlocks() const { return m_differing; }

private:
    int m_firstRecord;
    int m_firstBlock = 0;
    QFile m_file;
    QList<int> m_differing;
};
