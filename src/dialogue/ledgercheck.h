#pragma once

#include "ledger.h"

#include <QString>

// How a dump file stands against its ledger: how many of its records the ledger vouches for
// (their digests match), and, when the file cannot be trusted as the ledger describes it, why.
//
// The file may hold more than the ledger's records: bytes written after the ledger's last
// write, by a run that ended before it could write the ledger again. Those are not vouched for
// but do not make the file disagree; a resume drops them and reads those blocks again.
class LedgerCheck {
public:
    enum class Verdict {
        Matches,         // every record of the ledger is in the file as recorded
        Unreadable,      // the file is missing or cannot be read
        LongerThanRange, // more bytes than the ledger's block range holds
        Shorter,         // fewer whole records than the ledger vouches for
        RecordDiffers,   // a record's digest differs from the ledger's
        DigestDiffers,   // the records match one by one, but not the digest of them all
    };

    static LedgerCheck run(const Ledger& ledger, const QString& dumpPath,
                           const QString& ledgerPath);
    static LedgerCheck run(const Ledger& ledger, const QString& dumpPath) {
        return run(ledger, dumpPath, Ledger::pathFor(dumpPath));
    }

    bool matches() const { return verdict == Verdict::Matches; }

    Verdict verdict = Verdict::Unreadable;
    // Names the dump file, its ledger and what is wrong; empty when the file matches.
    QString problem;
    qint64 fileSize = 0;
    int fileRecords = 0;        // whole records in the file
    int vouchedRecords = 0;     // leading records whose digest matches the ledger's
    qint64 unvouchedBytes = 0;  // bytes after the ledger's records, when the file matches
    bool sha256Matches = false; // the file is exactly what the ledger last described
    QList<quint8> recordSums;   // each whole record's bytes added, modulo 256
};
