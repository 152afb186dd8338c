#include "dumpfilesink.h"

#include "blocksize.h"
#include "ledger.h"
#include "safefile.h"

#include <QFileInfo>

namespace {

// The n-th name an old dump is kept under: BL_128.bin as BL_128.1.bin, a name without an
// extension (or only one) with .n after it.
QString keptName(const QString& path, int n) {
    const QFileInfo file(path);
    const QString name = file.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString number = QString::number(n);
    const QString kept =
        dot > 0 ? name.left(dot) + u'.' + number + name.mid(dot) : name + u'.' + number;
    return file.absolutePath() + u'/' + kept;
}

bool standsAt(const QString& path) {
    const QFileInfo entry(path);
    return entry.exists() || entry.isSymLink();
}

} // namespace

DumpFileSink::DumpFileSink(Rule rule, int firstRecord) : m_rule(rule), m_firstRecord(firstRecord) {}

std::optional<BlockSink::Failure> DumpFileSink::check(const QString& dumpPath) {
    const DumpPath target = DumpPath::check(dumpPath, use());
    if (!target.ok())
        return Failure{false, target};
    return std::nullopt;
}

DumpPath::Use DumpFileSink::use() const {
    return m_rule == Rule::NewFile ? DumpPath::Use::NewDump : DumpPath::Use::KeepRecords;
}

std::optional<BlockSink::Failure> DumpFileSink::setOldFileAside(const QString& dumpPath) {
    const QFileInfo old(dumpPath);
    if (old.isSymLink() || !old.isFile() || old.size() == 0)
        return std::nullopt;
    const QString ledger = Ledger::pathFor(dumpPath);
    const bool hasLedger = standsAt(ledger);
    const auto notKept = [&](const QString& problem) {
        DumpPath failure;
        failure.problem = DumpPath::Problem::OldFileNotKept;
        failure.systemText = problem;
        return Failure{false, failure};
    };
    QString problem;
    for (int n = 1; n <= MostKeptFiles; ++n) {
        const QString kept = keptName(dumpPath, n);
        // The kept file and its ledger go together under names nothing else has.
        if (standsAt(kept) || standsAt(Ledger::pathFor(kept)))
            continue;
        const MoveResult moved = moveWithoutReplacing(dumpPath, kept, &problem);
        if (moved == MoveResult::TargetTaken)
            continue;
        if (moved == MoveResult::Failed)
            return notKept(problem);
        if (hasLedger &&
            moveWithoutReplacing(ledger, Ledger::pathFor(kept), &problem) != MoveResult::Moved) {
            QString ignored;
            moveWithoutReplacing(kept, dumpPath, &ignored);
            return notKept(problem.isEmpty() ? QStringLiteral("its ledger could not go with it")
                                             : problem);
        }
        m_keptAs = kept;
        return std::nullopt;
    }
    return notKept(QStringLiteral("%1 names are taken").arg(MostKeptFiles));
}

std::optional<BlockSink::Failure> DumpFileSink::open(const QString& dumpPath, const BlockRange&) {
    const bool keep = m_rule != Rule::NewFile;
    m_keptAs.clear();
    if (!keep) {
        if (const std::optional<Failure> failure = setOldFileAside(dumpPath))
            return failure;
        QFile::remove(dumpPath); // a link or an empty file, as the check let through
    }
    // What stands there now must still be something to write into, never through a link.
    const DumpPath target = DumpPath::check(dumpPath, use());
    if (!target.ok())
        return Failure{false, target};
    m_file.setFileName(dumpPath);
    const QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered |
                                     (keep ? QIODevice::NotOpen : QIODevice::Truncate);
    if (!m_file.open(mode))
        return Failure{false, DumpPath::unwritable(m_file.errorString())};
    // A resumed file keeps only the records it continues from: whatever a cut-off run left
    // after them is read again.
    if (m_rule == Rule::Resume && !m_file.resize(qint64(m_firstRecord) * BlockSize)) {
        const QString problem = m_file.errorString();
        m_file.close();
        return Failure{true, DumpPath::unwritable(problem)};
    }
    return std::nullopt;
}

BlockSink::Stored DumpFileSink::store(int index, QByteArrayView data, bool sumOk) {
    if (m_rule == Rule::Repair && !sumOk)
        return {};
    const int record = m_firstRecord + index;
    if (!m_file.seek(qint64(record) * BlockSize) ||
        m_file.write(data.data(), data.size()) != data.size()) {
        const QString problem = m_file.errorString();
        m_file.close();
        return {std::nullopt, Failure{true, DumpPath::unwritable(problem)}};
    }
    return {record, std::nullopt};
}

void DumpFileSink::close() {
    if (m_file.isOpen())
        m_file.close();
}
