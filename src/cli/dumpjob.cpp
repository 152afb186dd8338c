#include "dumpjob.h"

#include "dumppath.h"
#include "ledgercheck.h"
#include "numeric.h"
#include "programfolders.h"
#include "wording.h"

#include <QDir>
#include <QFileInfo>

namespace {

int wholeOrZero(const QString& text) {
    return wholeNumber(numericValue(text)).value_or(0);
}

} // namespace

DumpJob DumpJob::prepare(const CliOptions& options) {
    DumpJob job;
    job.mode = options.mode;
    job.resume = options.resume;
    job.requestedFirst = wholeOrZero(options.firstBlockText);
    job.requestedCount = wholeOrZero(options.blockCountText);

    // The path as the system will take it, so that messages name what is meant ("-o .." is the
    // parent folder, by its name).
    const QFileInfo output(QDir::cleanPath(QFileInfo(options.outputPath).absoluteFilePath()));
    const QString folder = output.absolutePath();
    job.folderText = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    job.fileName = output.fileName();

    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists()) {
        job.problem = QStringLiteral("the output folder %1 does not exist").arg(folder);
        return job;
    }
    if (!folderInfo.isDir()) {
        job.problem = QStringLiteral("the output folder %1 is not a folder").arg(folder);
        return job;
    }
    // Whether the loader will ask for response files shows only in the dialogue, which reads
    // them then; a dump through the keyword path needs none.
    job.responsesFolder = options.responsesFolder.isEmpty()
                              ? defaultResponsesFolder()
                              : QFileInfo(options.responsesFolder).absoluteFilePath();
    // Verifying only compares with the file.
    if (job.mode != CliOptions::Mode::Verify) {
        const DumpPath target =
            DumpPath::check(job.dumpPath(), job.resume || job.mode == CliOptions::Mode::Repair);
        if (!target.ok()) {
            job.problem = QStringLiteral("cannot write the dump file %1: %2")
                              .arg(job.dumpPath(), target.englishReason());
            return job;
        }
    }
    // Every mode writes the ledger, a verification too.
    const QString ledgerPath = Ledger::pathFor(job.dumpPath());
    const DumpPath ledgerTarget = DumpPath::checkLedger(ledgerPath);
    if (!ledgerTarget.ok()) {
        job.problem = QStringLiteral("cannot write the ledger %1: %2")
                          .arg(ledgerPath, ledgerTarget.englishReason());
        return job;
    }

    switch (job.mode) {
    case CliOptions::Mode::Dump:
        if (job.resume)
            job.planResume();
        else
            job.passes.append({job.requestedFirst,
                               job.requestedCount,
                               options.firstBlockText,
                               options.blockCountText,
                               {}});
        break;
    case CliOptions::Mode::Verify:
        job.planVerify();
        break;
    case CliOptions::Mode::Repair:
        job.planRepair();
        break;
    }
    return job;
}

bool DumpJob::loadLedger(const QString& doing) {
    const QString ledgerPath = Ledger::pathFor(dumpPath());
    if (!QFileInfo::exists(ledgerPath)) {
        problem = QStringLiteral("cannot %1 %2: it has no ledger (%3)")
                      .arg(doing, dumpPath(), ledgerPath);
        return false;
    }
    QString error;
    ledger = Ledger::load(ledgerPath, &error);
    if (!ledger) {
        problem = QStringLiteral("cannot %1 %2: %3").arg(doing, dumpPath(), error);
        return false;
    }
    const LedgerCheck check = LedgerCheck::run(*ledger, dumpPath(), ledgerPath);
    if (!check.matches()) {
        problem = QStringLiteral("cannot %1: %2").arg(doing, check.problem);
        return false;
    }
    standing = ledger->standing(check.recordSums);
    return true;
}

void DumpJob::settleComplete(const QString& doneText) {
    // Every record is there: whatever is left to do is a verification's or a repair's.
    switch (standing) {
    case Ledger::Standing::Complete:
        settledStatus = 0;
        settledText = doneText;
        return;
    case Ledger::Standing::BadSums:
        settledStatus = 1;
        settledText = QStringLiteral("%1: records complete, %2 with a bad sum: use --repair")
                          .arg(dumpPath())
                          .arg(ledger->badBlocks.size() == 1
                                   ? QStringLiteral("1 block")
                                   : QStringLiteral("%1 blocks").arg(ledger->badBlocks.size()));
        return;
    case Ledger::Standing::TotalMismatch:
    case Ledger::Standing::TotalUnchecked:
    case Ledger::Standing::Missing:
        settledStatus = 1;
        settledText =
            totalsNotVouchingText(dumpPath(), standing == Ledger::Standing::TotalMismatch);
        return;
    }
}

void DumpJob::addPass(int first, int count, Dialogue::Target::Kind kind) {
    passes.append(
        {first, count, fourDigitForm(first), fourDigitForm(count), {kind, first - requestedFirst}});
}

void DumpJob::planResume() {
    if (!QFileInfo::exists(dumpPath()) && !QFileInfo::exists(Ledger::pathFor(dumpPath()))) {
        // Nothing to resume: the whole range is dumped.
        addPass(requestedFirst, requestedCount, Dialogue::Target::Kind::NewFile);
        return;
    }
    if (!loadLedger(QStringLiteral("resume")))
        return;
    if (ledger->firstBlock != requestedFirst || ledger->blockCount != requestedCount) {
        problem = QStringLiteral("cannot resume %1: its ledger is for %2, not %3")
                      .arg(dumpPath(), blockRange(ledger->firstBlock, ledger->lastBlock()),
                           blockRange(requestedFirst, qint64(requestedFirst) + requestedCount - 1));
        return;
    }
    keptRecords = ledger->records();
    if (keptRecords < requestedCount) {
        addPass(requestedFirst + keptRecords, requestedCount - keptRecords,
                Dialogue::Target::Kind::Resume);
        return;
    }
    settleComplete(QStringLiteral("%1 already holds all %2 records; nothing to do.")
                       .arg(dumpPath())
                       .arg(requestedCount));
}

void DumpJob::planVerify() {
    if (!loadLedger(QStringLiteral("verify")))
        return;
    requestedFirst = ledger->firstBlock;
    requestedCount = ledger->blockCount;
    addPass(requestedFirst, requestedCount, Dialogue::Target::Kind::Compare);
}

void DumpJob::planRepair() {
    if (!loadLedger(QStringLiteral("repair")))
        return;
    requestedFirst = ledger->firstBlock;
    requestedCount = ledger->blockCount;
    for (const Ledger::BlockRange& range : ledger->blocksToRead())
        addPass(range.first, range.count, Dialogue::Target::Kind::Repair);
    if (passes.isEmpty())
        settleComplete(QStringLiteral("%1: every record is there with a good sum; nothing to "
                                      "repair.")
                           .arg(dumpPath()));
}
