#include "qtcommcontrol.h"

#include "portlog.h"
#include "portnaming.h"

#include <algorithm>

namespace {

// How long closing waits for queued output to leave, per chunk, before giving up on it.
constexpr int drainTimeoutMs = 100;

// Fewer bytes due than this are taken as they come: a rest costs about three wake-ups (its
// first byte, the port noticing its buffer is full, the end of the rest), as many as three
// pieces of a UART's receive FIFO.
constexpr int restMinimum = 64;

// What a device may hold beyond what the line can have carried since a rest began (a USB
// packet, a byte of clock granularity) before it counts as faster than the line.
constexpr qint64 lineSlack = 64;

constexpr qint64 BitsPerByte = 10; // 8N1

// How much sooner than the line can have carried all that is due a rest ends: a timer fires up to
// a millisecond late, and the loader's clock for the frame starts a little after the port's. The
// last piece or two then wake the receiver as they come, so the last byte is never waited for.
constexpr int restEarlyMs = 2;

// How long a rest for `bytes` due lasts: the time the line takes to carry them (rounded down),
// less restEarlyMs.
int restMs(int bytes) {
    const qint64 lineMs = qint64(bytes) * BitsPerByte * 1000 / CommControl::BaudRate;
    return int(std::max<qint64>(lineMs - restEarlyMs, 0));
}

// The most the line can carry in `ms`.
qint64 lineBytes(qint64 ms) {
    return ms * CommControl::BaudRate / BitsPerByte / 1000;
}

} // namespace

QtCommControl::QtCommControl(QObject* parent) : CommControl(parent), m_port(this) {
    // A child by name, so that what it reports can be watched, or played, from outside.
    m_port.setObjectName(QStringLiteral("serialPort"));
    m_port.setBaudRate(BaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // Unlimited: the port keeps reading whatever the receive side has not taken yet.
    m_port.setReadBufferSize(0);
    connect(&m_port, &QSerialPort::readyRead, this, &QtCommControl::receive);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtCommControl::handleError);
    m_rest.setSingleShot(true);
    m_rest.setTimerType(Qt::PreciseTimer);
    connect(&m_rest, &QTimer::timeout, this, &QtCommControl::endRest);
}

QString QtCommControl::deviceName() const {
    return m_port.isOpen() ? m_openDevice : targetPath();
}

void QtCommControl::openDevice() {
    const QString path = targetPath();
    checkDevice(path);
    m_port.setPortName(path);
    if (!m_port.open(QIODevice::ReadWrite))
        refuseOpen(openFailure(path));
    m_port.clearError();
    m_openDevice = path;
    // Resting needs the device's own count of what it holds, to tell a source faster than the
    // line (a program on a pseudo-terminal) from the line itself.
    m_mayRest = bytesWaiting(m_port.handle()) >= 0;
    // A pseudo-terminal has no modem lines; failing to set them is not an open failure.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(false);
    // A USB adapter otherwise holds back the tail of each frame until its latency timer fires
    // (16 ms on FTDI chips). Drivers without the setting (pseudo-terminals) are left as they are.
    const LowLatency lowLatency = requestLowLatency(m_port.handle());
    qCDebug(lcPort) << "low-latency mode:"
                    << (lowLatency == LowLatency::Set       ? "on"
                        : lowLatency == LowLatency::Refused ? "refused by the driver"
                                                            : "not supported");
}

void QtCommControl::closeDevice() {
    stopResting();
    if (!m_port.isOpen())
        return;
    if (m_flushing) {
        m_closeAfterFlush = true;
        m_openDevice.clear();
        return;
    }
    const QSerialPort::SerialPortError error = m_port.error();
    const bool deviceFailed = error == QSerialPort::ResourceError ||
                              error == QSerialPort::ReadError || error == QSerialPort::WriteError;
    // Output still queued in the port would be lost by closing; each wait blocks until the device
    // takes the next chunk, so a stuck device costs at most one timeout.
    bool draining = !deviceFailed;
    while (draining && m_port.bytesToWrite() > 0)
        draining = m_port.waitForBytesWritten(drainTimeoutMs);
    m_port.close();
    m_openDevice.clear();
}

void QtCommControl::writeDevice(const QByteArray& bytes) {
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const qint64 written = m_port.write(data, left);
        if (written <= 0) {
            lose(PortFailure{PortFailure::Kind::WriteFailed, m_openDevice, m_port.errorString()});
            return;
        }
        data += written;
        left -= written;
    }
    // QSerialPort only queues what it is given and writes it once the event loop comes back to
    // the port, which in the window is after any pending paint and layout work: a request would
    // wait behind the repaint of the log and progress caption. Handed to the device at once
    // instead, as far as it takes it without blocking; the rest still goes from the event loop.
    m_flushing = true;
    m_port.flush();
    m_flushing = false;
    // A loss the flush found has already been reported; the device itself is let go of now that
    // QSerialPort is out of its flush.
    if (m_closeAfterFlush) {
        m_closeAfterFlush = false;
        m_port.close();
    }
}

void QtCommControl::dueChanged(int due) {
    if (due < restMinimum || !m_mayRest || !m_port.isOpen()) {
        stopResting();
        return;
    }
    // The last byte due cannot come before the line has carried all of them: until then the port
    // buffers a single byte and then stops reading, so the pieces a UART hands over meanwhile
    // wake nobody. What comes is taken whole when the rest ends.
    m_restDue = due;
    m_restClock.start();
    m_port.setReadBufferSize(1);
    m_rest.start(restMs(due));
}

void QtCommControl::firstByteOfRest() {
    // A device that holds all that is due, or more than the line can have carried since the rest
    // began, is not paced by a line at this rate (a program on a pseudo-terminal, or a frame
    // that began before the rest did): what it holds is taken now.
    const qint64 held =
        m_port.bytesAvailable() + std::max<qint64>(bytesWaiting(m_port.handle()), 0);
    const qint64 elapsedMs = m_restClock.elapsed();
    if (held < m_restDue && held <= lineBytes(elapsedMs) + lineSlack)
        return;
    qCDebug(lcPort) << "rest ended after" << elapsedMs << "ms:" << held << "of" << m_restDue
                    << "bytes due are there";
    endRest();
}

void QtCommControl::endRest() {
    stopResting();
    if (!m_port.isOpen())
        return;
    // Read at once what the device holds (or learn that it is gone); the byte the rest kept is
    // taken with it. Without anything new, the kept byte is taken alone.
    if (!m_port.waitForReadyRead(0) && m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError();
    receive();
}

void QtCommControl::stopResting() {
    m_rest.stop();
    if (m_port.readBufferSize() != 0)
        m_port.setReadBufferSize(0);
}

void QtCommControl::receive() {
    // Resting: what came is taken when the rest ends.
    if (m_rest.isActive()) {
        firstByteOfRest();
        return;
    }
    // QSerialPort does not raise readyRead again while a handler below runs a nested event loop
    // (a modal message); what arrived meanwhile is already in the port and is taken here.
    while (PortOpen() && m_port.bytesAvailable() > 0)
        deliver(m_port.readAll());
}

void QtCommControl::handleError(QSerialPort::SerialPortError error) {
    PortFailure::Kind kind = PortFailure::Kind::Gone;
    switch (error) {
    case QSerialPort::ResourceError:
        kind = PortFailure::Kind::Gone;
        break;
    case QSerialPort::ReadError:
        kind = PortFailure::Kind::ReadFailed;
        break;
    case QSerialPort::WriteError:
        kind = PortFailure::Kind::WriteFailed;
        break;
    default:
        // Open failures are reported by openDevice(); missing modem lines are harmless.
        return;
    }
    // QSerialPort repeats these errors on every turn of the event loop until the port is
    // closed, so the first one closes it.
    // Also when the flush inside setOutput() found it: the writer learns at once that the port
    // is gone (and stops there), while the device is closed once the flush has returned.
    lose(PortFailure{kind, m_openDevice, m_port.errorString()});
}

void QtCommControl::checkDevice(const QString& path) {
    if (!deviceExists(path))
        refuseOpen({PortFailure::Kind::DoesNotExist, path, {}});
    if (!mayReadAndWrite(path))
        refuseOpen({PortFailure::Kind::PermissionDenied, path, {}});
}

PortFailure QtCommControl::openFailure(const QString& path) const {
    switch (m_port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return {PortFailure::Kind::DoesNotExist, path, {}};
    case QSerialPort::PermissionError:
        // Also what QSerialPort reports when another program holds the device's lock.
        return {mayReadAndWrite(path) ? PortFailure::Kind::Busy
                                      : PortFailure::Kind::PermissionDenied,
                path,
                {}};
    case QSerialPort::OpenError:
        return {PortFailure::Kind::Busy, path, {}};
    default:
        return {PortFailure::Kind::NotOpened, path, m_port.errorString()};
    }
}

QString QtCommControl::targetPath() const {
    return portDevice(CommPort(), devicePath());
}
