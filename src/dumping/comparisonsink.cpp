#include "comparisonsink.h"

#include "blocksize.h"
#include "dialoguelog.h"
#include "safefile.h"

std::optional<BlockSink::Failure> ComparisonSink::open(const QString& dumpPath,
                                                       const BlockRange& range) {
    m_firstBlock = range.first;
    m_differing.clear();
    m_uncompared.clear();
    // A file that cannot be read holds none of the records: no block can be compared.
    QString problem;
    if (!openRegularFile(m_file, dumpPath, &problem))
        qCDebug(lcDialogue) << "nothing to compare with:" << problem;
    return std::nullopt;
}

BlockSink::Stored ComparisonSink::store(int index, QByteArrayView data, bool sumOk) {
    const int block = m_firstBlock + index;
    const QByteArray record =
        sumOk && m_file.isOpen() && m_file.seek(qint64(m_firstRecord + index) * BlockSize)
            ? m_file.read(BlockSize)
            : QByteArray();
    if (record.size() != BlockSize) {
        m_uncompared.append(block);
        return {std::nullopt, std::nullopt, false, true};
    }
    const bool differs = record != data;
    if (differs)
        m_differing.append(block);
    return {std::nullopt, std::nullopt, differs, false};
}

void ComparisonSink::close() {
    if (m_file.isOpen())
        m_file.close();
}
