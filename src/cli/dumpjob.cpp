#include "dumpjob.h"

#include "dumppath.h"
#include "ledgercheck.h"
#include "numeric.h"
#include "programfolders.h"
#include "wording.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

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
    // Verifying reads into memory: the file is only compared with.
    if (job.mode != CliOptions::Mode::Verify) {
        const DumpPath target =
            DumpPath::check(job.dumpPath(), job.resume || job.mode == CliOptions::Mode::Repair);
        if (!target.ok()) {
            job.problem = QStringLiteral("cannot write the dump file %1: %2")
                              .arg(job.dumpPath(), target.englishReason());
            return job;
        }
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
    return true;
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
    // Every record is there: what is left to do is not a resume's.
    const bool totalsChecked =
        std::all_of(ledger->runs.cbegin(), ledger->runs.cend(),
                    [](const Ledger::Run& run) { return run.total.has_value(); });
    if (!ledger->badBlocks.isEmpty()) {
        settledStatus = 1;
        settledText = QStringLiteral("%1: records complete, %2 with a bad sum: use --repair")
                          .arg(dumpPath())
                          .arg(ledger->badBlocks.size() == 1
                                   ? QStringLiteral("1 block")
                                   : QStringLiteral("%1 blocks").arg(ledger->badBlocks.size()));
    } else if (!totalsChecked) {
        settledStatus = 1;
        settledText = QStringLiteral("%1: records complete, total never checked: use --verify")
                          .arg(dumpPath());
    } else {
        settledStatus = 0;
        settledText = QStringLiteral("%1 already holds all %2 records; nothing to do.")
                          .arg(dumpPath())
                          .arg(requestedCount);
    }
}

void DumpJob::planVerify() {
    if (!loadLedger(QStringLiteral("verify")))
        return;
    requestedFirst = ledger->firstBlock;
    requestedCount = ledger->blockCount;
    addPass(requestedFirst, requestedCount, Dialogue::Target::Kind::Memory);
}

void DumpJob::planRepair() {
    if (!loadLedger(QStringLiteral("repair")))
        return;
    requestedFirst = ledger->firstBlock;
    requestedCount = ledger->blockCount;
    for (const Ledger::BlockRange& range : ledger->blocksToRead())
        addPass(range.first, range.count, Dialogue::Target::Kind::Repair);
    if (passes.isEmpty()) {
        settledStatus = 0;
        settledText = QStringLiteral("%1: every record is there with a good sum; nothing to "
                                     "repair.")
                          .arg(dumpPath());
    }
}
