#pragma once

#include "dumppath.h"
#include "dumpplan.h"

#include <QString>

// The command line's words for what the dump layer refuses or settles.

// What stands at a path where the dump or its ledger goes: "it is a folder".
QString cliDumpPathText(const DumpPath& problem);

// Why the plan cannot be carried out, naming the files (exit status 3).
QString cliRefusalText(const DumpPlan& plan);

// What a plan that needs no loader says, and its exit status.
QString cliSettledText(const DumpPlan& plan);
int cliSettledStatus(const DumpPlan& plan);

// Why a file that holds every record with a good sum is still not complete: a total of a run
// over it did not match the records, or some were read by a run whose total never came.
QString totalsNotVouchingText(const QString& dumpPath, bool mismatch);
