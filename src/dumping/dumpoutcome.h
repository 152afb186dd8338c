#pragma once

#include "dumpplan.h"
#include "ledger.h"
#include "transfersummary.h"

#include <QList>
#include <QString>

#include <optional>

// How a dump run ended, whatever its mode: each front end derives what it shows from it (the
// command line its exit status, the window its message).
struct DumpOutcome {
    enum class Ending {
        Finished,      // the last loader dialogue reached the loader's total
        PortNotOpened, // a loader dialogue's port could not be opened (error)
        FileError,     // a response file or the dump file failed (summary)
        DeviceLost,
        CutShort,    // the port closed under a transfer
        TimedOut,    // the front end stopped the run: a limit expired
        Interrupted, // the front end stopped the run: the operator asked
    };

    DumpPlan::Mode mode = DumpPlan::Mode::NewDump;
    Ending ending = Ending::Finished;
    bool transferStarted = false; // in the last loader dialogue
    TransferSummary summary;      // of the last loader dialogue
    int recordsHeld = 0;          // a new dump or a resume: the records the file holds now
    BlockRange fileRange;         // the whole range of the file
    // A verification that reached its end: what it found, as the ledger keeps it.
    Ledger::Verification verification;
    QString keptAs; // a new dump: where the old file was set aside, if it held anything
    std::optional<Ledger> ledger; // as the run leaves the file
    QString ledgerError;          // why the ledger could not be written, if it could not
    QString error;                // why the port could not be opened

    // What a verification found, as each front end tells it, block numbers ascending.
    struct Findings {
        QList<int> flashDiffers;     // records with a good sum that the device reads otherwise
        QList<int> badRecordsDiffer; // records whose sum had failed, read otherwise: a repair
        QList<int> badReads;         // came with a bad sum: to be compared again
        QList<int> notInFile;        // no record to compare with: a resume reads them
    };
    Findings findings() const;

    // A new dump or a resume: the records of the file still to read.
    int blocksLeft() const { return fileRange.count - recordsHeld; }
    // Whether a resume can go on from where this run left the file: a new dump or a resume that
    // stopped part way after its transfer had begun. One that never reached its transfer wrote
    // nothing, and the file is as it was: nothing to resume.
    bool resumable() const {
        const bool stopped = ending == Ending::DeviceLost || ending == Ending::CutShort ||
                             ending == Ending::TimedOut || ending == Ending::Interrupted;
        return (mode == DumpPlan::Mode::NewDump || mode == DumpPlan::Mode::Resume) && stopped &&
               transferStarted && blocksLeft() > 0;
    }

    // Ran to its end and left a complete file (a verification: found it identical).
    bool complete() const {
        if (ending != Ending::Finished)
            return false;
        if (mode == DumpPlan::Mode::Verify)
            return verification.identical();
        return ledger && ledger->outcome == Ledger::Outcome::Complete;
    }
};
