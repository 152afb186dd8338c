#include "dumpsession.h"

#include "commcontrol.h"
#include "console.h"
#include "exitstatus.h"
#include "portfailuretext.h"
#include "signalwatcher.h"
#include "wording.h"

#include <QFile>
#include <QStringList>

#include <cstdio>

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

DumpSession::DumpSession(const CliOptions& options, const DumpJob& job, Console& console,
                         QObject* parent)
    : QObject(parent), m_options(options), m_job(job), m_console(console),
      m_log([this](const QString& line) { m_console.printLine(line); }), m_progress(console),
      m_session(m_port, *this, this) {
    m_port.setFailureWording(&cliPortFailureText);
    m_session.dialogue().setResponsesFolder(m_job.responsesFolder);
    m_watchdog.setSingleShot(true);
    // A coarse timer may fire 5 % early: "waited 6 s" would not be true.
    m_watchdog.setTimerType(Qt::PreciseTimer);
    connect(&m_watchdog, &QTimer::timeout, this, &DumpSession::onWatchdog);
    connect(&m_port, &CommControl::bytesArrived, &m_firstContact, &FirstContactWatch::received);
    connect(&m_firstContact, &FirstContactWatch::nothingYet, this, &DumpSession::adviseNothingYet);
    connect(&m_firstContact, &FirstContactWatch::notLoaderText, this,
            &DumpSession::adviseNotLoaderText);
    connect(&m_session, &PortSession::transferStarted, this, &DumpSession::onTransferStarted);
    connect(&m_session, &PortSession::blockRequested, this, &DumpSession::onBlockRequested);
    connect(&m_session, &PortSession::blockReceived, this, &DumpSession::onBlockReceived);
    connect(&m_session, &PortSession::dialogueEnded, this, &DumpSession::onDialogueEnded);
}

DumpSession::~DumpSession() {
    m_watchdog.stop();
    m_port.setTrace(nullptr);
}

bool DumpSession::start() {
    if (!m_options.tracePath.isEmpty()) {
        if (!m_trace.open(m_options.tracePath)) {
            printProblem(QStringLiteral("error: ") + m_trace.error());
            return false;
        }
        m_port.setTrace(&m_trace);
    }
    const int commPort = m_options.commPortNumber();
    if (commPort > 0)
        m_port.setCommPort(commPort);
    else
        m_port.setDevicePath(m_options.port);

    const int last = m_job.requestedFirst + m_job.requestedCount - 1;
    // All at once: a path may itself hold a %.
    switch (m_job.mode) {
    case CliOptions::Mode::Dump:
        if (m_job.keptRecords > 0)
            appendLogLine(QStringLiteral("Resuming %1: its ledger vouches for %2 of %3; asking "
                                         "for %4")
                              .arg(m_job.dumpPath(), QString::number(m_job.keptRecords),
                                   counted(m_job.requestedCount, QStringLiteral("record")),
                                   blockRange(m_job.requestedFirst + m_job.keptRecords, last)));
        else
            appendLogLine(QStringLiteral("Reading %1 (%2) into %3")
                              .arg(blockRange(m_job.requestedFirst, last),
                                   counted(m_job.requestedCount, QStringLiteral("block")),
                                   m_job.dumpPath()));
        break;
    case CliOptions::Mode::Verify:
        appendLogLine(QStringLiteral("Verifying %1: reading %2 again")
                          .arg(m_job.dumpPath(), blockRange(m_job.requestedFirst, last)));
        break;
    case CliOptions::Mode::Repair: {
        QStringList runs;
        for (const DumpJob::Pass& each : m_job.passes)
            runs.append(blockRange(each.first, each.first + each.count - 1));
        appendLogLine(QStringLiteral("Repairing %1: reading %2 again (%3)")
                          .arg(m_job.dumpPath(), runs.join(QStringLiteral(", ")),
                               counted(m_job.passes.size(), QStringLiteral("loader dialogue"))));
        break;
    }
    }

    const QString device = m_port.deviceName();
    m_portName = commPort > 0 ? QStringLiteral("COM%1 (%2)").arg(commPort).arg(device) : device;
    return armPass();
}

bool DumpSession::armPass() {
    PortSession::LedgerPlan plan;
    switch (m_job.mode) {
    case CliOptions::Mode::Dump:
        if (m_job.keptRecords > 0) {
            plan.kind = Ledger::RunKind::Resume;
            plan.fileRange = Ledger::BlockRange{m_job.requestedFirst, m_job.requestedCount};
            plan.previous = m_job.ledger;
        }
        break;
    case CliOptions::Mode::Verify:
        plan.keep = false;
        break;
    case CliOptions::Mode::Repair:
        plan.kind = Ledger::RunKind::Repair;
        plan.fileRange = Ledger::BlockRange{m_job.requestedFirst, m_job.requestedCount};
        // Each dialogue goes on from the ledger the one before it left.
        plan.previous = m_pass == 0 ? m_job.ledger : std::optional<Ledger>(m_session.ledger());
        break;
    }
    m_session.setLedgerPlan(plan);
    m_session.dialogue().setTarget(pass().target);
    m_transferStarted = false;
    m_blocksDone = 0;
    if (const std::optional<QString> failure = m_session.arm(m_portName)) {
        printProblem(QStringLiteral("error: cannot open %1: %2").arg(m_portName, *failure));
        return false;
    }
    m_firstContact.start();
    if (m_options.startTimeoutMs)
        m_watchdog.start(*m_options.startTimeoutMs);
    return true;
}

void DumpSession::nextPass() {
    ++m_pass;
    const DumpJob::Pass& done = m_job.passes.at(m_pass - 1);
    printProblem(QStringLiteral("%1 done; next: %2. Restart the decoder if its loader needs it: "
                                "waiting for it on %3.")
                     .arg(blockRange(done.first, done.first + done.count - 1),
                          blockRange(pass().first, pass().first + pass().count - 1), m_portName));
    if (!armPass())
        endWith(ExitPortOrFile);
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
    if (m_exitStatus)
        return;
    m_stopReason = StopReason::Interrupted;
    m_session.setStopReason(Ledger::Outcome::Interrupted);
    stopProgress();
    printProblem(QStringLiteral("interrupted by %1: closing the port")
                     .arg(QLatin1String(SignalWatcher::nameOf(signalNumber))));
    // With a transfer running, closing the port ends it and the dialogue reports the end.
    selectNoPort();
    endWith(ExitInterrupted);
}

void DumpSession::appendLog(const QString& piece) {
    if (!m_options.quiet)
        m_log.append(piece);
}

void DumpSession::appendLogLine(const QString& text) {
    appendLog(QStringLiteral("\r\n") + text + QStringLiteral("\r\n"));
}

void DumpSession::setProgress(const QString&) {
    // The progress line shows more than the caption; it follows the block requests instead.
}

void DumpSession::onTransferStarted() {
    m_firstContact.stop();
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

void DumpSession::onBlockReceived(int index, int count, bool sumOk) {
    if (!sumOk)
        reportBadSum(index);
    m_blocksDone = index;
    m_transferMs = m_transferClock.elapsed();
    m_progress.blockDone(index);
    if (index >= count)
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
        printProblem(QStringLiteral("error: lost the connection to %1: %2")
                         .arg(m_portName, cliPortFailureText(*failure)));
        return;
    }
    printProblem(QStringLiteral("error: ") + failureText(m_session.dialogue().summary(), text));
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
    case Failure::InvalidRange:
        return QStringLiteral("the block range is not valid: %1").arg(summary.detail);
    case Failure::DeviceLost:
    case Failure::None:
        break;
    }
    return windowText;
}

void DumpSession::reportBadSum(int index) {
    const Dialogue::State& state = m_session.dialogue().state();
    int sum = 0;
    for (const quint8 byte : state.Bloque)
        sum += byte;
    printProblem(QStringLiteral("warning: block %1: sum %2, expected %3")
                     .arg(pass().first + index - 1)
                     .arg(hexByte(sum % 256), hexByte(state.Suma_Bloque)));
}

void DumpSession::printProblem(const QString& text) {
    m_log.flush();
    const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < lines.size(); ++i)
        m_console.printLine(i == 0 ? lines.at(i) : QStringLiteral("  ") + lines.at(i));
}

void DumpSession::selectNoPort() {
    m_firstContact.stop();
    m_watchdog.stop();
    m_session.disarm();
}

void DumpSession::onDialogueEnded(const TransferSummary& summary) {
    m_firstContact.stop();
    m_watchdog.stop();
    if (m_transferStarted && m_transferClock.isValid())
        m_transferMs = m_transferClock.elapsed();
    stopProgress();
    m_summary = summary;
    const bool completed = summary.outcome == TransferSummary::Outcome::Completed;
    if (completed && m_job.mode == CliOptions::Mode::Verify)
        compareWithFile();
    // A repair goes on with its next run of blocks once this dialogue has wound up.
    if (completed && !m_exitStatus && m_pass + 1 < m_job.passes.size()) {
        QTimer::singleShot(0, this, &DumpSession::nextPass);
        return;
    }
    endWith(statusFor(summary));
}

void DumpSession::compareWithFile() {
    QFile file(m_job.dumpPath());
    const QByteArray kept = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QByteArray& read = m_session.dialogue().receivedBlocks();
    m_differingBlocks.clear();
    for (int record = 0; record < pass().count; ++record) {
        const qsizetype at = qsizetype(record) * Dialogue::BlockSize;
        if (kept.mid(at, Dialogue::BlockSize) != read.mid(at, Dialogue::BlockSize))
            m_differingBlocks.append(pass().first + record);
    }
    Ledger ledger = *m_job.ledger;
    ledger.verified = Ledger::Verification{Ledger::now(), m_differingBlocks};
    m_job.ledger = ledger;
    QString problem;
    if (!ledger.writeAtomically(Ledger::pathFor(m_job.dumpPath()), &problem))
        m_summary->ledgerError = problem;
}

void DumpSession::stopProgress() {
    m_progress.finish();
}

void DumpSession::restartWatchdog() {
    if (m_transferStarted && !m_exitStatus)
        m_watchdog.start(m_options.frameTimeoutMs);
}

void DumpSession::onWatchdog() {
    if (m_exitStatus)
        return;
    m_stopReason = StopReason::Timeout;
    m_session.setStopReason(Ledger::Outcome::Timeout);
    stopProgress();
    const int count = pass().count;
    QString waitingFor;
    if (!m_transferStarted)
        waitingFor = QStringLiteral("the loader to start a transfer");
    else if (m_blocksDone < count)
        waitingFor = QStringLiteral("block %1 of %2 (block number %3)")
                         .arg(m_blocksDone + 1)
                         .arg(count)
                         .arg(pass().first + m_blocksDone);
    else
        waitingFor = QStringLiteral("the loader's total");
    const int limit =
        m_transferStarted ? m_options.frameTimeoutMs : m_options.startTimeoutMs.value_or(0);
    printProblem(
        QStringLiteral("error: timeout: waited %1 for %2").arg(seconds(limit), waitingFor));
    // A running transfer ends when its port closes, keeping the records it wrote.
    selectNoPort();
    endWith(ExitTimeoutOrLost);
}

int DumpSession::statusFor(const TransferSummary& summary) const {
    switch (summary.outcome) {
    case TransferSummary::Outcome::Completed:
        switch (m_job.mode) {
        case CliOptions::Mode::Dump:
            return summary.clean() ? ExitComplete : ExitIncomplete;
        case CliOptions::Mode::Verify:
            return m_differingBlocks.isEmpty() ? ExitComplete : ExitIncomplete;
        case CliOptions::Mode::Repair:
            return m_session.ledger().blocksToRead().isEmpty() ? ExitComplete : ExitIncomplete;
        }
        return ExitIncomplete;
    case TransferSummary::Outcome::PortClosed:
        return m_stopReason == StopReason::Interrupted ? ExitInterrupted : ExitTimeoutOrLost;
    case TransferSummary::Outcome::DeviceLost:
        return ExitTimeoutOrLost;
    case TransferSummary::Outcome::FileError:
        return ExitPortOrFile;
    case TransferSummary::Outcome::RangeError:
        return ExitUsage;
    }
    return ExitPortOrFile;
}

void DumpSession::endWith(int exitStatus) {
    if (m_exitStatus)
        return;
    m_exitStatus = exitStatus;
    m_watchdog.stop();
    // The dialogue may still be inside the call that ended it: report from the event loop.
    QTimer::singleShot(0, this, &DumpSession::conclude);
}

void DumpSession::conclude() {
    m_log.flush();
    stopProgress();
    if (m_summary && m_transferStarted)
        printSummary(*m_summary);
    else if (*m_exitStatus != ExitComplete)
        m_console.printLine(QStringLiteral("No transfer had started; nothing was written."));
    printModeResult();
    if (m_summary && !m_summary->ledgerError.isEmpty())
        printProblem(QStringLiteral("warning: ") + m_summary->ledgerError);
    printLedger();
    m_port.setTrace(nullptr);
    m_trace.close();
    Q_EMIT finished(*m_exitStatus);
}

void DumpSession::printModeResult() {
    const bool completed = m_summary && m_summary->outcome == TransferSummary::Outcome::Completed;
    if (m_job.mode == CliOptions::Mode::Verify && completed) {
        m_console.printLine(m_differingBlocks.isEmpty()
                                ? QStringLiteral("Verified %1: identical").arg(m_job.dumpPath())
                                : QStringLiteral("Verified %1: differing blocks %2")
                                      .arg(m_job.dumpPath(), blockList(m_differingBlocks)));
        return;
    }
    if (m_job.mode == CliOptions::Mode::Dump && m_job.keptRecords == 0)
        return;
    // Which runs into this file had their total checked, the latest last.
    const Ledger& ledger = m_session.ledger();
    QStringList runs;
    for (qsizetype i = 0; i < ledger.runs.size(); ++i) {
        const Ledger::Run& run = ledger.runs.at(i);
        runs.append(QStringLiteral("run %1 (%2, %3) %4")
                        .arg(i + 1)
                        .arg(Ledger::runKindName(run.kind),
                             blockRange(run.firstBlock, run.firstBlock + run.blockCount - 1))
                        .arg(!run.total           ? QStringLiteral("never checked")
                             : run.total->match() ? QStringLiteral("matched")
                                                  : QStringLiteral("did not match")));
    }
    if (!runs.isEmpty())
        m_console.printLine(QStringLiteral("Totals: ") + runs.join(QStringLiteral("; ")));
    if (m_job.mode == CliOptions::Mode::Repair) {
        const QList<Ledger::BlockRange> left = ledger.blocksToRead();
        QStringList blocks;
        for (const Ledger::BlockRange& range : left)
            blocks.append(blockRange(range.first, range.first + range.count - 1));
        m_console.printLine(left.isEmpty()
                                ? QStringLiteral("Repaired: no bad or missing block left")
                                : QStringLiteral("Still bad or missing: ") +
                                      blocks.join(QStringLiteral(", ")));
    }
}

void DumpSession::printLedger() {
    if (!m_options.json)
        return;
    const Ledger* ledger = m_job.mode == CliOptions::Mode::Verify ? &*m_job.ledger
                           : !m_session.ledgerPath().isEmpty()    ? &m_session.ledger()
                           : m_job.ledger                         ? &*m_job.ledger
                                                                  : nullptr;
    if (ledger)
        printJson(*ledger);
}

void DumpSession::printJson(const Ledger& ledger) {
    const QByteArray json = ledger.toJson();
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    std::fflush(stdout);
}

void DumpSession::printSummary(const TransferSummary& summary) {
    const int kept = summary.resumedRecords + summary.blocksWritten;
    const bool intoMemory = m_job.mode == CliOptions::Mode::Verify;
    QString line =
        intoMemory ? QStringLiteral("Summary: %1 of %2 read again")
                         .arg(QString::number(m_blocksDone),
                              counted(summary.count, QStringLiteral("block")))
                   : QStringLiteral("Summary: %1 of %2 written to %3")
                         .arg(QString::number(summary.blocksWritten),
                              counted(summary.count, QStringLiteral("block")), summary.dumpPath);
    if (summary.resumedRecords > 0)
        line += QStringLiteral(" after the %1 kept from before (%2 of %3 in the file)")
                    .arg(counted(summary.resumedRecords, QStringLiteral("record")))
                    .arg(kept)
                    .arg(m_job.requestedCount);
    line += QStringLiteral(", ");
    line += summary.badSumBlocks.isEmpty()
                ? QStringLiteral("no bad sums")
                : QStringLiteral("%1 with a bad sum (%2 %3)")
                      .arg(summary.badSumBlocks.size())
                      .arg(summary.badSumBlocks.size() == 1 ? QStringLiteral("block")
                                                            : QStringLiteral("blocks"))
                      .arg(blockList(summary.badSumBlocks));
    if (summary.totalReceived) {
        line +=
            QStringLiteral("; total loader %1, computed %2 (%3)")
                .arg(hexByte(summary.loaderTotal), hexByte(summary.computedTotal),
                     summary.totalMatched() ? QStringLiteral("match") : QStringLiteral("MISMATCH"));
        if (summary.resumedRecords > 0)
            line += QStringLiteral(" over the blocks of this run only");
    } else {
        line += QStringLiteral("; no total received");
    }
    const double secs = m_transferMs / 1000.0;
    line += QStringLiteral("; %1 s").arg(secs, 0, 'f', secs < 10.0 ? 2 : 1);
    if (m_transferMs > 0)
        line += QStringLiteral(", %1 KB/s").arg(m_blocksDone / secs, 0, 'f', 1);
    m_console.printLine(line);

    const QString outcome = outcomeText(summary);
    if (!outcome.isEmpty())
        m_console.printLine(outcome);
}

QString DumpSession::outcomeText(const TransferSummary& summary) const {
    const int kept = summary.resumedRecords + summary.blocksWritten;
    const QString keeps = QStringLiteral("%1 keeps %2 of %3; --resume asks for the rest")
                              .arg(summary.dumpPath, QString::number(kept),
                                   counted(m_job.requestedCount, QStringLiteral("record")));
    switch (*m_exitStatus) {
    case ExitComplete:
        return {};
    case ExitIncomplete: {
        if (m_job.mode != CliOptions::Mode::Dump)
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
        return QStringLiteral("Dump not verified: %1.").arg(what.join(QStringLiteral(" and ")));
    }
    case ExitInterrupted:
        return QStringLiteral("Interrupted: ") + keeps;
    default:
        return QStringLiteral("Stopped: ") + keeps;
    }
}
