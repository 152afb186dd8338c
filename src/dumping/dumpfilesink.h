#pragma once

#include "blocksink.h"
#include "dumppath.h"

#include <QFile>

// The dump file as the blocks of a transfer go into it, by one of three rules: a new dump
// replaces the file, keeping an old one that holds anything under a new name beside it; a resume
// keeps the records before its first block and writes after them; a repair writes a block into its
// record only when its sum is good, and otherwise leaves the record as it was, so that a block read
// bad again never spoils one that may be right.
class DumpFileSink : public BlockSink {
public:
    enum class Rule { NewFile, Resume, Repair };

    // firstRecord: the record of the file that the transfer's first block goes to.
    explicit DumpFileSink(Rule rule = Rule::NewFile, int firstRecord = 0);

    // Where a new dump set the old file aside (with its ledger), once it opened; empty when
    // there was nothing to keep.
    const QString& keptAs() const { return m_keptAs; }
    // The most names tried for an old file.
    static constexpr int MostKeptFiles = 9999;

    std::optional<Failure> check(const QString& dumpPath) override;
    std::optional<Failure> open(const QString& dumpPath, const BlockRange& range) override;
    Stored store(int index, QByteArrayView data, bool sumOk) override;
    void close() override;

private:
    DumpPath::Use use() const;
    std::optional<Failure> setOldFileAside(const QString& dumpPath);

    Rule m_rule;
    int m_firstRecord;
    QFile m_file; // the dump file while a transfer runs
    QString m_keptAs;
};
