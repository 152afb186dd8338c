#include "plantext.h"

#include "exitstatus.h"
#include "wording.h"

#include <QDir>

QString cliDumpPathText(const DumpPath& problem) {
    switch (problem.problem) {
    case DumpPath::Problem::None:
        return {};
    case DumpPath::Problem::Folder:
        return QStringLiteral("it is a folder");
    case DumpPath::Problem::Device:
        return QStringLiteral("it is a device, not a file");
    case DumpPath::Problem::Pipe:
        return QStringLiteral("it is a pipe (FIFO), not a file");
    case DumpPath::Problem::Socket:
        return QStringLiteral("it is a socket, not a file");
    case DumpPath::Problem::Unwritable:
        return problem.systemText;
    case DumpPath::Problem::LinkInLockedFolder:
        return QStringLiteral("it is a symbolic link that cannot be replaced in its folder");
    case DumpPath::Problem::OldFileNotKept:
        return QStringLiteral("the file there cannot be kept under another name in its folder "
                              "(%1)")
            .arg(problem.systemText);
    }
    return {};
}

namespace {

// A file of the run as a clash names it.
QString outputText(OutputPaths::Role role) {
    switch (role) {
    case OutputPaths::Role::Dump:
        return QStringLiteral("the dump file");
    case OutputPaths::Role::Ledger:
        return QStringLiteral("the dump's ledger");
    case OutputPaths::Role::Trace:
        return QStringLiteral("--trace");
    case OutputPaths::Role::Map:
        return QStringLiteral("--map");
    case OutputPaths::Role::Device:
        return QStringLiteral("the serial device");
    }
    return {};
}

// The file a clash is with: "the dump file", "the --trace file".
QString otherOutputText(OutputPaths::Role role) {
    return role == OutputPaths::Role::Trace || role == OutputPaths::Role::Map
               ? QStringLiteral("the %1 file").arg(outputText(role))
               : outputText(role);
}

// Without a usable ledger the file is read again whole; a file that was to be checked is left
// alone, and the flash read into another one.
QString startAgainText(const DumpPlan& plan) {
    return plan.mode == DumpPlan::Mode::Verify
               ? QStringLiteral("dump the flash into another file (-o) to compare with it")
               : QStringLiteral("a dump without --resume or --repair reads it whole");
}

} // namespace

QString cliRefusalText(const DumpPlan& plan) {
    const DumpPlan::Refusal& refusal = *plan.refusal;
    const QString doing = plan.mode == DumpPlan::Mode::Verify   ? QStringLiteral("verify")
                          : plan.mode == DumpPlan::Mode::Repair ? QStringLiteral("repair")
                                                                : QStringLiteral("resume");
    // All at once: a path may itself hold a %.
    switch (refusal.kind) {
    case DumpPlan::Refusal::Kind::NoCount:
        return QStringLiteral("--count takes a number of blocks from 1 to %1")
            .arg(BlockRange::LargestCount);
    case DumpPlan::Refusal::Kind::Folder:
        return QStringLiteral("the output folder %1 does not exist")
            .arg(QDir::cleanPath(refusal.path));
    case DumpPlan::Refusal::Kind::FileName:
        return QStringLiteral("the output file name \"%1\" is not valid")
            .arg(plan.request.fileName);
    case DumpPlan::Refusal::Kind::Range:
        return QStringLiteral("the block range is not valid: first block \"%1\", count \"%2\"")
            .arg(plan.request.firstBlockText, plan.request.blockCountText);
    case DumpPlan::Refusal::Kind::DumpPath:
        return QStringLiteral("cannot write the dump file %1: %2")
            .arg(refusal.path, cliDumpPathText(refusal.pathProblem));
    case DumpPlan::Refusal::Kind::LedgerPath:
        return QStringLiteral("cannot write the ledger %1: %2")
            .arg(refusal.path, cliDumpPathText(refusal.pathProblem));
    case DumpPlan::Refusal::Kind::NoLedger:
        return QStringLiteral("cannot %1 %2: it has no ledger (%3); %4")
            .arg(doing, plan.dumpPath(), refusal.path, startAgainText(plan));
    case DumpPlan::Refusal::Kind::LedgerUnreadable:
        return QStringLiteral("cannot %1 %2: %3; %4")
            .arg(doing, plan.dumpPath(), refusal.detail, startAgainText(plan));
    case DumpPlan::Refusal::Kind::FileDoesNotMatch:
        return QStringLiteral("cannot %1: %2; %3").arg(doing, refusal.detail, startAgainText(plan));
    case DumpPlan::Refusal::Kind::LedgerForAnotherRange:
        return QStringLiteral("cannot resume %1: its ledger is for %2, not %3")
            .arg(plan.dumpPath(), blockRange(refusal.ledgerRange),
                 blockRange(refusal.requestedRange));
    case DumpPlan::Refusal::Kind::OutputPath:
        return QStringLiteral("cannot write the %1 %2: %3")
            .arg(refusal.output == OutputPaths::Role::Trace ? QStringLiteral("trace")
                                                            : QStringLiteral("map"),
                 refusal.path, cliDumpPathText(refusal.pathProblem));
    case DumpPlan::Refusal::Kind::OutputClash:
        return QStringLiteral("%1 %2 is %3 (%4); name another file")
            .arg(outputText(refusal.clash->entry.role), refusal.clash->entry.path,
                 otherOutputText(refusal.clash->other.role), refusal.clash->other.path);
    }
    return {};
}

QString cliSettledText(const DumpPlan& plan) {
    switch (*plan.settled) {
    case DumpPlan::Settled::NothingToDo:
        return plan.mode == DumpPlan::Mode::Repair
                   ? QStringLiteral("%1: every record is there with a good sum; nothing to "
                                    "repair.")
                         .arg(plan.dumpPath())
                   : QStringLiteral("%1 already holds all %2 records; nothing to do.")
                         .arg(plan.dumpPath())
                         .arg(plan.fileRange.count);
    case DumpPlan::Settled::BadBlocks:
        return QStringLiteral("%1: records complete, %2 with a bad sum: use --repair %1")
            .arg(plan.dumpPath(), counted(plan.ledger->badBlocks.size(), QStringLiteral("block")));
    case DumpPlan::Settled::TotalMismatch:
    case DumpPlan::Settled::TotalUnchecked:
        return totalsNotVouchingText(plan.dumpPath(),
                                     *plan.settled == DumpPlan::Settled::TotalMismatch);
    case DumpPlan::Settled::FlashDiffers:
        return QStringLiteral("%1: the latest --verify found the decoder's flash unlike this file "
                              "(differing blocks %2); reading from it would mix two flashes. "
                              "--verify it against the decoder it came from, or dump into "
                              "another file")
            .arg(plan.dumpPath(), blockRunsText(plan.ledger->verified->differingBlocks));
    }
    return {};
}

int cliSettledStatus(const DumpPlan& plan) {
    return *plan.settled == DumpPlan::Settled::NothingToDo ? ExitComplete : ExitIncomplete;
}

QString totalsNotVouchingText(const QString& dumpPath, bool mismatch) {
    return mismatch ? QStringLiteral("%1: records complete, but the loader's total did not match "
                                     "them: use --verify %1")
                          .arg(dumpPath)
                    : QStringLiteral("%1: records complete, total never checked: use --verify %1")
                          .arg(dumpPath);
}
