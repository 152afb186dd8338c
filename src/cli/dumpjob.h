#pragma once

#include "clioptions.h"
#include "dialogue.h"
#include "ledger.h"

#include <QList>
#include <QString>

#include <optional>

// What one run of decodump-cli asks the loader for and where the blocks go, after the files it
// needs have been checked: a new dump; a resume (the records the file's ledger vouches for are
// kept, the rest asked for); a verification (the file's range read again into memory); or a
// repair (the bad or missing blocks read again, one loader dialogue per run of them).
class DumpJob {
public:
    // One loader dialogue: its range, in the texts the window's boxes would hold, and where its
    // blocks go.
    struct Pass {
        int first = 0;
        int count = 0;
        QString firstBlockText;
        QString blockCountText;
        Dialogue::Target target;
    };

    // Checks the output path and, for a resume, a verification or a repair, the ledger and the
    // file against it. On failure `problem` names the path and the reason (exit status 3).
    static DumpJob prepare(const CliOptions& options);

    bool ok() const { return problem.isEmpty(); }
    QString dumpPath() const { return folderText + fileName; }

    CliOptions::Mode mode = CliOptions::Mode::Dump;
    bool resume = false;
    QString problem;
    // Set when the run needs no loader at all: its exit status, and what to say.
    std::optional<int> settledStatus;
    QString settledText;
    QString folderText; // ends in "/"
    QString fileName;
    QString responsesFolder;
    int requestedFirst = 0; // the whole range of the file
    int requestedCount = 0;
    int keptRecords = 0; // records a resume keeps
    QList<Pass> passes;
    // The ledger that vouches for the file (resume, verify, repair), checked against it, and
    // how the file stands by it.
    std::optional<Ledger> ledger;
    Ledger::Standing standing = Ledger::Standing::Missing;

private:
    bool loadLedger(const QString& doing);
    // The file holds every record: settles the run by how the file stands, `doneText` when
    // there is nothing left to do.
    void settleComplete(const QString& doneText);
    void planResume();
    void planVerify();
    void planRepair();
    void addPass(int first, int count, Dialogue::Target::Kind kind);
};
