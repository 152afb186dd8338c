#pragma once

#include <QList>
#include <QString>

// How a dialogue that ended by itself ended, for front ends that report more than the log.
struct TransferSummary {
    enum class Outcome {
        Completed,  // the total exchange took place (matched or not)
        PortClosed, // the port was closed under a running transfer
        DeviceLost, // the device went away
        FileError,  // a response file or the dump file failed
    };

    Outcome outcome = Outcome::Completed;
    int count = 0;         // blocks asked for in this transfer
    int blocksWritten = 0; // records written by this transfer
    QList<int> badSumBlocks;
    bool totalReceived = false;
    int loaderTotal = 0;
    int computedTotal = 0;
    // What failed, for the outcomes other than Completed and PortClosed, so that a front end
    // can put it in its own words.
    enum class Failure {
        None,
        ResponsesFolderMissing, // failedPath: the folder
        ResponseFileUnreadable, // failedPath: the file
        DumpNotCreated,
        DumpNotWritten,
        DeviceLost,
    };

    Failure failure = Failure::None;
    QString failedPath;
    QString detail; // the reason: the system's words, or the front end's for the dump's path
    QString dumpPath;
    QString ledgerError; // why the ledger beside the dump could not be written, if it could not

    bool totalMatched() const { return totalReceived && loaderTotal == computedTotal; }
};
