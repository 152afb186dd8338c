#pragma once

#include "blockboxes.h"
#include "blockrange.h"
#include "dumppath.h"
#include "ledger.h"
#include "outputpaths.h"

#include <QList>
#include <QString>

#include <optional>

// What one dump asks the loader for and where the blocks go, once the files it needs have been
// checked: a new dump; a resume (the records the file's ledger vouches for are kept, the rest
// asked for); a verification (the file's range read again and compared); or a repair (the bad
// or missing blocks read again, one loader dialogue per run of them). The same plan for every
// front end; each words its refusals and its settled ends.
class DumpPlan {
public:
    enum class Mode { NewDump, Resume, Verify, Repair };

    // What the operator asked for: the mode, the dump file as the folder text (ending in the
    // separator) and the file name, and for a new dump or a resume the block texts; the device
    // the port opens, and the other files the run writes (empty: none).
    struct Request {
        Mode mode = Mode::NewDump;
        QString folderText;
        QString fileName;
        QString firstBlockText;
        QString blockCountText;
        // (The braces let a request name only the members before them without a warning.)
        QString devicePath{};
        QString tracePath{};
        QString mapPath{};
        // The block texts are the operator's entries and are checked; false: a verification or
        // a repair that names only the file and takes its range from the ledger.
        bool blockEntries = true;
    };

    // Why the plan cannot be carried out; nothing was touched.
    struct Refusal {
        // The entries, in the order they are checked.
        enum class Kind {
            NoCount,               // the count text gives no blocks
            Folder,                // the folder text names no folder that exists (path)
            FileName,              // no file name, or one with a folder separator (detail)
            Range,                 // the block texts give no range a dump can ask for (range)
            DumpPath,              // what stands at the dump's path (pathProblem)
            LedgerPath,            // what stands at the ledger's path (pathProblem)
            NoLedger,              // path: the ledger that is not there
            LedgerUnreadable,      // detail: the reader's words, naming the ledger
            FileDoesNotMatch,      // detail: the check's words, naming the file and its ledger
            LedgerForAnotherRange, // the ledger's range and the one asked for
            OutputPath,            // what stands at the path of a trace or a map (output)
            OutputClash,           // two of the run's files, or a file and the device (clash)
        };
        Kind kind = Kind::DumpPath;
        QString path;
        DumpPath pathProblem;
        QString detail;
        BlockRange ledgerRange;
        BlockRange requestedRange;
        OutputPaths::Role output = OutputPaths::Role::Dump;
        std::optional<OutputPaths::Clash> clash{};
        BlockBoxes::Problem range = BlockBoxes::Problem::None;
    };

    // The file needs no loader at all: every record is there, and this is how it stands; or the
    // device is not what the file was read from, and reading from it would mix two flashes.
    enum class Settled {
        NothingToDo,    // complete
        BadBlocks,      // blocks to repair
        TotalMismatch,  // a total does not match the records: a verification tells
        TotalUnchecked, // records read by a run whose total never came: a verification tells
        FlashDiffers,   // the latest verification found the device's flash unlike the file
    };

    // One loader dialogue: its range, and where its blocks go.
    struct Pass {
        BlockRange range;
        int firstRecord = 0; // the record of the file the pass's first block goes to
    };

    // Reads the block texts (the only place they are read), checks the dump's and the ledger's
    // paths and, for a resume, a verification or a repair, the ledger and the file against it,
    // and plans the loader dialogues.
    static DumpPlan prepare(const Request& request);

    bool ok() const { return !refusal.has_value(); }
    // Whether the folder text passed its check: request.folderText is then the folder the dump
    // goes to, without the spaces around it and ending in a separator.
    bool folderChecked() const {
        return !refusal ||
               (refusal->kind != Refusal::Kind::NoCount && refusal->kind != Refusal::Kind::Folder);
    }
    QString dumpPath() const { return request.folderText + request.fileName; }
    // Whether the blocks go into the file as a resume, keeping the records before them.
    bool resumes() const { return mode == Mode::Resume && keptRecords > 0; }

    Request request;
    Mode mode = Mode::NewDump;
    std::optional<Refusal> refusal;
    // A new dump whose ledger cannot be written where it goes (a LedgerPath refusal's facts):
    // the dump stands on its own and goes ahead without a ledger, once the operator is told.
    std::optional<Refusal> ledgerWarning;
    std::optional<Settled> settled;
    BlockRange fileRange; // the whole range of the file
    int keptRecords = 0;  // records a resume keeps
    QList<Pass> passes;
    // The ledger that vouches for the file (resume, verify, repair), checked against it.
    std::optional<Ledger> ledger;

private:
    QList<quint8> m_recordSums; // of the file, as the check read it
    std::optional<Refusal> checkEntries();
    std::optional<Refusal> checkOutputs();
    void planPasses();
    bool loadLedger();
    void settle();
    void addPass(const BlockRange& range);
};
