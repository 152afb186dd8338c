#include "portsession.h"

#include "commcontrol.h"
#include "dialoguelog.h"
#include "operatorside.h"
#include "portdetails.h"

#include <exception>

PortSession::PortSession(CommControl& port, OperatorSide& operatorSide, QObject* parent)
    : QObject(parent), m_port(port), m_op(operatorSide), m_ticker(this),
      m_dialogue(port, operatorSide, m_ticker, this) {
    m_dialogue.setSink(m_newFile);
    m_ticker.setObjectName(QStringLiteral("Timer1"));
    m_ticker.setInterval(BreakInIntervalMs);
    // A coarse timer may fire up to 5 % early or late; the loader expects a steady beat.
    m_ticker.setTimerType(Qt::PreciseTimer);
    connect(&m_ticker, &QTimer::timeout, &m_dialogue, &Dialogue::Timer1_Timer);
    connect(&m_dialogue, &Dialogue::transferStarted, this, &PortSession::transferStarted);
    // The watch ends once the loader has begun a transfer or the port has closed, by the front
    // end or because the device went away.
    connect(&m_port, &CommControl::bytesArrived, &m_firstContact, &FirstContactWatch::received);
    connect(&m_dialogue, &Dialogue::transferStarted, &m_firstContact, &FirstContactWatch::stop);
    connect(&m_port, &CommControl::closed, &m_firstContact, &FirstContactWatch::stop);
    connect(&m_firstContact, &FirstContactWatch::nothingYet, this, &PortSession::loaderSilent);
    connect(&m_firstContact, &FirstContactWatch::notLoaderText, this, &PortSession::notLoaderText);
    connect(&m_dialogue, &Dialogue::blockRequested, this, &PortSession::blockRequested);
    connect(&m_dialogue, &Dialogue::dumpOpened, this, &PortSession::onDumpOpened);
    connect(&m_dialogue, &Dialogue::blockReceived, this, &PortSession::onBlockReceived);
    connect(&m_dialogue, &Dialogue::transferEnded, this, &PortSession::onTransferEnded);
    connect(&m_dialogue, &Dialogue::ended, this, &PortSession::onDialogueEnded);
}

PortSession::~PortSession() {
    m_ticker.stop();
}

std::optional<QString> PortSession::arm(const QString& portName) {
    // The line phase: one receive event per character. A previous transfer left the
    // threshold at 0.
    m_port.setRThreshold(1);
    m_port.setInputLen(1);
    try {
        m_port.setPortOpen(true);
    } catch (const std::exception& failure) {
        qCDebug(lcDialogue) << "cannot arm" << portName << failure.what();
        // In the front end's words when the port told what happened.
        const std::optional<PortFailure>& kind = m_port.lastFailure();
        return kind ? m_op.portFailureText(*kind) : QString::fromUtf8(failure.what());
    }
    m_endReported = false;
    m_stopReason.reset();
    m_ledgerError.clear();
    m_op.appendLogLine(QStringLiteral("En espera ") + portName);
    m_ticker.start();
    m_firstContact.start();
    m_dialogue.portArmed(portName);
    qCDebug(lcDialogue) << "armed" << portName;
    return std::nullopt;
}

void PortSession::closePort() {
    if (m_port.PortOpen())
        m_port.setPortOpen(false);
}

void PortSession::disarm() {
    closePort();
    m_ticker.stop();
    m_firstContact.stop();
    m_op.appendLogLine(QStringLiteral("Puerto COM cerrado."));
    qCDebug(lcDialogue) << "disarmed";
}

void PortSession::setSink(BlockSink* sink) {
    m_dialogue.setSink(sink ? *sink : m_newFile);
}

bool PortSession::recordVerification(const Ledger& ledger, const QString& dumpPath,
                                     const Ledger::Verification& verification, QString* problem) {
    if (m_recorder.recordVerification(ledger, dumpPath, verification))
        return true;
    *problem = m_recorder.error();
    return false;
}

void PortSession::onDumpOpened(const QString& path, const BlockRange& range) {
    m_ledgerError.clear();
    if (!m_plan.keep)
        return;
    LedgerRecorder::Setup setup;
    setup.dumpPath = path;
    setup.range = m_plan.fileRange.value_or(range);
    setup.device.path = m_port.deviceName();
    const PortDetails details = PortDetails::of(setup.device.path);
    if (details.isUsb()) {
        setup.device.vid = details.vendorId;
        setup.device.pid = details.productId;
        setup.device.serial = details.serialNumber;
        setup.device.description = details.description;
    }
    setup.loaderBanner = m_dialogue.loaderBanner();
    setup.previous = m_plan.previous;
    m_recorder.begin(setup);
    noteLedgerFailure(m_recorder.beginRun(m_plan.kind, range));
}

void PortSession::onBlockReceived(const ReceivedBlock& block) {
    if (block.record && m_recorder.running())
        noteLedgerFailure(m_recorder.blockWritten(*block.record, block.data, block.sumOk()));
    Q_EMIT blockReceived(block);
}

void PortSession::onTransferEnded(const TransferSummary& summary) {
    endLedgerRun(summary);
    TransferSummary reported = summary;
    reported.ledgerError = m_ledgerError;
    Q_EMIT transferEnded(reported);
}

void PortSession::onDialogueEnded(const TransferSummary& summary) {
    if (m_endReported)
        return;
    m_endReported = true;
    endLedgerRun(summary);
    TransferSummary reported = summary;
    reported.ledgerError = m_ledgerError;
    Q_EMIT dialogueEnded(reported);
}

void PortSession::endLedgerRun(const TransferSummary& summary) {
    if (!m_recorder.running())
        return;
    if (summary.totalReceived)
        m_recorder.totalChecked(summary.loaderTotal, summary.computedTotal);
    noteLedgerFailure(m_recorder.end(runOutcome(summary)));
    qCDebug(lcDialogue) << "ledger" << m_recorder.ledgerPath()
                        << Ledger::outcomeName(m_recorder.ledger().outcome);
}

Ledger::Outcome PortSession::runOutcome(const TransferSummary& summary) const {
    switch (summary.outcome) {
    case TransferSummary::Outcome::Completed:
        if (!summary.badSumBlocks.isEmpty())
            return Ledger::Outcome::BadSums;
        return summary.totalMatched() ? Ledger::Outcome::Complete : Ledger::Outcome::TotalMismatch;
    case TransferSummary::Outcome::PortClosed:
        return m_stopReason.value_or(Ledger::Outcome::CutShort);
    case TransferSummary::Outcome::DeviceLost:
        return Ledger::Outcome::DeviceLost;
    case TransferSummary::Outcome::FileError:
        return Ledger::Outcome::FileError;
    }
    return Ledger::Outcome::CutShort;
}

void PortSession::noteLedgerFailure(bool written) {
    // The first failure is the one to report; the dump goes on regardless.
    if (!written && m_ledgerError.isEmpty())
        m_ledgerError = m_recorder.error();
}
