#pragma once

#include "blocksink.h"

#include <QFile>
#include <QList>

// A verification: nothing is written; each block is compared, as it comes, with its record of
// the file, so nothing is held but the block at hand. A block that came with a bad sum, or whose
// record the file lacks, is not compared: it neither confirms nor contradicts the file.
class ComparisonSink : public BlockSink {
public:
    // firstRecord: the record of the file that the transfer's first block is compared with.
    explicit ComparisonSink(int firstRecord = 0) : m_firstRecord(firstRecord) {}

    std::optional<Failure> check(const QString&) override { return std::nullopt; }
    std::optional<Failure> open(const QString& dumpPath, const BlockRange& range) override;
    Stored store(int index, QByteArrayView data, bool sumOk) override;
    void close() override;

    // The blocks of the last transfer that differ from their records, and those that could not
    // be compared, ascending.
    const QList<int>& differingBlocks() const { return m_differing; }
    const QList<int>& uncomparedBlocks() const { return m_uncompared; }

private:
    int m_firstRecord;
    int m_firstBlock = 0;
    QFile m_file;
    QList<int> m_differing;
    QList<int> m_uncompared;
};
