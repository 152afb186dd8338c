#include "comparisonsink.h"

#include "blocksize.h"
#include "dialoguelog.h"
#include "safefile.h"

std::optional<BlockSink::Failure> ComparisonSink::open(const QString& dumpPath,
                                                       const BlockRange& range) {
    m_firstBlock = range.first;
    m_differing.clear();
    // A file that cannot be read holds none of the blocks: every one of them differs.
    QString problem;
    if (!openRegularFile(m_file, dumpPath, &problem))
        qCDebug(lcDialogue) << "nothing to compare with:" << problem;
    return std::nullopt;
}

BlockSink::Stored ComparisonSink::store(int index, QByteArrayView data, bool sumOk) {
    const bool same = sumOk && m_file.isOpen() &&
                      m_file.seek(qint64(m_firstRecord + index) * BlockSize) &&
                      m_file.read(BlockSize) == data;
    if (!same)
        m_differing.append(m_firstBlock + index);
    return {std::nullopt, std::nullopt, !same};
}

void ComparisonSink::close() {
    if (m_file.isOpen())
        m_file.close();
}
