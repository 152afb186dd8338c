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

// Whether the files the command line writes besides the dump (the --trace, the --map) would be
// `path`, `what` to the operator: what to say when one would be, or empty. Same path, the same
// entry of a folder reached through links, or the same file under another name all count.
QString writtenFileClash(const CliOptions& options, const QString& path, const QString& what);
