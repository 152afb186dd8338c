#pragma once

#include "ledger.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>
#include <QString>

#include <memory>
#include <optional>

// Keeps the ledger of one dump file while runs write into it. A front end calls it from the
// dump's events only:
//
//   begin(setup)                          once the loader has spoken, before the first run
//   beginRun(kind, range)                 when a transfer starts (after the dump file was
//                                         opened, and emptied for a new dump)
//   blockWritten(record, data, sumOk)     after each block was written into its record
//   totalChecked(loader, computed)        when the loader's total arrived
//   end(outcome)                          when the transfer ended, however it ended
//
// The ledger is written (atomically) at the start of each run, after every WriteInterval
// blocks, and at the end, so that a run that never reaches its end still leaves a ledger that
// matches the file: one written during a run says "interrupted" until the run ends. Record
// digests are kept as blocks arrive; the digest of the whole file is taken from the file at
// each write. Nothing here throws or shows anything: a ledger that could not be written is
// reported by the return values and error(), and the dump goes on.
class LedgerRecorder {
public:
    static constexpr int WriteInterval = 64;

    struct Setup {
        QString dumpPath;
        BlockRange range; // of the whole file
        Ledger::Device device;
        QByteArray loaderBanner; // as received; escaped into the ledger
        Ledger::Tool tool = Ledger::thisTool();
        // The ledger that vouches for the records already in the file, once checked against
        // it (resume, repair); none for a new file.
        std::optional<Ledger> previous;
    };

    void begin(const Setup& setup);
    // Starts a run that asks the loader for the blocks of `range` and writes the ledger. A new
    // run voids an earlier verification.
    bool beginRun(Ledger::RunKind kind, const BlockRange& range);
    // Record `record` of the file (0 for the file's first block) now holds `data`. A record
    // beyond the end of the file leaves the records in between as bad ones (zeros).
    bool blockWritten(int record, QByteArrayView data, bool sumOk);
    void totalChecked(int loaderTotal, int computedTotal);
    // Ends the run with the outcome of its transfer and writes the ledger. Without a running
    // run (the transfer never started) it does nothing: the file and its ledger stay as they
    // were.
    bool end(Ledger::Outcome outcome);
    // A verification read the range of the file that `ledger` vouches for again: records the
    // result (see Ledger::recordVerification) and writes the ledger. Records the file holds
    // beyond those the ledger vouches for (a run ended before it could write the ledger again)
    // are taken in as far as the verification found each the same as the device; a block
    // differing past them had no vouched record to differ from, and counts as uncompared.
    // Nothing else of the ledger changes.
    bool recordVerification(const Ledger& ledger, const QString& dumpPath,
                            Ledger::Verification verification);

    bool running() const { return m_running; }
    const Ledger& ledger() const { return m_ledger; }
    // Whether run `index` of the ledger vouches for its records as they now stand.
    bool runVouches(qsizetype index) const {
        return m_ledger.runVouches(m_ledger.runs.at(index), m_recordSums);
    }
    QString ledgerPath() const { return m_ledgerPath; }
    // What the last failed write or call could not do, naming the ledger or dump file.
    QString error() const { return m_error; }

private:
    bool write();
    bool fail(const QString& problem);
    // The digest of the dump file as it stands: kept up as records are appended in order (a new
    // dump, a resume), read from the file otherwise (a repair writes here and there).
    void startFileDigest();
    std::optional<QByteArray> fileDigest(QString* problem);

    Ledger m_ledger;
    QString m_dumpPath;
    QString m_ledgerPath;
    bool m_running = false;
    int m_sinceWrite = 0;
    QString m_error;
    std::unique_ptr<QCryptographicHash> m_fileHash; // of the first m_hashedRecords records
    int m_hashedRecords = 0;
    QList<quint8> m_recordSums; // each record's bytes added, modulo 256
};
