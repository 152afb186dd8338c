#include "plantext.h"

#include "exitstatus.h"
#include "wording.h"

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
    }
    return {};
}

QString cliRefusalText(const DumpPlan& plan) {
    const DumpPlan::Refusal& refusal = *plan.refusal;
    const QString doing = plan.mode == DumpPlan::Mode::Verify   ? QStringLiteral("verify")
                          : plan.mode == DumpPlan::Mode::Repair ? QStringLiteral("repair")
                                                                : QStringLiteral("resume");
    // All at once: a path may itself hold a %.
    switch (refusal.kind) {
    case DumpPlan::Refusal::Kind::DumpPath:
        return QStringLiteral("cannot write the dump file %1: %2")
            .arg(refusal.path, cliDumpPathText(refusal.pathProblem));
    case DumpPlan::Refusal::Kind::LedgerPath:
        return QStringLiteral("cannot write the ledger %1: %2")
            .arg(refusal.path, cliDumpPathText(refusal.pathProblem));
    case DumpPlan::Refusal::Kind::NoLedger:
        return QStringLiteral("cannot %1 %2: it has no ledger (%3)")
            .arg(doing, plan.dumpPath(), refusal.path);
    case DumpPlan::Refusal::Kind::LedgerUnreadable:
        return QStringLiteral("cannot %1 %2: %3").arg(doing, plan.dumpPath(), refusal.detail);
    case DumpPlan::Refusal::Kind::FileDoesNotMatch:
        return QStringLiteral("cannot %1: %2").arg(doing, refusal.detail);
    case DumpPlan::Refusal::Kind::LedgerForAnotherRange:
        return QStringLiteral("cannot resume %1: its ledger is for %2, not %3")
            .arg(plan.dumpPath(), blockRange(refusal.ledgerRange),
                 blockRange(refusal.requestedRange));
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
        return QStringLiteral("%1: records complete, %2 with a bad sum: use --repair")
            .arg(plan.dumpPath(), counted(plan.ledger->badBlocks.size(), QStringLiteral("block")));
    case DumpPlan::Settled::TotalMismatch:
    case DumpPlan::Settled::TotalUnchecked:
        return totalsNotVouchingText(plan.dumpPath(),
                                     *plan.settled == DumpPlan::Settled::TotalMismatch);
    }
    return {};
}

int cliSettledStatus(const DumpPlan& plan) {
    return *plan.settled == DumpPlan::Settled::NothingToDo ? ExitComplete : ExitIncomplete;
}

QString totalsNotVouchingText(const QString& dumpPath, bool mismatch) {
    return mismatch ? QStringLiteral("%1: records complete, but the loader's total did not match "
                                     "them: use --verify")
                          .arg(dumpPath)
                    : QStringLiteral("%1: records complete, total never checked: use --verify")
                          .arg(dumpPath);
}
