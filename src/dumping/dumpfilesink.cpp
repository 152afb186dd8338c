#include "dumpfilesink.h"

#include "blocksize.h"

DumpFileSink::DumpFileSink(Rule rule, int firstRecord) : m_rule(rule), m_firstRecord(firstRecord) {}

QString DumpFileSink::reason(const DumpPath& problem) const {
    return m_wording ? m_wording(problem) : problem.systemText;
}

std::optional<BlockSink::Failure> DumpFileSink::check(const QString& dumpPath) {
    const DumpPath target = DumpPath::check(dumpPath, m_rule != Rule::NewFile);
    if (!target.ok())
        return Failure{false, reason(target)};
    return std::nullopt;
}

std::optional<BlockSink::Failure> DumpFileSink::open(const QString& dumpPath, const BlockRange&) {
    const bool keep = m_rule != Rule::NewFile;
    if (!keep)
        QFile::remove(dumpPath); // a regular file or a link, as the check let through
    // What stands there now must still be something to write into, never through a link.
    const DumpPath target = DumpPath::check(dumpPath, keep);
    if (!target.ok())
        return Failure{false, reason(target)};
    Num_Fichero.setFileName(dumpPath);
    const QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered |
                                     (keep ? QIODevice::NotOpen : QIODevice::Truncate);
    if (!Num_Fichero.open(mode))
        return Failure{false, Num_Fichero.errorString()};
    // A resumed file keeps only the records it continues from: whatever a cut-off run left
    // after them is read again.
    if (m_rule == Rule::Resume && !Num_Fichero.resize(qint64(m_firstRecord) * BlockSize)) {
        const QString problem = Num_Fichero.errorString();
        Num_Fichero.close();
        return Failure{true, problem};
    }
    return std::nullopt;
}

BlockSink::Stored DumpFileSink::store(int index, QByteArrayView data, bool sumOk) {
    if (m_rule == Rule::Repair && !sumOk)
        return {};
    const int record = m_firstRecord + index;
    if (!Num_Fichero.seek(qint64(record) * BlockSize) ||
        Num_Fichero.write(data.data(), data.size()) != data.size()) {
        const QString problem = Num_Fichero.errorString();
        Num_Fichero.close();
        return {std::nullopt, Failure{true, problem}};
    }
    return {record, std::nullopt};
}

void DumpFileSink::close() {
    if (Num_Fichero.isOpen())
        Num_Fichero.close();
}
