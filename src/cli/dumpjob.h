#pragma once

#include <QString>

class CliOptions;

// What one run asks the loader for, in the texts the dialogue reads from its operator side, after
// the files it needs have been checked. With --resume the range is cut down to the blocks the
// dump file does not hold yet.
class DumpJob {
public:
    // Checks the output path and plans a resume. On failure problem names the path and the
    // reason (exit status 3).
    static DumpJob prepare(const CliOptions& options);

    bool ok() const { return problem.isEmpty(); }
    QString dumpPath() const { return folderText + fileName; }
    // Blocks this run asks for.
    int blockCount() const;

    QString problem;
    QString firstBlockText;
    QString blockCountText;
    QString folderText; // ends in "/"
    QString fileName;
    QString responsesFolder;
    int requestedFirst = 0; // the range as given, before a resume cut it down
    int requestedCount = 0;
    int resumedRecords = 0;
    qint64 cutBytes = 0; // trailing partial record dropped for the resume
    bool alreadyComplete = false;

private:
    bool planResume();
};
