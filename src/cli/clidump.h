#pragma once

#include "clioptions.h"
#include "dumpplan.h"

#include <QString>

// The dump decodump-cli is asked for: its files as the system will take them, where the
// response files come from, and the dump layer's plan, or why it cannot be made.
struct CliDump {
    DumpPlan plan;
    QString responsesFolder;
    QString problem; // why the dump cannot start, naming the path (exit status 3)

    bool ok() const { return problem.isEmpty(); }

    static CliDump prepare(const CliOptions& options);
};
