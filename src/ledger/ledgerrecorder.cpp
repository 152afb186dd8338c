#include "ledgerrecorder.h"

#include "filedigest.h"
#include "safefile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

void LedgerRecorder::begin(const Setup& setup) {
    m_dumpPath = setup.dumpPath;
    m_ledgerPath = Ledger::pathFor(setup.dumpPath);
    m_ledger = setup.previous.value_or(Ledger{});
    m_ledger.tool = setup.tool;
    m_ledger.device = setup.device;
    m_ledger.loaderBanner = Ledger::escapeBytes(setup.loaderBanner);
    m_ledger.range = setup.range;
    m_running = false;
    m_sinceWrite = 0;
    m_error.clear();
}

bool LedgerRecorder::beginRun(Ledger::RunKind kind, const BlockRange& range) {
    const QDateTime now = Ledger::now();
    if (m_ledger.runs.isEmpty())
        m_ledger.started = now;
    m_ledger.verified.reset();
    Ledger::Run run;
    run.kind = kind;
    run.range = range;
    run.started = now;
    m_ledger.runs.append(run);
    m_running = true;
    startFileDigest();
    return write();
}

bool LedgerRecorder::blockWritten(int record, QByteArrayView data, bool sumOk) {
    if (!m_running)
        return fail(QStringLiteral("%1: a block arrived outside a run").arg(m_ledgerPath));
    if (record < 0 || record >= m_ledger.range.count) {
        return fail(QStringLiteral("%1: record %2 is outside the range of %3 blocks")
                        .arg(m_ledgerPath)
                        .arg(record)
                        .arg(m_ledger.range.count));
    }
    const auto setBad = [this](int block, bool bad) {
        QList<int>& list = m_ledger.badBlocks;
        const auto at = std::lower_bound(list.begin(), list.end(), block);
        const bool listed = at != list.end() && *at == block;
        if (bad && !listed)
            list.insert(at, block);
        else if (!bad && listed)
            list.erase(at);
    };
    if (record > m_ledger.records()) {
        const QByteArray zeros = FileDigest::sha256Of(QByteArray(BlockSize, '\0'));
        while (m_ledger.records() < record) {
            setBad(m_ledger.range.first + m_ledger.records(), true);
            m_ledger.blockDigests.append(zeros);
        }
    }
    if (m_fileHash && record == m_hashedRecords) {
        m_fileHash->addData(data);
        ++m_hashedRecords;
    } else {
        m_fileHash.reset();
    }
    if (m_recordSums.size() <= record)
        m_recordSums.resize(record + 1, 0);
    m_recordSums[record] = FileDigest::byteSum(data);
    const QByteArray digest = FileDigest::sha256Of(data);
    if (record == m_ledger.records())
        m_ledger.blockDigests.append(digest);
    else
        m_ledger.blockDigests[record] = digest;
    setBad(m_ledger.range.first + record, !sumOk);
    ++m_ledger.runs.last().blocksWritten;

    if (++m_sinceWrite < WriteInterval)
        return true;
    return write();
}

void LedgerRecorder::totalChecked(int loaderTotal, int computedTotal) {
    if (m_running)
        m_ledger.runs.last().total = Ledger::Total{loaderTotal & 0xFF, computedTotal & 0xFF};
}

bool LedgerRecorder::end(Ledger::Outcome outcome) {
    if (!m_running)
        return true;
    m_ledger.runs.last().outcome = outcome;
    m_running = false;
    return write();
}

bool LedgerRecorder::recordVerification(const Ledger& ledger, const QString& dumpPath,
                                        Ledger::Verification verification) {
    m_dumpPath = dumpPath;
    m_ledgerPath = Ledger::pathFor(dumpPath);
    m_ledger = ledger;
    m_running = false;
    QString problem;
    QList<quint8> recordSums;
    if (const std::optional<FileDigest> file =
            FileDigest::scan(dumpPath, FileDigest::Records::Digest, &problem)) {
        const auto confirmed = [&verification](int block) {
            return !verification.differingBlocks.contains(block) &&
                   !verification.uncomparedBlocks.contains(block);
        };
        const int vouched = m_ledger.records();
        const int held =
            static_cast<int>(std::min<qsizetype>(file->recordDigests.size(), m_ledger.range.count));
        while (m_ledger.records() < held && confirmed(m_ledger.range.first + m_ledger.records()))
            m_ledger.blockDigests.append(file->recordDigests.at(m_ledger.records()));
        if (m_ledger.records() > vouched) {
            const std::optional<FileDigest> taken = FileDigest::scan(
                dumpPath, FileDigest::Records::Digest, &problem, false, m_ledger.records());
            if (!taken)
                return fail(problem);
            m_ledger.sha256 = taken->prefixSha256;
        }
        recordSums = file->recordSums.first(
            std::min<qsizetype>(file->recordSums.size(), m_ledger.records()));
    }
    QList<int>& differing = verification.differingBlocks;
    QList<int>& uncompared = verification.uncomparedBlocks;
    for (auto block = differing.begin(); block != differing.end();) {
        if (qint64(*block) - m_ledger.range.first < m_ledger.records()) {
            ++block;
            continue;
        }
        uncompared.insert(std::lower_bound(uncompared.begin(), uncompared.end(), *block), *block);
        block = differing.erase(block);
    }
    m_ledger.recordVerification(verification, recordSums);
    if (!m_ledger.writeAtomically(m_ledgerPath, &problem))
        return fail(problem);
    return true;
}

bool LedgerRecorder::write() {
    m_sinceWrite = 0;
    const QDateTime now = Ledger::now();
    Ledger::Run& run = m_ledger.runs.last();
    run.finished = now;
    if (m_running)
        run.outcome = Ledger::Outcome::Interrupted;
    m_ledger.total = run.total;
    m_ledger.outcome = m_ledger.fileOutcome(run.outcome, m_recordSums);
    m_ledger.finished = now;

    QString problem;
    const std::optional<QByteArray> digest = fileDigest(&problem);
    if (!digest)
        return fail(QStringLiteral("%1: cannot write the ledger: %2").arg(m_ledgerPath, problem));
    m_ledger.sha256 = *digest;
    if (!m_ledger.writeAtomically(m_ledgerPath, &problem))
        return fail(problem);
    return true;
}

void LedgerRecorder::startFileDigest() {
    m_fileHash.reset();
    m_hashedRecords = 0;
    m_recordSums.clear();
    auto hash = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
    if (!QFileInfo::exists(m_dumpPath)) {
        m_fileHash = std::move(hash);
        return;
    }
    QFile file;
    QString problem;
    if (!openRegularFile(file, m_dumpPath, &problem))
        return;
    // One pass over the records already there: the running digest of the file, and each
    // record's sum, against which the totals of earlier runs are checked again.
    qint64 size = 0;
    int sum = 0;
    QByteArray chunk(64 * BlockSize, Qt::Uninitialized);
    for (qint64 got = 0; (got = file.read(chunk.data(), chunk.size())) > 0;) {
        hash->addData(QByteArrayView(chunk.constData(), got));
        for (qint64 i = 0; i < got; ++i) {
            sum += static_cast<quint8>(chunk.at(i));
            if (++size % BlockSize == 0) {
                m_recordSums.append(static_cast<quint8>(sum));
                sum = 0;
            }
        }
    }
    if (file.error() != QFileDevice::NoError || size % BlockSize != 0)
        return;
    m_fileHash = std::move(hash);
    m_hashedRecords = static_cast<int>(size / BlockSize);
}

std::optional<QByteArray> LedgerRecorder::fileDigest(QString* problem) {
    // The running digest stands for the file only while the file holds exactly what it took in.
    // Taking the result leaves it open to more data.
    if (m_fileHash && QFileInfo(m_dumpPath).size() == qint64(m_hashedRecords) * BlockSize)
        return m_fileHash->result();
    const std::optional<FileDigest> digest =
        FileDigest::scan(m_dumpPath, FileDigest::Records::Skip, problem, true);
    if (!digest)
        return std::nullopt;
    return digest->sha256;
}

bool LedgerRecorder::fail(const QString& problem) {
    m_error = problem;
    return false;
}
