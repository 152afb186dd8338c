#include "portsession.h"

#include "commcontrol.h"
#include "dialoguelog.h"
#include "operatorside.h"

#include <exception>

PortSession::PortSession(CommControl& port, OperatorSide& operatorSide, QObject* parent)
    : QObject(parent), m_port(port), m_op(operatorSide), m_ticker(this),
      m_dialogue(port, operatorSide, m_ticker, this) {
    m_ticker.setObjectName(QStringLiteral("Timer1"));
    m_ticker.setInterval(BreakInIntervalMs);
    // A coarse timer may fire up to 5 % early or late; the loader expects a steady beat.
    m_ticker.setTimerType(Qt::PreciseTimer);
    connect(&m_ticker, &QTimer::timeout, &m_dialogue, &Dialogue::Timer1_Timer);
    connect(&m_dialogue, &Dialogue::transferStarted, this, &PortSession::transferStarted);
    connect(&m_dialogue, &Dialogue::blockRequested, this, &PortSession::blockRequested);
    connect(&m_dialogue, &Dialogue::blockReceived, this, &PortSession::blockReceived);
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
        return QString::fromUtf8(failure.what());
    }
    m_endReported = false;
    m_op.appendLogLine(QStringLiteral("En espera ") + portName);
    m_ticker.start();
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
    m_op.appendLogLine(QStringLiteral("Puerto COM cerrado."));
    qCDebug(lcDialogue) << "disarmed";
}

void PortSession::onDialogueEnded(const TransferSummary& summary) {
    if (m_endReported)
        return;
    m_endReported = true;
    Q_EMIT dialogueEnded(summary);
}
