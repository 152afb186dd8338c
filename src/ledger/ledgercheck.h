#pragma once

#include "ledger.h"

#include <QString>

// How a dump file stands against its ledger: whether every record the ledger vouches for is in
// the file as recorded, and, when the file cannot be trusted as the ledger describes it, why.
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

    // Checks the dump file against the ledger beside it (Ledger::pathFor(dumpPath)), which the
    // messages name.
    static LedgerCheck run(const Ledger& ledger, const QString& dumpPath);

    bool matches() const { return verdict == Verdict::Matches; }

    Verdict verdict = Verdict::Unreadable;
    // Names the dump file, its ledger and what is wrong; empty when the file matches.
    QString problem;
    QList<quint8> recordSums; // each whole record's bytes added, modulo 256
};
