#pragma once

#include "dumpoutcome.h"
#include "dumpplan.h"
#include "operatorside.h"
#include "progressmeter.h"

#include <QString>

// The window's words, in Spanish, for what the dump layer refuses or finds settled before the
// port opens, and for how a dump ended: each names the file and says what to do next.

// Why the plan cannot be carried out, or why it needs no loader; for a critical box.
QString windowRefusalText(const DumpPlan& plan);

// The lines that follow "Descarga finalizada." when a dump's last loader dialogue reached the
// loader's total, and whether they are a warning; empty for a new dump that went well.
struct EndNote {
    QString lines;
    bool warning = false;
};
EndNote windowEndNote(const DumpOutcome& outcome);

// The end of a repair's loader dialogue (index from 0) that is not its last.
QString windowRepairStepText(int index, int steps, const BlockRange& done);
// Before the next loader dialogue of a repair.
QString windowNextPassText(const BlockRange& next, const QString& port);

// After a dump the device cut short: what the file keeps and that Reanudar continues it.
QString windowCutShortText(const DumpPlan& plan, const DumpOutcome& outcome);
// After a dump that ended before its transfer began: the file is untouched.
QString windowNothingWrittenText(const QString& dumpPath);

// A new dump that goes ahead without its ledger, which cannot be written where it goes.
QString windowLedgerWarningText(const DumpPlan::Refusal& problem);

// Where a new dump set aside the file that stood at its path.
QString windowKeptText(const QString& keptAs);

// Another run holds the dump file.
QString windowDumpInUseText(const QString& dumpPath);

// The advice while the port waits: nothing has come from the loader yet, or what comes is not
// its text.
QString windowNothingYetText(const QString& port);
QString windowNotLoaderText(const QString& port);

// Asked before a transfer under way is stopped: what the file keeps.
QString windowStopQuestion(const DumpPlan& plan);

// The line below the map: how far the file has come, and while the run goes on, the time left.
QString windowProgressText(const ProgressMeter& progress, bool running);
