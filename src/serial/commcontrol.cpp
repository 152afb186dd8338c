#include "commcontrol.h"

#include "portlog.h"
#include "wiretrace.h"

#include <algorithm>

CommControl::CommControl(QObject* parent) : QObject(parent) {}

CommControl::~CommControl() = default;

void CommControl::setPortOpen(bool open) {
    if (open == m_open)
        return;
    if (open) {
        clearInput();
        m_expected = 0;
        m_due = 0;
        m_lastFailure.reset();
        openDevice();
        m_open = true;
        if (m_trace)
            m_trace->start();
        qCDebug(lcPort) << "opened" << deviceName();
        return;
    }
    m_open = false;
    closeDevice();
    clearInput();
    qCDebug(lcPort) << "closed";
    Q_EMIT closed();
}

void CommControl::setOutput(const QByteArray& text) {
    if (!m_open || text.isEmpty())
        return;
    qCDebug(lcPort) << "tx" << text.toHex(' ');
    if (m_trace)
        m_trace->record(WireTrace::Direction::ToLoader, text);
    writeDevice(text);
}

QByteArray CommControl::Input() {
    const qsizetype waiting = m_rx.size() - m_rxPos;
    const qsizetype take = (m_inputLen <= 0) ? waiting : qMin<qsizetype>(m_inputLen, waiting);
    QByteArray out = m_rx.mid(m_rxPos, take);
    m_rxPos += take;
    if (m_rxPos == m_rx.size()) {
        m_rx.clear();
        m_rxPos = 0;
    } else if (m_rxPos > 65536 && m_rxPos * 2 > m_rx.size()) {
        m_rx.remove(0, m_rxPos);
        m_rxPos = 0;
    }
    // What was expected has been taken; the receiver says what it expects next.
    if (take > 0)
        m_expected = 0;
    updateDue();
    return out;
}

void CommControl::deliver(const QByteArray& bytes) {
    if (!m_open || bytes.isEmpty())
        return;
    qCDebug(lcPort) << "rx" << bytes.size() << "bytes:" << bytes.left(64).toHex(' ');
    if (m_trace)
        m_trace->record(WireTrace::Direction::FromLoader, bytes);
    m_rx.append(bytes);
    ++m_arrivals;
    updateDue();
    Q_EMIT bytesArrived(bytes);
    // A handler that lets the event loop run (a modal message box) may see more bytes arrive;
    // they are only buffered here and the outer run below raises their events in order.
    if (m_delivering)
        return;
    m_delivering = true;
    raiseEvents();
    m_delivering = false;
}

void CommControl::raiseEvents() {
    quint64 seen = 0;
    do {
        seen = m_arrivals;
        while (m_open && m_rThreshold > 0 && InBufferCount() >= m_rThreshold) {
            const int before = InBufferCount();
            m_commEvent = comEvReceive;
            Q_EMIT OnComm();
            if (InBufferCount() >= before)
                break; // the handler took nothing: wait for the next arrival instead of spinning
        }
        if (m_open)
            Q_EMIT inputArrived();
    } while (m_open && seen != m_arrivals);
}

void CommControl::lose(const QString& description) {
    if (!m_open)
        return;
    m_open = false;
    closeDevice();
    clearInput();
    qCDebug(lcPort) << "device lost:" << description;
    m_commEvent = comEvDeviceLost;
    Q_EMIT deviceLost(description);
    Q_EMIT closed();
}

void CommControl::lose(const PortFailure& failure) {
    if (!m_open)
        return;
    m_lastFailure = failure;
    lose(failure.technicalText());
}

void CommControl::refuseOpen(const PortFailure& failure) {
    m_lastFailure = failure;
    qCDebug(lcPort) << "cannot open:" << failure.technicalText();
    throw PortOpenError(failure, failure.technicalText());
}

void CommControl::expectInput(int bytes) {
    m_expected = std::max(bytes, 0);
    updateDue();
}

void CommControl::updateDue() {
    const int due = m_open && m_expected > 0 ? std::max(m_expected - InBufferCount(), 0) : 0;
    if (due == m_due)
        return;
    m_due = due;
    dueChanged(due);
}

void CommControl::dueChanged(int) {}

void CommControl::clearInput() {
    m_rx.clear();
    m_rxPos = 0;
}
