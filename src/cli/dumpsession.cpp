#include "dumpsession.h"

#include "commcontrol.h"
#include "console.h"
#include "exitstatus.h"
#include "mapfile.h"
#include "plantext.h"
#include "portfailuretext.h"
#include "signalwatcher.h"
#include "standardoutput.h"
#include "wording.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStringList>

namespace {

QString hexByte(int value) {
    return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0'));
}

QString blockList(const QList<int>& blocks) {
    QStringList numbers;
    for (const int block : blocks)
        numbers.append(QString::number(block));
    return numbers.join(QStringLiteral(", "));
}

QString seconds(int ms) {
    return QString::number(ms / 1000.0, 'g', 4) + QStringLiteral(" s");
}

} // namespace

DumpSession::DumpSession(const CliOptions& options, const CliDump& dump, CommControl& port,
                         Console& console, QObject* parent)
    : QObject(parent), m_options(options), m_dump(dump), m_port(port), m_console(console),
      m_log([this](const QString& line) { m_console.printLine(line); }), m_progress(console),
      m_run(port, *this, this) {
    m_run.session().dialogue().setResponsesFolder(m_dump.responsesFolder);
    m_watchdog.setSingleShot(true);
    // A coarse timer may fire 5 % early: "waited 6 s" would not be true.
    m_watchdog.setTimerType(Qt::PreciseTimer);
    connect(&m_watchdog, &QTimer::timeout, this, &DumpSession::onWatchdog);
    connect(&m_port, &CommControl::bytesArrived, this, &DumpSession::onBytesArrived);
    PortSession& session = m_run.session();
    connect(&session, &PortSession::loaderSilent, this, &DumpSession::adviseNothingYet);
    connect(&session, &PortSession::notLoaderText, this, &DumpSession::adviseNotLoaderText);
    connect(&session.dialogue(), &Dialogue::responseFileSent, this,
            &DumpSession::onResponseFileSent);
    connect(&session, &PortSession::transferStarted, this, &DumpSession::onTransferStarted);
    connect(&session, &PortSession::blockRequested, this, &DumpSession::onBlockRequested);
    connect(&session, &PortSession::blockReceived, this, &DumpSession::onBlockReceived);
    connect(&m_run, &DumpRun::passArmed, this, &DumpSession::onPassArmed);
    connect(&m_run, &DumpRun::nextPass, this, &DumpSession::onNextPass);
    connect(&m_run, &DumpRun::finished, this, &DumpSession::onFinished);
}

DumpSession::~DumpSession() {
    m_watchdog.stop();
    m_port.setTrace(nullptr);
}

bool DumpSession::start() {
    const int commPort = m_options.commPortNumber();
    if (commPort > 0)
        m_port.setCommPort(commPort);
    else
        m_port.setDevicePath(m_options.port);
    if (!m_options.tracePath.isEmpty()) {
        if (!m_trace.open(m_options.tracePath)) {
            reportError(m_trace.error());
            return false;
        }
        m_port.setTrace(&m_trace);
    }

    const QString device = m_port.deviceName();
    m_portName = commPort > 0 ? QStringLiteral("COM%1 (%2)").arg(commPort).arg(device) : device;
    const DumpPlan& plan = m_dump.plan;
    if (const std::optional<DumpRun::StartFailure> failure = m_run.start(plan, m_portName)) {
        reportError(failure->kind == DumpRun::StartFailure::Kind::DumpInUse
                        ? QStringLiteral("%1 is in use by another decodump run (a window or "
                                         "decodump-cli); wait for it to end, or name another file")
                              .arg(plan.dumpPath())
                        : QStringLiteral("cannot open %1: %2").arg(m_portName, failure->detail));
        return false;
    }
    return true;
}

void DumpSession::announcePlan() {
    const DumpPlan& plan = m_dump.plan;
    const BlockRange& file = plan.fileRange;
    // All at once: a path may itself hold a %.
    switch (plan.mode) {
    case DumpPlan::Mode::NewDump:
    case DumpPlan::Mode::Resume:
        if (plan.keptRecords > 0)
            announce(QStringLiteral("Resuming %1: its ledger vouches for %2 of %3; asking "
                                    "for %4")
                         .arg(plan.dumpPath(), QString::number(plan.keptRecords),
                              counted(file.count, QStringLiteral("record")),
                              blockRange(plan.passes.first().range)));
        else
            announce(QStringLiteral("Reading %1 (%2) into %3")
                         .arg(blockRange(file), counted(file.count, QStringLiteral("block")),
                              plan.dumpPath()));
        if (plan.ledgerWarning)
            printProblem(QStringLiteral("warning: cannot write the ledger %1: %2; the dump goes "
                                        "ahead without one, so --resume, --verify and --repair "
                                        "cannot use it")
                             .arg(plan.ledgerWarning->path,
                                  cliDumpPathText(plan.ledgerWarning->pathProblem)));
        break;
    case DumpPlan::Mode::Verify:
        announce(QStringLiteral("Verifying %1: reading %2 again")
                     .arg(plan.dumpPath(), blockRange(file)));
        break;
    case DumpPlan::Mode::Repair: {
        QStringList runs;
        for (const DumpPlan::Pass& each : plan.passes)
            runs.append(blockRange(each.range));
        announce(QStringLiteral("Repairing %1: reading %2 again (%3)")
                     .arg(plan.dumpPath(), runs.join(QStringLiteral(", ")),
                          counted(plan.passes.size(), QStringLiteral("loader dialogue"))));
        break;
    }
    }
}

void DumpSession::onPassArmed(int index) {
    if (index == 0)
        announcePlan();
    m_transferStarted = false;
    m_blocksDone = 0;
    m_heardLoader = false;
    milestone(QStringLiteral("Waiting for the loader on %1 (break-in byte every %2 ms)")
                  .arg(m_portName)
                  .arg(PortSession::BreakInIntervalMs));
    if (m_options.startTimeoutMs)
        m_watchdog.start(*m_options.startTimeoutMs);
}

void DumpSession::onNextPass(int index) {
    stopProgress();
    const DumpPlan::Pass& done = m_dump.plan.passes.at(index - 1);
    printProblem(QStringLiteral("%1 done; next: %2. Restart the decoder if its loader needs it: "
                                "waiting for it on %3.")
                     .arg(blockRange(done.range), blockRange(m_run.pass().range), m_portName));
}

void DumpSession::adviseNothingYet() {
    printProblem(QStringLiteral("note: nothing has come from the loader in %1 s; check that the "
                                "decoder has power, that the cable is connected, and that %2 is "
                                "the device it is on (still waiting)")
                     .arg(FirstContactWatch::SilenceMs / 1000)
                     .arg(m_portName));
}

void DumpSession::adviseNotLoaderText() {
    printProblem(QStringLiteral("note: what comes from %1 is not loader text: is it the "
                                "decoder's port, and does it run at %2 baud? (still waiting)")
                     .arg(m_portName)
                     .arg(CommControl::BaudRate));
}

void DumpSession::interrupt(int signalNumber) {
    if (m_exitStatus || !m_run.running())
        return;
    stopProgress();
    m_error =
        QStringLiteral("interrupted by %1").arg(QLatin1String(SignalWatcher::nameOf(signalNumber)));
    printProblem(m_error + QStringLiteral(": closing the port"));
    m_run.stop(DumpRun::StopReason::Interrupted);
}

void DumpSession::appendLog(const QString& piece) {
    // The dialogue's own log, in the window's words, only when asked for.
    if (m_options.verbose && !m_options.quiet)
        m_log.append(piece);
}

void DumpSession::appendLogLine(const QString& text) {
    appendLog(QStringLiteral("\r\n") + text + QStringLiteral("\r\n"));
}

void DumpSession::announce(const QString& text) {
    if (m_options.quiet)
        return;
    m_log.flush();
    m_console.printLine(text);
}

void DumpSession::milestone(const QString& text) {
    // The dialogue's own log tells the same in its words when it is shown.
    if (!m_options.verbose)
        announce(text);
}

void DumpSession::onBytesArrived() {
    if (m_heardLoader)
        return;
    m_heardLoader = true;
    milestone(QStringLiteral("Receiving from the loader"));
}

void DumpSession::onResponseFileSent(int number) {
    milestone(QStringLiteral("Sent response file %1").arg(number));
}

void DumpSession::setProgress(const QString&) {
    // The progress line shows more than the caption; it follows the block requests instead.
}

void DumpSession::onTransferStarted() {
    const DumpPlan::Pass& pass = m_run.pass();
    milestone(m_dump.plan.mode == DumpPlan::Mode::Verify
                  ? QStringLiteral("Transfer started: reading %1 again").arg(blockRange(pass.range))
                  : QStringLiteral("Transfer started: reading %1").arg(blockRange(pass.range)));
    m_transferStarted = true;
    m_blocksDone = 0;
    m_transferClock.start();
    restartWatchdog();
}

void DumpSession::onBlockRequested(int index, int count) {
    // The log has announced the transfer by now.
    if (!m_options.quiet && !m_progress.running() && index == 1)
        m_progress.start(count);
    restartWatchdog();
}

void DumpSession::onBlockReceived(const ReceivedBlock& block) {
    if (!block.sumOk())
        printProblem(QStringLiteral("warning: block %1: sum %2, expected %3")
                         .arg(block.block)
                         .arg(hexByte(block.sum), hexByte(block.sumByte)));
    m_blocksDone = block.index;
    m_transferMs = m_transferClock.elapsed();
    m_progress.blockDone(block.index);
    if (block.index >= block.count)
        stopProgress();
    restartWatchdog();
}

void DumpSession::showMessage(const QString& text, MessageIcon icon) {
    // The dialogue's "CRC No Ok!!!" and its end messages speak to the window's operator; the
    // command line says the same in its own words, with every sum in one base: each bad sum as
    // its block comes in, the end in the summary.
    if (icon != MessageIcon::Critical)
        return;
    stopProgress(); // the dialogue ends here; the last progress stays above the message
    // Once the port was lost, the dialogue's message is the report of that loss.
    const std::optional<PortFailure>& failure = m_port.lastFailure();
    if (failure && failure->lost()) {
        reportError(QStringLiteral("lost the connection to %1: %2")
                        .arg(m_portName, cliPortFailureText(*failure)));
        return;
    }
    reportError(failureText(m_run.session().dialogue().summary(), text));
}

QString DumpSession::failureText(const TransferSummary& summary, const QString& windowText) {
    using Failure = TransferSummary::Failure;
    switch (summary.failure) {
    case Failure::ResponsesFolderMissing:
        return QStringLiteral("the loader asked for a response file, but the folder %1 does not "
                              "exist (name one with --responses DIR)")
            .arg(summary.failedPath);
    case Failure::ResponseFileUnreadable:
        return QStringLiteral("cannot read the response file %1: %2")
            .arg(summary.failedPath, summary.detail);
    case Failure::DumpNotCreated:
        return QStringLiteral("cannot create the dump file %1: %2")
            .arg(summary.failedPath, summary.detail);
    case Failure::DumpNotWritten:
        return QStringLiteral("cannot write the dump file %1: %2")
            .arg(summary.failedPath, summary.detail);
    case Failure::DeviceLost:
    case Failure::None:
        break;
    }
    return windowText;
}

void DumpSession::printProblem(const QString& text) {
    m_log.flush();
    const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < lines.size(); ++i)
        m_console.printLine(i == 0 ? lines.at(i) : QStringLiteral("  ") + lines.at(i));
}

void DumpSession::reportError(const QString& text) {
    if (m_error.isEmpty())
        m_error = text;
    printProblem(QStringLiteral("error: ") + text);
}

QString DumpSession::portFailureText(const PortFailure& failure) const {
    return cliPortFailureText(failure);
}

QString DumpSession::pathProblemText(const DumpPath& problem) const {
    return cliDumpPathText(problem);
}

void DumpSession::disarmPort() {
    m_watchdog.stop();
    m_run.session().disarm();
    milestone(QStringLiteral("Port closed"));
}

void DumpSession::onFinished(const DumpOutcome& outcome) {
    m_watchdog.stop();
    if (m_transferStarted && m_transferClock.isValid())
        m_transferMs = m_transferClock.elapsed();
    stopProgress();
    m_outcome = outcome;
    if (outcome.ending == DumpOutcome::Ending::PortNotOpened)
        reportError(QStringLiteral("cannot open %1: %2").arg(m_portName, outcome.error));
    m_exitStatus = exitStatus();
    // The dialogue may still be inside the call that ended it: report from the event loop.
    QTimer::singleShot(0, this, &DumpSession::conclude);
}

void DumpSession::stopProgress() {
    m_progress.finish();
}

void DumpSession::restartWatchdog() {
    if (m_transferStarted && !m_exitStatus)
        m_watchdog.start(m_options.frameTimeoutMs);
}

void DumpSession::onWatchdog() {
    if (m_exitStatus || !m_run.running())
        return;
    stopProgress();
    const int count = m_run.pass().range.count;
    QString waitingFor;
    if (!m_transferStarted)
        waitingFor = QStringLiteral("the loader to start a transfer");
    else if (m_blocksDone < count)
        waitingFor = QStringLiteral("block %1 of %2 (block number %3)")
                         .arg(m_blocksDone + 1)
                         .arg(count)
                         .arg(m_run.pass().range.first + m_blocksDone);
    else
        waitingFor = QStringLiteral("the loader's total");
    const int limit =
        m_transferStarted ? m_options.frameTimeoutMs : m_options.startTimeoutMs.value_or(0);
    reportError(QStringLiteral("timeout: waited %1 for %2").arg(seconds(limit), waitingFor));
    // A running transfer ends when its port closes, keeping the records it wrote.
    m_run.stop(DumpRun::StopReason::Timeout);
}

int DumpSession::exitStatus() const {
    using Ending = DumpOutcome::Ending;
    switch (m_outcome->ending) {
    case Ending::Finished:
        return m_outcome->complete() ? ExitComplete : ExitIncomplete;
    case Ending::PortNotOpened:
    case Ending::FileError:
        return ExitPortOrFile;
    case Ending::DeviceLost:
    case Ending::CutShort:
    case Ending::TimedOut:
        return ExitTimeoutOrLost;
    case Ending::Interrupted:
        return ExitInterrupted;
    }
    return ExitPortOrFile;
}

void DumpSession::conclude() {
    m_log.flush();
    stopProgress();
    if (m_outcome->transferStarted)
        printSummary();
    else if (*m_exitStatus != ExitComplete)
        m_console.printLine(QStringLiteral("No transfer had started; nothing was written."));
    // What the run found, only when it ran to its end.
    if (m_outcome->ending == DumpOutcome::Ending::Finished)
        printModeResult();
    if (!m_outcome->keptAs.isEmpty())
        m_console.printLine(QStringLiteral("Kept the file that was at %1 before this run as %2")
                                .arg(m_dump.plan.dumpPath(), m_outcome->keptAs));
    if (!m_outcome->ledgerError.isEmpty())
        printProblem(QStringLiteral("warning: ") + m_outcome->ledgerError);
    // A trace or a map that could not be written whole fails the run, whatever became of the dump.
    const QString problem = closeTraceAndWriteMap();
    if (!problem.isEmpty()) {
        reportError(problem);
        m_exitStatus = ExitPortOrFile;
    }
    if (m_options.json && !printJson(jsonResult()))
        m_exitStatus = ExitPortOrFile;
    Q_EMIT finished(*m_exitStatus);
}

QString DumpSession::closeTraceAndWriteMap() {
    m_port.setTrace(nullptr);
    m_trace.close();
    QString problem;
    if (!m_trace.error().isEmpty())
        problem = m_trace.error();
    else if (!m_options.mapPath.isEmpty() && m_outcome->ledger)
        writeMapFile(m_options.mapPath, m_dump.plan.dumpPath(), *m_outcome->ledger, &problem);
    return problem;
}

void DumpSession::printSummary() {
    const DumpPlan& plan = m_dump.plan;
    const int resumed = plan.resumes() ? plan.keptRecords : 0;
    m_console.printLine(blocksText(resumed) + QStringLiteral(", ") + badSumsText() +
                        totalText(resumed) + paceText());

    const QString outcome = outcomeText();
    if (!outcome.isEmpty())
        m_console.printLine(outcome);
}

QString DumpSession::blocksText(int resumed) const {
    const TransferSummary& summary = m_outcome->summary;
    const DumpPlan& plan = m_dump.plan;
    QString line =
        plan.mode == DumpPlan::Mode::Verify
            ? QStringLiteral("Summary: %1 of %2 read again")
                  .arg(QString::number(m_blocksDone),
                       counted(summary.count, QStringLiteral("block")))
            : QStringLiteral("Summary: %1 of %2 written to %3")
                  .arg(QString::number(summary.blocksWritten),
                       counted(summary.count, QStringLiteral("block")), summary.dumpPath);
    if (resumed > 0)
        line += QStringLiteral(" after the %1 kept from before (%2 of %3 in the file)")
                    .arg(counted(resumed, QStringLiteral("record")))
                    .arg(m_outcome->recordsHeld)
                    .arg(plan.fileRange.count);
    return line;
}

QString DumpSession::badSumsText() const {
    const QList<int>& bad = m_outcome->summary.badSumBlocks;
    return bad.isEmpty()
               ? QStringLiteral("no bad sums")
               : QStringLiteral("%1 with a bad sum (%2 %3)")
                     .arg(bad.size())
                     .arg(bad.size() == 1 ? QStringLiteral("block") : QStringLiteral("blocks"))
                     .arg(blockList(bad));
}

QString DumpSession::totalText(int resumed) const {
    const TransferSummary& summary = m_outcome->summary;
    if (!summary.totalReceived)
        return QStringLiteral("; no total received");
    QString text =
        QStringLiteral("; total loader %1, computed %2 (%3)")
            .arg(hexByte(summary.loaderTotal), hexByte(summary.computedTotal),
                 summary.totalMatched() ? QStringLiteral("match") : QStringLiteral("MISMATCH"));
    if (resumed > 0)
        text += QStringLiteral(" over the blocks of this run only");
    return text;
}

QString DumpSession::paceText() const {
    const double secs = m_transferMs / 1000.0;
    QString text = QStringLiteral("; %1 s").arg(secs, 0, 'f', secs < 10.0 ? 2 : 1);
    if (m_transferMs > 0)
        text += QStringLiteral(", %1 KB/s").arg(m_blocksDone / secs, 0, 'f', 1);
    return text;
}

QString DumpSession::outcomeText() const {
    switch (*m_exitStatus) {
    case ExitComplete:
        return {};
    case ExitIncomplete:
        return unverifiedText();
    default:
        break;
    }
    return stoppedText();
}

QString DumpSession::unverifiedText() const {
    const TransferSummary& summary = m_outcome->summary;
    if (m_dump.plan.mode == DumpPlan::Mode::Verify || m_dump.plan.mode == DumpPlan::Mode::Repair)
        return {}; // a verification or a repair says what it found on its own
    QStringList what;
    if (!summary.totalMatched())
        what.append(QStringLiteral("the loader's total did not match"));
    if (!summary.badSumBlocks.isEmpty())
        what.append(QStringLiteral("%1 %2 failed %3 sum")
                        .arg(summary.badSumBlocks.size() == 1 ? QStringLiteral("block")
                                                              : QStringLiteral("blocks"))
                        .arg(blockList(summary.badSumBlocks))
                        .arg(summary.badSumBlocks.size() == 1 ? QStringLiteral("its")
                                                              : QStringLiteral("their")));
    if (what.isEmpty())
        return unvouchedText();
    // The next command, as the window names the next mode.
    const QString next =
        !summary.badSumBlocks.isEmpty()
            ? QStringLiteral("--repair %1 reads %2 again")
                  .arg(summary.dumpPath, summary.badSumBlocks.size() == 1 ? QStringLiteral("it")
                                                                          : QStringLiteral("them"))
            : QStringLiteral("--verify %1 compares the file with the flash").arg(summary.dumpPath);
    return QStringLiteral("Dump not verified: %1; %2.")
        .arg(what.join(QStringLiteral(" and ")), next);
}

QString DumpSession::stoppedText() const {
    const TransferSummary& summary = m_outcome->summary;
    const QString stopped = *m_exitStatus == ExitInterrupted ? QStringLiteral("Interrupted: ")
                                                             : QStringLiteral("Stopped: ");
    switch (m_dump.plan.mode) {
    case DumpPlan::Mode::Verify:
        return stopped +
               QStringLiteral("nothing was verified; %1 is as it was").arg(summary.dumpPath);
    case DumpPlan::Mode::Repair: {
        int left = 0;
        if (m_outcome->ledger) {
            for (const BlockRange& range : m_outcome->ledger->blocksToRead())
                left += range.count;
        }
        return stopped + QStringLiteral("%1 still has %2 to read again; --repair %1 reads them")
                             .arg(summary.dumpPath, counted(left, QStringLiteral("block")));
    }
    case DumpPlan::Mode::NewDump:
    case DumpPlan::Mode::Resume:
        break;
    }
    QString text =
        stopped + QStringLiteral("%1 keeps %2 of %3")
                      .arg(summary.dumpPath, QString::number(m_outcome->recordsHeld),
                           counted(m_dump.plan.fileRange.count, QStringLiteral("record")));
    if (m_outcome->resumable())
        text += QStringLiteral("; --resume asks for the rest");
    else if (m_outcome->blocksLeft() == 0)
        // Every record there, but no total came for them: a verification vouches for them.
        text += QStringLiteral("; --verify %1 checks them").arg(summary.dumpPath);
    return text;
}

void DumpSession::printModeResult() {
    const DumpPlan& plan = m_dump.plan;
    if (plan.mode == DumpPlan::Mode::Verify) {
        printVerification();
        return;
    }
    if (plan.mode != DumpPlan::Mode::Repair && plan.keptRecords == 0)
        return;
    if (!m_outcome->ledger)
        return;
    printTotals(*m_outcome->ledger);
    if (plan.mode == DumpPlan::Mode::Repair)
        printRepairResult(*m_outcome->ledger);
}

void DumpSession::printTotals(const Ledger& ledger) {
    // Which runs into this file had their total checked, the latest last.
    QStringList runs;
    for (qsizetype i = 0; i < ledger.runs.size(); ++i) {
        const Ledger::Run& run = ledger.runs.at(i);
        runs.append(QStringLiteral("run %1 (%2, %3) %4")
                        .arg(i + 1)
                        .arg(Ledger::runKindName(run.kind), blockRange(run.range))
                        .arg(!run.total           ? QStringLiteral("never checked")
                             : run.total->match() ? QStringLiteral("matched")
                             : m_run.session().recorder().runVouches(i)
                                 ? QStringLiteral("did not match, matches the records now")
                                 : QStringLiteral("did not match")));
    }
    if (!runs.isEmpty())
        m_console.printLine(QStringLiteral("Totals: ") + runs.join(QStringLiteral("; ")));
}

void DumpSession::printRepairResult(const Ledger& ledger) {
    const QList<BlockRange> left = ledger.blocksToRead();
    QStringList blocks;
    for (const BlockRange& range : left)
        blocks.append(blockRange(range));
    m_console.printLine(left.isEmpty() ? QStringLiteral("Repaired: no bad or missing block left")
                                       : QStringLiteral("Still bad or missing: ") +
                                             blocks.join(QStringLiteral(", ")));
    const QString unvouched = unvouchedText();
    if (!unvouched.isEmpty())
        m_console.printLine(unvouched);
}

void DumpSession::printVerification() {
    const QString file = m_dump.plan.dumpPath();
    if (m_outcome->verification.identical()) {
        m_console.printLine(QStringLiteral("Verified %1: identical").arg(file));
        return;
    }
    const DumpOutcome::Findings found = m_outcome->findings();
    // %1: the blocks, %2: the file; all at once, as a path may itself hold a %.
    const auto say = [&](const QList<int>& blocks, const QString& text) {
        if (!blocks.isEmpty())
            m_console.printLine(
                (QStringLiteral("Verified %2: ") + text).arg(blockRunsText(blocks), file));
    };
    say(found.flashDiffers,
        QStringLiteral("differing blocks %1: the decoder's flash is not the one this file was "
                       "read from (another decoder, or a changed flash); dump it into another "
                       "file"));
    say(found.badRecordsDiffer, QStringLiteral("differing blocks %1, whose records had failed "
                                               "their sum: --repair %2 reads them again"));
    say(found.badReads, QStringLiteral("blocks %1 came with a bad sum and could not be compared: "
                                       "--verify %2 again"));
    say(found.notInFile, QStringLiteral("blocks %1 are not in the file yet: --resume reads them"));
}

QString DumpSession::unvouchedText() const {
    if (!m_outcome->ledger)
        return {};
    const Ledger::Outcome outcome = m_outcome->ledger->outcome;
    if (outcome != Ledger::Outcome::TotalUnchecked && outcome != Ledger::Outcome::TotalMismatch)
        return {};
    return totalsNotVouchingText(m_dump.plan.dumpPath(), outcome == Ledger::Outcome::TotalMismatch);
}

QJsonObject DumpSession::jsonResult() const {
    QJsonObject ledgerObject;
    if (m_outcome->ledger)
        ledgerObject = QJsonDocument::fromJson(m_outcome->ledger->toJson()).object();
    // A run that ended with its result gives the ledger alone; one that failed says why.
    if (*m_exitStatus == ExitComplete || *m_exitStatus == ExitIncomplete)
        return ledgerObject;
    return errorJson(m_error.isEmpty() ? QStringLiteral("stopped") : m_error, *m_exitStatus,
                     m_outcome->ledger ? std::optional<QJsonObject>(ledgerObject) : std::nullopt);
}
