#include "dispatcherrun.h"

#include "fuzzcheck.h"
#include "numeric.h"

#include <QByteArrayList>
#include <QTimer>

const QByteArray DispatcherRun::Response4 = QByteArray("R4 QUERY\r\n\0\x01\xff\r\n", 15);
const QByteArray DispatcherRun::Response5 = QByteArray("R5 DOWNLOAD\r\n\xff\0\tEND", 19);

namespace {

const QString DumpFileName = QStringLiteral("dump.bin");

QString dumpFolderFor(const DispatcherInput& input, const QString& dumpFolder) {
    // Two levels below the existing folder: the transfer's single mkdir cannot create it.
    return input.has(DispatcherInput::BadDumpFolder)
               ? dumpFolder + QStringLiteral("/missing/deeper/")
               : dumpFolder + QLatin1Char('/');
}

// "<prefix><whole number>\r" gives the number; anything else gives nothing.
std::optional<qint64> numberedText(const QByteArray& text, const QByteArray& prefix) {
    if (!text.startsWith(prefix) || !text.endsWith('\r'))
        return std::nullopt;
    const QByteArray digits = text.mid(prefix.size(), text.size() - prefix.size() - 1);
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok || QByteArray::number(number) != digits)
        return std::nullopt;
    return number;
}

} // namespace

DispatcherRun::DispatcherRun(DispatcherInput& input, const QString& responsesFolder,
                             const QString& dumpFolder)
    : m_input(input), m_operator(m_port, input.startBlock(), input.blockCount(),
                                 dumpFolderFor(input, dumpFolder), DumpFileName),
      m_session(m_port, m_operator) {
    m_operator.follow(m_session);
    m_session.dialogue().setResponsesFolder(input.has(DispatcherInput::NoResponses)
                                                ? responsesFolder + QStringLiteral("/missing")
                                                : responsesFolder);
    m_operator.setWhileMessageOpen([this] { whileMessageOpen(); });
    // A transfer runs from the dialogue's signal that it started to its end.
    QObject::connect(&m_session.dialogue(), &Dialogue::transferStarted,
                     [this] { m_transferRunning = true; });
    QObject::connect(&m_session.dialogue(), &Dialogue::ended, [this] { m_transferRunning = false; });
}

void DispatcherRun::run() {
    arm();
    const QByteArray& received = m_input.received();
    while (m_pos < received.size()) {
        if (!m_port.PortOpen()) {
            if (!m_input.has(DispatcherInput::Rearm) || m_arms >= MaxArms)
                break;
            arm();
        }
        deliverNext();
        checkState();
        if (m_input.has(DispatcherInput::Ticks) &&
            m_session.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive()) {
            m_session.dialogue().Timer1_Timer();
        }
    }
    checkSent();
}

void DispatcherRun::arm() {
    m_port.setCommPort(1);
    fuzzCheck(!m_session.arm(QStringLiteral("COM1")), "the fake port opens");
    ++m_arms;
}

void DispatcherRun::deliverNext() {
    const QByteArray& received = m_input.received();
    const qsizetype size = qMin(m_input.nextArrivalSize(), received.size() - m_pos);
    const QByteArray arrival = received.mid(m_pos, size);
    m_pos += size;
    m_port.push(arrival);
    if (m_input.has(DispatcherInput::CloseMidway) && !m_closeDone && m_pos >= m_input.closeAt())
        closePort();
}

void DispatcherRun::closePort() {
    m_closeDone = true;
    if (m_input.has(DispatcherInput::Vanish))
        m_port.vanish(QStringLiteral("device removed"));
    else
        m_session.disarm();
}

void DispatcherRun::whileMessageOpen() {
    // A modal message lets the event loop run, but only one level deep here.
    if (m_inMessage)
        return;
    m_inMessage = true;
    if (m_input.has(DispatcherInput::ArriveInMessage) && m_pos < m_input.received().size())
        deliverNext();
    if (m_input.has(DispatcherInput::CloseInMessage) && !m_closeDone && m_port.PortOpen())
        closePort();
    m_inMessage = false;
}

void DispatcherRun::checkState() const {
    fuzzCheck(m_port.PortOpen() || !m_transferRunning, "no transfer runs on a closed port");
    fuzzCheck(!m_transferRunning || m_port.RThreshold() == 0,
              "no receive events reach the dispatcher while a transfer runs");
}

// Every write is one of the dialogue's texts, and each block is acknowledged only after it was
// requested.
void DispatcherRun::checkSent() const {
    const QByteArrayList fixed{
        "KDATA",
        "ack",
        "REQUEST_DOWNLOAD\r",
        "REQUEST_TOTALCRC\r",
        "DOWN_SUCCESS\r",
        QByteArray(1, Dialogue::BreakIn),
        fourDigitForm(m_operator.pass().range.first).toLatin1(),
        fourDigitForm(m_operator.pass().range.count).toLatin1(),
    };
    std::optional<qint64> requested;
    for (const QByteArray& write : m_port.writes()) {
        if (fixed.contains(write))
            continue;
        if (write.size() == 1 && (Response4.contains(write[0]) || Response5.contains(write[0])))
            continue;
        if (const std::optional<qint64> block = numberedText(write, "REQUEST_1024DOWN:")) {
            requested = block;
            continue;
        }
        const std::optional<qint64> acknowledged = numberedText(write, "1024DOWN_SUCCESS:");
        fuzzCheck(acknowledged.has_value(), "every write is one of the dialogue's texts");
        fuzzCheck(acknowledged == requested, "a block is acknowledged once, after its request");
        requested.reset();
    }
}
