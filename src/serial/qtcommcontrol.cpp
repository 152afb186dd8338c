#include "qtcommcontrol.h"

#include "deviceaccess.h"
#include "portnaming.h"

namespace {

// How long closing waits for queued output to leave, per chunk, before giving up on it.
constexpr int drainTimeoutMs = 100;

QString missingText(const QString& port, const QString& path) {
    return QStringLiteral("%1: the device %2 does not exist. Connect the serial adapter or pick "
                          "another port.")
        .arg(port, path);
}

QString permissionText(const QString& port, const QString& path) {
    return QStringLiteral("%1: permission denied on %2. The user needs read and write access to "
                          "the device, for instance as a member of the dialout group (sudo "
                          "usermod -aG dialout $USER, then log in again).")
        .arg(port, path);
}

QString busyText(const QString& port, const QString& path) {
    return QStringLiteral("%1: the device %2 is busy: another program is using it. Close that "
                          "program or pick another port.")
        .arg(port, path);
}

QString otherText(const QString& port, const QString& path, const QString& why) {
    return QStringLiteral("%1: the device %2 could not be opened (%3). Check that it is a serial "
                          "port or pick another port.")
        .arg(port, path, why);
}

} // namespace

QtCommControl::QtCommControl(QObject* parent) : CommControl(parent) {
    m_port.setBaudRate(BaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // Unlimited: the port keeps reading whatever the receive side has not taken yet.
    m_port.setReadBufferSize(0);
    connect(&m_port, &QSerialPort::readyRead, this, &QtCommControl::receive);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtCommControl::handleError);
}

QString QtCommControl::deviceName() const {
    return m_port.isOpen() ? m_openDevice : targetPath();
}

void QtCommControl::openDevice() {
    const QString path = targetPath();
    checkDevice(path);
    m_port.setPortName(path);
    if (!m_port.open(QIODevice::ReadWrite))
        throw PortOpenError(openFailure(path).toStdString());
    m_port.clearError();
    m_openDevice = path;
    // A pseudo-terminal has no modem lines; failing to set them is not an open failure.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(false);
}

void QtCommControl::closeDevice() {
    if (!m_port.isOpen())
        return;
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
            lose(QStringLiteral("%1: the device %2 refused the data to send. The port has been "
                                "closed; check the adapter and pick the port again.")
                     .arg(portLabel(), m_openDevice));
            return;
        }
        data += written;
        left -= written;
    }
    // QSerialPort only queues what it is given and writes it once the event loop comes back to
    // the port, which in the window is after any pending paint and layout work: a request would
    // wait behind the repaint of the log and progress caption. Handed to the device at once
    // instead, as far as it takes it without blocking; the rest still goes from the event loop.
    m_port.flush();
}

void QtCommControl::receive() {
    // QSerialPort does not raise readyRead again while a handler below runs a nested event loop
    // (a modal message); what arrived meanwhile is already in the port and is taken here.
    while (PortOpen() && m_port.bytesAvailable() > 0)
        deliver(m_port.readAll());
}

void QtCommControl::handleError(QSerialPort::SerialPortError error) {
    QString what;
    switch (error) {
    case QSerialPort::ResourceError:
        what = QStringLiteral("it disappeared");
        break;
    case QSerialPort::ReadError:
        what = QStringLiteral("reading from it failed");
        break;
    case QSerialPort::WriteError:
        what = QStringLiteral("writing to it failed");
        break;
    default:
        // Open failures are reported by openDevice(); missing modem lines are harmless.
        return;
    }
    // QSerialPort repeats these errors on every turn of the event loop until the port is
    // closed, so the first one closes it.
    lose(QStringLiteral("%1: the device %2 went away (%3). The port has been closed; reconnect "
                        "the adapter and pick the port again.")
             .arg(portLabel(), m_openDevice, what));
}

void QtCommControl::checkDevice(const QString& path) const {
    if (!deviceExists(path))
        throw PortOpenError(missingText(portLabel(), path).toStdString());
    if (!mayReadAndWrite(path))
        throw PortOpenError(permissionText(portLabel(), path).toStdString());
}

QString QtCommControl::openFailure(const QString& path) const {
    switch (m_port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return missingText(portLabel(), path);
    case QSerialPort::PermissionError:
        // Also what QSerialPort reports when another program holds the device's lock.
        return mayReadAndWrite(path) ? busyText(portLabel(), path)
                                     : permissionText(portLabel(), path);
    case QSerialPort::OpenError:
        return busyText(portLabel(), path);
    default:
        return otherText(portLabel(), path, m_port.errorString());
    }
}

QString QtCommControl::portLabel() const {
    return m_devicePath.isEmpty() ? QStringLiteral("COM%1").arg(CommPort())
                                  : QStringLiteral("Serial port");
}

QString QtCommControl::targetPath() const {
    return systemLocation(m_devicePath.isEmpty() ? deviceForCommPort(CommPort()) : m_devicePath);
}
