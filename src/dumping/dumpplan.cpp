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
    plan.refusal = plan.checkEntries();
    if (!plan.refusal)
        plan.refusal = plan.checkOutputs();
    if (!plan.refusal)
        plan.planPasses();
    return plan;
}

std::optional<DumpPlan::Refusal> DumpPlan::checkEntries() {
    // The count first: nothing else matters without it.
    if (request.blockEntries && numericValue(request.blockCountText) == 0.0)
        return Refusal{Refusal::Kind::NoCount, {}, {}, {}, {}, {}};
    // The folder checked is the folder the dump goes to: the spaces around it are dropped (the
    // operator's platform drops trailing spaces from folder names too).
    const QString folder = trimSpaces(request.folderText);
    if (folder.isEmpty() || !QFileInfo::exists(folder))
        return Refusal{Refusal::Kind::Folder, folder, {}, {}, {}, {}};
    request.folderText = endsInSeparator(folder) ? folder : folder + QDir::separator();
    // The name is that of a file in the folder checked, never a path leading elsewhere.
    const QString fileName = trimSpaces(request.fileName);
    if (fileName.isEmpty())
        return Refusal{Refusal::Kind::FileName, {}, {}, {}, {}, {}};
    if (fileName.contains(QLatin1Char('/')) || fileName.contains(QDir::separator()))
        return Refusal{Refusal::Kind::FileName, {}, {}, QStringLiteral("separator"), {}, {}};
    // A range the transfer could not read goes no further: nothing of it reaches the loader. A
    // verification and a repair read the range of the file's ledger instead.
    const BlockBoxes boxes = BlockBoxes::read(request.firstBlockText, request.blockCountText);
    fileRange = boxes.range;
    if (request.blockEntries && !boxes.ok()) {
        Refusal refusal{Refusal::Kind::Range, {}, {}, {}, {}, {}};
        refusal.range = boxes.problem;
        return refusal;
    }
    return std::nullopt;
}

std::optional<DumpPlan::Refusal> DumpPlan::checkOutputs() {
    // Every mode writes the ledger, a verification too.
    const QString ledgerPath = Ledger::pathFor(dumpPath());
    // Verifying only compares with the file.
    if (mode != Mode::Verify) {
        const DumpPath target =
            DumpPath::check(dumpPath(), mode == Mode::NewDump ? DumpPath::Use::NewDump
                                                              : DumpPath::Use::KeepRecords);
        if (!target.ok())
            return Refusal{Refusal::Kind::DumpPath, dumpPath(), target, {}, {}, {}};
    }
    const DumpPath ledgerTarget = DumpPath::checkLedger(ledgerPath);
    if (!ledgerTarget.ok()) {
        const Refusal problem{Refusal::Kind::LedgerPath, ledgerPath, ledgerTarget, {}, {}, {}};
        // The other modes go on from the ledger, or record what they found in it.
        if (mode != Mode::NewDump)
            return problem;
        ledgerWarning = problem;
    }
    using Role = OutputPaths::Role;
    const std::optional<OutputPaths::Clash> clash =
        OutputPaths::clash({{Role::Device, request.devicePath},
                            {Role::Dump, dumpPath()},
                            {Role::Ledger, ledgerWarning ? QString() : ledgerPath},
                            {Role::Trace, request.tracePath},
                            {Role::Map, request.mapPath}});
    if (clash) {
        Refusal refusal{Refusal::Kind::OutputClash, clash->entry.path, {}, {}, {}, {}};
        refusal.output = clash->entry.role;
        refusal.clash = clash;
        return refusal;
    }
    for (const auto& [role, path] :
         {std::pair{Role::Trace, request.tracePath}, std::pair{Role::Map, request.mapPath}}) {
        const DumpPath target =
            path.isEmpty() ? DumpPath{} : DumpPath::check(path, DumpPath::Use::Replaced);
        if (!target.ok()) {
            Refusal refusal{Refusal::Kind::OutputPath, path, target, {}, {}, {}};
            refusal.output = role;
            return refusal;
        }
    }
    return std::nullopt;
}

void DumpPlan::planPasses() {
    switch (mode) {
    case Mode::NewDump:
        passes.append({fileRange, 0});
        return;
    case Mode::Resume:
        if (!QFileInfo::exists(dumpPath()) && !QFileInfo::exists(Ledger::pathFor(dumpPath()))) {
            // Nothing to resume: the whole range is dumped.
            addPass(fileRange);
            return;
        }
        break;
    case Mode::Verify:
    case Mode::Repair:
        break;
    }

    if (!loadLedger())
        return;
    const BlockRange range = ledger->range;
    if (mode == Mode::Resume && range != fileRange) {
        refusal = Refusal{Refusal::Kind::LedgerForAnotherRange,
                          Ledger::pathFor(dumpPath()),
                          {},
                          {},
                          range,
                          fileRange};
        return;
    }
    fileRange = range;
    // Blocks read from another flash would join records of this one.
    if (mode != Mode::Verify && ledger->flashDiffers()) {
        settled = Settled::FlashDiffers;
        return;
    }
    switch (mode) {
    case Mode::Resume:
        keptRecords = ledger->records();
        if (keptRecords < range.count)
            addPass({range.first + keptRecords, range.count - keptRecords});
        break;
    case Mode::Verify:
        addPass(range);
        break;
    case Mode::Repair:
        for (const BlockRange& blocks : ledger->blocksToRead())
            addPass(blocks);
        break;
    case Mode::NewDump:
        break;
    }
    // Every record there and nothing to read again: the run settles by how the file stands.
    if (mode != Mode::Verify && passes.isEmpty())
        settle();
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
