#include "dumpsession.h"

#include "commcontrol.h"
#include "console.h"
#include "exitstatus.h"
#include "plural.h"
#include "portfailuretext.h"
#include "signalwatcher.h"

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

// "block 7" or "blocks 7 to 9".
QString blockRange(int first, int last) {
    return first == last ? QStringLiteral("block %1").arg(first)
                         : QStringLiteral("blocks %1 to %2").arg(first).arg(last);
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
    m_session.dialogue().setResumeRecords(m_job.resumedRecords);
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
}

bool DumpSession::start() {
    const int commPort = m_options.commPortNumber();
    if (commPort > 0)
        m_port.setCommPort(commPort);
    else
        m_port.setDevicePath(m_options.port);

    const int last = m_job.requestedFirst + m_job.requestedCount - 1;
    if (m_job.resumedRecords > 0) {
        const QString cut =
            m_job.cutBytes > 0
                ? QStringLiteral(" (a partial record of %1 bytes was cut)").arg(m_job.cutBytes)
                : QString();
        // All at once: a path may itself hold a %.
        appendLogLine(QStringLiteral("Resuming %1: it holds %2 of %3%4; asking for %5")
                          .arg(m_job.dumpPath(), QString::number(m_job.resumedRecords),
                               counted(m_job.requestedCount, QStringLiteral("record")), cut,
                               blockRange(m_job.requestedFirst + m_job.resumedRecords, last)));
    } else {
        appendLogLine(QStringLiteral("Reading %1 (%2) into %3")
                          .arg(blockRange(m_job.requestedFirst, last),
                               counted(m_job.requestedCount, QStringLiteral("block")),
                               m_job.dumpPath()));
    }

    const QString device = m_port.deviceName();
    m_portName = commPort > 0 ? QStringLiteral("COM%1 (%2)").arg(commPort).arg(device) : device;
    if (const std::optional<QString> failure = m_session.arm(m_portName)) {
        printProblem(QStringLiteral("error: cannot open %1: %2").arg(m_portName, *failure));
        return false;
    }
    m_firstContact.start();
    if (m_options.startTimeoutMs)
        m_watchdog.start(*m_options.startTimeoutMs);
    return true;
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
    printProblem(QStringLiteral("error: ") + text);
}

void DumpSession::reportBadSum(int index) {
    const Dialogue::State& state = m_session.dialogue().state();
    int sum = 0;
    for (const quint8 byte : state.Bloque)
        sum += byte;
    printProblem(QStringLiteral("warning: block %1: sum %2, expected %3")
                     .arg(m_job.requestedFirst + m_job.resumedRecords + index - 1)
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
    endWith(statusFor(summary));
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
    stopProgress();
    const int count = m_job.blockCount();
    QString waitingFor;
    if (!m_transferStarted)
        waitingFor = QStringLiteral("the loader to start a transfer");
    else if (m_blocksDone < count)
        waitingFor = QStringLiteral("block %1 of %2 (block number %3)")
                         .arg(m_blocksDone + 1)
                         .arg(count)
                         .arg(m_job.requestedFirst + m_job.resumedRecords + m_blocksDone);
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
        return summary.clean() ? ExitComplete : ExitIncomplete;
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
    Q_EMIT finished(*m_exitStatus);
}

void DumpSession::printSummary(const TransferSummary& summary) {
    const int kept = summary.resumedRecords + summary.blocksWritten;
    QString line = QStringLiteral("Summary: %1 of %2 written to %3")
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
        line += QStringLiteral(", %1 KB/s").arg(summary.blocksWritten / secs, 0, 'f', 1);
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
