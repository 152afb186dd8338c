#include "dumpplan.h"

#include "ledgercheck.h"
#include "numeric.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Leading and trailing spaces only: a tab is part of the entry.
QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

bool endsInSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator());
}

} // namespace

DumpPlan DumpPlan::prepare(const Request& request) {
    DumpPlan plan;
    plan.request = request;
    plan.mode = request.mode;
    const auto refuse = [&plan](const Refusal& refusal) {
        plan.refusal = refusal;
        return plan;
    };
    // The entries, the count first: nothing else matters without it.
    if (request.blockEntries && numericValue(request.blockCountText) == 0.0)
        return refuse({Refusal::Kind::NoCount, {}, {}, {}, {}, {}});
    // The folder checked is the folder the dump goes to: the spaces around it are dropped (the
    // operator's platform drops trailing spaces from folder names too).
    const QString folder = trimSpaces(request.folderText);
    if (folder.isEmpty() || !QFileInfo::exists(folder))
        return refuse({Refusal::Kind::Folder, folder, {}, {}, {}, {}});
    plan.request.folderText = endsInSeparator(folder) ? folder : folder + QDir::separator();
    // The name is that of a file in the folder checked, never a path leading elsewhere.
    const QString fileName = trimSpaces(request.fileName);
    if (fileName.isEmpty())
        return refuse({Refusal::Kind::FileName, {}, {}, {}, {}, {}});
    if (fileName.contains(QLatin1Char('/')) || fileName.contains(QDir::separator()))
        return refuse({Refusal::Kind::FileName, {}, {}, QStringLiteral("separator"), {}, {}});
    // A range the transfer could not read goes no further: nothing of it reaches the loader. A
    // verification and a repair read the range of the file's ledger instead.
    const BlockBoxes boxes = BlockBoxes::read(request.firstBlockText, request.blockCountText);
    plan.fileRange = boxes.range;
    if (request.blockEntries && !boxes.ok()) {
        Refusal refusal{Refusal::Kind::Range, {}, {}, {}, {}, {}};
        refusal.range = boxes.problem;
        return refuse(refusal);
    }

    // Every mode writes the ledger, a verification too.
    const QString ledgerPath = Ledger::pathFor(plan.dumpPath());
    // Verifying only compares with the file.
    if (plan.mode != Mode::Verify) {
        const DumpPath target = DumpPath::check(plan.dumpPath(), plan.mode == Mode::NewDump
                                                                     ? DumpPath::Use::NewDump
                                                                     : DumpPath::Use::KeepRecords);
        if (!target.ok())
            return refuse({Refusal::Kind::DumpPath, plan.dumpPath(), target, {}, {}, {}});
    }
    const DumpPath ledgerTarget = DumpPath::checkLedger(ledgerPath);
    if (!ledgerTarget.ok())
        return refuse({Refusal::Kind::LedgerPath, ledgerPath, ledgerTarget, {}, {}, {}});
    using Role = OutputPaths::Role;
    const std::optional<OutputPaths::Clash> clash =
        OutputPaths::clash({{Role::Device, request.devicePath},
                            {Role::Dump, plan.dumpPath()},
                            {Role::Ledger, ledgerPath},
                            {Role::Trace, request.tracePath},
                            {Role::Map, request.mapPath}});
    if (clash) {
        Refusal refusal{Refusal::Kind::OutputClash, clash->entry.path, {}, {}, {}, {}};
        refusal.output = clash->entry.role;
        refusal.clash = clash;
        return refuse(refusal);
    }
    for (const auto& [role, path] :
         {std::pair{Role::Trace, request.tracePath}, std::pair{Role::Map, request.mapPath}}) {
        const DumpPath target =
            path.isEmpty() ? DumpPath{} : DumpPath::check(path, DumpPath::Use::Replaced);
        if (!target.ok()) {
            Refusal refusal{Refusal::Kind::OutputPath, path, target, {}, {}, {}};
            refusal.output = role;
            return refuse(refusal);
        }
    }
    switch (plan.mode) {
    case Mode::NewDump:
        plan.passes.append({plan.fileRange, 0});
        return plan;
    case Mode::Resume:
        if (!QFileInfo::exists(plan.dumpPath()) && !QFileInfo::exists(ledgerPath)) {
            // Nothing to resume: the whole range is dumped.
            plan.addPass(plan.fileRange);
            return plan;
        }
        break;
    case Mode::Verify:
    case Mode::Repair:
        break;
    }

    if (!plan.loadLedger())
        return plan;
    const BlockRange range = plan.ledger->range;
    if (plan.mode == Mode::Resume && range != plan.fileRange)
        return refuse(
            {Refusal::Kind::LedgerForAnotherRange, ledgerPath, {}, {}, range, plan.fileRange});
    plan.fileRange = range;
    // Blocks read from another flash would join records of this one.
    if (plan.mode != Mode::Verify && plan.ledger->flashDiffers()) {
        plan.settled = Settled::FlashDiffers;
        return plan;
    }
    switch (plan.mode) {
    case Mode::Resume:
        plan.keptRecords = plan.ledger->records();
        if (plan.keptRecords < range.count)
            plan.addPass({range.first + plan.keptRecords, range.count - plan.keptRecords});
        break;
    case Mode::Verify:
        plan.addPass(range);
        break;
    case Mode::Repair:
        for (const BlockRange& blocks : plan.ledger->blocksToRead())
            plan.addPass(blocks);
        break;
    case Mode::NewDump:
        break;
    }
    // Every record there and nothing to read again: the run settles by how the file stands.
    if (plan.mode != Mode::Verify && plan.passes.isEmpty())
        plan.settle();
    return plan;
}

bool DumpPlan::loadLedger() {
    const QString ledgerPath = Ledger::pathFor(dumpPath());
    if (!QFileInfo::exists(ledgerPath)) {
        refusal = Refusal{Refusal::Kind::NoLedger, ledgerPath, {}, {}, {}, {}};
        return false;
    }
    QString error;
    ledger = Ledger::load(ledgerPath, &error);
    if (!ledger) {
        refusal = Refusal{Refusal::Kind::LedgerUnreadable, ledgerPath, {}, error, {}, {}};
        return false;
    }
    const LedgerCheck check = LedgerCheck::run(*ledger, dumpPath());
    if (!check.matches()) {
        refusal = Refusal{Refusal::Kind::FileDoesNotMatch, dumpPath(), {}, check.problem, {}, {}};
        return false;
    }
    m_recordSums = check.recordSums;
    return true;
}

void DumpPlan::settle() {
    switch (ledger->standing(m_recordSums)) {
    case Ledger::Standing::Complete:
        settled = Settled::NothingToDo;
        return;
    case Ledger::Standing::FlashDiffers:
        settled = Settled::FlashDiffers;
        return;
    case Ledger::Standing::BadSums:
        settled = Settled::BadBlocks;
        return;
    case Ledger::Standing::TotalMismatch:
        settled = Settled::TotalMismatch;
        return;
    case Ledger::Standing::TotalUnchecked:
    case Ledger::Standing::Missing:
        settled = Settled::TotalUnchecked;
        return;
    }
}

void DumpPlan::addPass(const BlockRange& range) {
    passes.append({range, range.first - fileRange.first});
}
