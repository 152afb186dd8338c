#include "processstats.h"
#include "qtcommcontrol.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <fcntl.h>
#include <linux/serial.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

QByteArray pattern(int length) {
    QByteArray bytes(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) % 256);
    return bytes;
}

QByteArray byteRange(int first, int last) {
    QByteArray bytes;
    for (int value = first; value <= last; ++value)
        bytes.append(static_cast<char>(value));
    return bytes;
}

// Rows shared by both directions of the transparency test.
void addByteValueRows() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("NUL") << QByteArray(1, '\x00');
    QTest::newRow("XON") << QByteArray(1, '\x11');
    QTest::newRow("XOFF") << QByteArray(1, '\x13');
    QTest::newRow("end of file") << QByteArray(1, '\x1a');
    QTest::newRow("CR") << QByteArray(1, '\r');
    QTest::newRow("LF") << QByteArray(1, '\n');
    QTest::newRow("break-in byte") << QByteArray(1, '\x1f');
    QTest::newRow("interrupt and quit") << QByteArray("\x03\x1c\x7f", 3);
    QTest::newRow("XOFF before text") << QByteArray("\x13KDATA\x11", 7);
    QTest::newRow("0x80 to 0xFF") << byteRange(0x80, 0xff);
    QTest::newRow("all 256 values") << byteRange(0x00, 0xff);
}

} // namespace

// The real adapter over a pseudo-terminal: the test plays the device on the master side, the
// adapter opens the slave as COM1.
class TestCommControlPty : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void opensTheSlaveWithTheLineSettings();
    void bytesArriveUnchanged_data();
    void bytesArriveUnchanged();
    void bytesLeaveUnchanged_data();
    void bytesLeaveUnchanged();
    void receivedXoffDoesNotStopOutput();
    void outputQueuedBeforeClosingIsSent();
    void thresholdZeroRaisesNoEvent();
    void inputTakesAtMostInputLen_data();
    void inputTakesAtMostInputLen();
    void settingsSurviveReopening_data();
    void settingsSurviveReopening();
    void bytesArrivingDuringNestedLoopFollowInOrder();
    void openFailureIsExplained_data();
    void openFailureIsExplained();
    void vanishedDeviceIsReportedOnceAndLeavesTheProcessIdle_data();
    void vanishedDeviceIsReportedOnceAndLeavesTheProcessIdle();
    void lowLatencyRequested_data();
    void lowLatencyRequested();

private:
    void sendFromDevice(const QByteArray& bytes);
    void readFromPort();
    void writeToPort();
    void closeMaster();
    bool setSlaveCooked();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QByteArray m_fromPort;
    QByteArray m_toPort;
    std::unique_ptr<QSocketNotifier> m_reader;
    std::unique_ptr<QSocketNotifier> m_writer;
};

void TestCommControlPty::init() {
    QVERIFY(::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) == 0);
    m_slavePath = QFile::decodeName(::ttyname(m_slave));
    QVERIFY(!m_slavePath.isEmpty());
    termios raw{};
    QVERIFY(::tcgetattr(m_slave, &raw) == 0);
    ::cfmakeraw(&raw);
    QVERIFY(::tcsetattr(m_slave, TCSANOW, &raw) == 0);
    QVERIFY(::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) == 0);

    m_fromPort.clear();
    m_toPort.clear();
    m_reader = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_reader.get(), &QSocketNotifier::activated, this, &TestCommControlPty::readFromPort);
    m_writer = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writer->setEnabled(false);
    connect(m_writer.get(), &QSocketNotifier::activated, this, &TestCommControlPty::writeToPort);

    qputenv("DECODUMP_COM1", QFile::encodeName(m_slavePath));
    qunsetenv("DECODUMP_COM2");
}

void TestCommControlPty::cleanup() {
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
    qunsetenv("DECODUMP_COM1");
    qunsetenv("DECODUMP_COM2");
}

// The device's side: queued and written as the master accepts it, so a long burst never blocks.
void TestCommControlPty::sendFromDevice(const QByteArray& bytes) {
    m_toPort += bytes;
    m_writer->setEnabled(true);
}

void TestCommControlPty::writeToPort() {
    const ssize_t written = ::write(m_master, m_toPort.constData(), m_toPort.size());
    if (written > 0)
        m_toPort.remove(0, written);
    m_writer->setEnabled(!m_toPort.isEmpty());
}

void TestCommControlPty::readFromPort() {
    char buffer[4096];
    const ssize_t got = ::read(m_master, buffer, sizeof buffer);
    if (got > 0)
        m_fromPort.append(buffer, got);
}

void TestCommControlPty::closeMaster() {
    m_reader.reset();
    m_writer.reset();
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

// Echo, line editing, software flow control and CR/LF translation: the adapter has to undo all of
// it on its own for the line to be transparent.
bool TestCommControlPty::setSlaveCooked() {
    termios cooked{};
    if (::tcgetattr(m_slave, &cooked) != 0)
        return false;
    cooked.c_iflag |= IXON | IXOFF | ICRNL | ISTRIP | INPCK;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    cooked.c_cflag = (cooked.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
    ::cfsetispeed(&cooked, B9600);
    ::cfsetospeed(&cooked, B9600);
    return ::tcsetattr(m_slave, TCSANOW, &cooked) == 0;
}

void TestCommControlPty::opensTheSlaveWithTheLineSettings() {
    QVERIFY(setSlaveCooked());
    QtCommControl port;
    QCOMPARE(port.deviceName(), m_slavePath);

    port.setPortOpen(true);

    QVERIFY(port.PortOpen());
    QCOMPARE(port.deviceName(), m_slavePath);
    termios line{};
    QVERIFY(::tcgetattr(m_slave, &line) == 0);
    QCOMPARE(::cfgetispeed(&line), speed_t(B115200));
    QCOMPARE(::cfgetospeed(&line), speed_t(B115200));
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), tcflag_t(0));
    QCOMPARE(line.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
}

void TestCommControlPty::bytesArriveUnchanged_data() {
    addByteValueRows();
}

void TestCommControlPty::bytesArriveUnchanged() {
    QFETCH(QByteArray, bytes);
    QVERIFY(setSlaveCooked());
    QtCommControl port;
    port.setPortOpen(true);
    QByteArrayList pieces;
    QList<int> events;
    connect(&port, &CommControl::OnComm, this, [&] {
        events.append(port.CommEvent());
        pieces.append(port.Input());
    });

    sendFromDevice(bytes);

    QTRY_COMPARE(pieces.join(), bytes);
    QCOMPARE(pieces.size(), bytes.size());
    for (const QByteArray& piece : pieces)
        QCOMPARE(piece.size(), 1);
    QCOMPARE(events, QList<int>(bytes.size(), CommControl::comEvReceive));
    QCOMPARE(port.InBufferCount(), 0);
}

void TestCommControlPty::bytesLeaveUnchanged_data() {
    addByteValueRows();
}

void TestCommControlPty::bytesLeaveUnchanged() {
    QFETCH(QByteArray, bytes);
    QVERIFY(setSlaveCooked());
    QtCommControl port;
    port.setPortOpen(true);

    port.setOutput(bytes);

    QTRY_COMPARE(m_fromPort, bytes);
}

void TestCommControlPty::receivedXoffDoesNotStopOutput() {
    QVERIFY(setSlaveCooked());
    QtCommControl port;
    port.setRThreshold(0);
    port.setPortOpen(true);
    sendFromDevice(QByteArray(1, '\x13'));
    QTRY_COMPARE(port.InBufferCount(), 1);

    port.setOutput("REQUEST_TOTALCRC\r");

    QTRY_COMPARE(m_fromPort, QByteArray("REQUEST_TOTALCRC\r"));
    QCOMPARE(port.Input(), QByteArray(1, '\x13'));
}

void TestCommControlPty::outputQueuedBeforeClosingIsSent() {
    QtCommControl port;
    port.setPortOpen(true);
    const QByteArray frame = pattern(1032);

    port.setOutput(frame);
    port.setPortOpen(false);

    QTRY_COMPARE(m_fromPort, frame);
}

void TestCommControlPty::thresholdZeroRaisesNoEvent() {
    QtCommControl port;
    port.setRThreshold(0);
    port.setPortOpen(true);
    QSignalSpy onComm(&port, &CommControl::OnComm);
    QSignalSpy arrived(&port, &CommControl::inputArrived);

    sendFromDevice("BL_FLASH_END\n");

    QTRY_COMPARE(port.InBufferCount(), 13);
    QVERIFY(arrived.count() >= 1);
    QCOMPARE(onComm.count(), 0);
}

void TestCommControlPty::inputTakesAtMostInputLen_data() {
    QTest::addColumn<int>("inputLen");
    QTest::addColumn<int>("waiting");
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("0 takes everything") << 0 << 2100 << QList<int>{2100};
    QTest::newRow("1 of 3") << 1 << 3 << QList<int>{1, 1, 1};
    QTest::newRow("1032 of exactly 1032") << 1032 << 1032 << QList<int>{1032};
    QTest::newRow("1032 of fewer") << 1032 << 1000 << QList<int>{1000};
    QTest::newRow("1032 of two frames and a bit") << 1032 << 2074 << QList<int>{1032, 1032, 10};
    QTest::newRow("1032 of eight frames") << 1032 << 8256 << QList<int>(8, 1032);
}

void TestCommControlPty::inputTakesAtMostInputLen() {
    QFETCH(int, inputLen);
    QFETCH(int, waiting);
    QFETCH(QList<int>, sizes);
    QtCommControl port;
    port.setRThreshold(0);
    port.setInputLen(inputLen);
    port.setPortOpen(true);
    const QByteArray sent = pattern(waiting);

    sendFromDevice(sent);

    QTRY_COMPARE(port.InBufferCount(), waiting);
    QByteArray received;
    for (int size : sizes) {
        const QByteArray piece = port.Input();
        QCOMPARE(piece.size(), size);
        received += piece;
    }
    QCOMPARE(received, sent);
    QCOMPARE(port.Input(), QByteArray());
}

void TestCommControlPty::settingsSurviveReopening_data() {
    QTest::addColumn<int>("inputLen");
    QTest::addColumn<int>("threshold");
    QTest::newRow("dialogue") << 1 << 1;
    QTest::newRow("transfer") << 1032 << 0;
    QTest::newRow("read everything") << 0 << 0;
    QTest::newRow("transfer one byte") << 1 << 0;
}

void TestCommControlPty::settingsSurviveReopening() {
    QFETCH(int, inputLen);
    QFETCH(int, threshold);
    QtCommControl port;
    port.setPortOpen(true);
    port.setInputLen(inputLen);
    port.setRThreshold(threshold);
    QSignalSpy closed(&port, &CommControl::closed);

    port.setPortOpen(false);
    QVERIFY(!port.PortOpen());
    port.setPortOpen(true);

    QCOMPARE(closed.count(), 1);
    QVERIFY(port.PortOpen());
    QCOMPARE(port.InputLen(), inputLen);
    QCOMPARE(port.RThreshold(), threshold);

    QSignalSpy onComm(&port, &CommControl::OnComm);
    QByteArray taken;
    connect(&port, &CommControl::OnComm, this, [&] { taken += port.Input(); });
    sendFromDevice("xyz");
    QTRY_COMPARE(taken.size() + port.InBufferCount(), 3);
    QCOMPARE(onComm.count() > 0, threshold > 0);
}

void TestCommControlPty::bytesArrivingDuringNestedLoopFollowInOrder() {
    QtCommControl port;
    port.setPortOpen(true);
    QByteArray order;
    int depth = 0;
    int deepest = 0;
    connect(&port, &CommControl::OnComm, this, [&] {
        deepest = qMax(deepest, ++depth);
        const QByteArray byte = port.Input();
        order += byte;
        if (byte == "a") {
            // What a modal message does: the event loop runs while the handler has not returned.
            sendFromDevice("bcd");
            QEventLoop modal;
            QTimer::singleShot(300, &modal, &QEventLoop::quit);
            modal.exec();
        }
        --depth;
    });

    sendFromDevice("a");

    QTRY_COMPARE(order, QByteArray("abcd"));
    QCOMPARE(deepest, 1);
}

enum class OpenFailure { Missing, NoPermission, Busy, NotSerial };

void TestCommControlPty::openFailureIsExplained_data() {
    QTest::addColumn<OpenFailure>("failure");
    QTest::addColumn<PortFailure::Kind>("kind");
    QTest::newRow("missing") << OpenFailure::Missing << PortFailure::Kind::DoesNotExist;
    QTest::newRow("no permission")
        << OpenFailure::NoPermission << PortFailure::Kind::PermissionDenied;
    QTest::newRow("busy") << OpenFailure::Busy << PortFailure::Kind::Busy;
    QTest::newRow("not a serial port") << OpenFailure::NotSerial << PortFailure::Kind::NotOpened;
}

void TestCommControlPty::openFailureIsExplained() {
    QFETCH(OpenFailure, failure);
    QFETCH(PortFailure::Kind, kind);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QtCommControl holder;
    QtCommControl port;
    QString device = m_slavePath;

    switch (failure) {
    case OpenFailure::Missing:
        device = QStringLiteral("/nonexistent/tty");
        break;
    case OpenFailure::NoPermission: {
        if (::geteuid() == 0)
            QSKIP("permission checks do not apply to root");
        device = folder.filePath(QStringLiteral("ttyLocked"));
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(QFileDevice::Permissions()));
        break;
    }
    case OpenFailure::Busy:
        holder.setPortOpen(true);
        break;
    case OpenFailure::NotSerial: {
        device = folder.filePath(QStringLiteral("notATty"));
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        break;
    }
    }
    qputenv("DECODUMP_COM2", QFile::encodeName(device));
    port.setCommPort(2);
    QSignalSpy closed(&port, &CommControl::closed);

    std::optional<PortFailure> reported;
    QString description;
    try {
        port.setPortOpen(true);
    } catch (const PortOpenError& error) {
        reported = error.failure();
        description = QString::fromStdString(error.what());
    }

    QVERIFY2(reported, "opening did not fail");
    QCOMPARE(reported->kind, kind);
    QCOMPARE(reported->device, device);
    QCOMPARE(reported->systemText.isEmpty(), kind != PortFailure::Kind::NotOpened);
    // Technical: each front end words the kind.
    QCOMPARE(description, reported->technicalText());
    QVERIFY(port.lastFailure());
    QCOMPARE(port.lastFailure()->kind, kind);
    QVERIFY(!port.PortOpen());
    QCOMPARE(closed.count(), 0);
}

void TestCommControlPty::vanishedDeviceIsReportedOnceAndLeavesTheProcessIdle_data() {
    QTest::addColumn<int>("error"); // played by the serial port; NoError: the master closes
    QTest::addColumn<int>("kind");
    QTest::newRow("device gone") << int(QSerialPort::NoError) << int(PortFailure::Kind::Gone);
    // Errors no pseudo-terminal raises: QSerialPort reports them of a failing adapter.
    QTest::newRow("write error") << int(QSerialPort::WriteError)
                                 << int(PortFailure::Kind::WriteFailed);
    QTest::newRow("read error") << int(QSerialPort::ReadError)
                                << int(PortFailure::Kind::ReadFailed);
}

void TestCommControlPty::vanishedDeviceIsReportedOnceAndLeavesTheProcessIdle() {
    QFETCH(int, error);
    QFETCH(int, kind);
    QtCommControl port;
    port.setRThreshold(0);
    port.setPortOpen(true);
    QSignalSpy lost(&port, &CommControl::deviceLost);
    QSignalSpy closed(&port, &CommControl::closed);
    bool closedBeforeReport = false;
    connect(&port, &CommControl::deviceLost, this, [&] { closedBeforeReport = !port.PortOpen(); });
    sendFromDevice("ok");
    QTRY_COMPARE(port.InBufferCount(), 2);

    if (error == QSerialPort::NoError) {
        closeMaster();
        // A write may find the device gone at once (the writer then sees the port closed when
        // it returns) or leave it to the event loop; either way the loss is reported once.
        port.setOutput("late");
    } else {
        auto* serialPort = port.findChild<QSerialPort*>(QStringLiteral("serialPort"));
        QVERIFY(serialPort);
        Q_EMIT serialPort->errorOccurred(QSerialPort::SerialPortError(error));
        Q_EMIT serialPort->errorOccurred(QSerialPort::SerialPortError(error));
    }
    QTRY_COMPARE(lost.count(), 1);
    QCOMPARE(int(port.lastFailure()->kind), kind);
    QVERIFY(!port.PortOpen());
    QVERIFY(closedBeforeReport);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(port.CommEvent(), CommControl::comEvDeviceLost);
    QCOMPARE(port.InBufferCount(), 0);
    QVERIFY(port.lastFailure());
    QVERIFY2(port.lastFailure()->lost(), qPrintable(port.lastFailure()->technicalText()));
    QCOMPARE(port.lastFailure()->device, m_slavePath);
    QCOMPARE(lost.at(0).at(0).toString(), port.lastFailure()->technicalText());

    // The closed port must not keep the event loop busy with repeated errors.
    const double before = processCpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double used = processCpuSeconds() - before;
    VERIFY_FIGURE(used < 0.1,
                  qPrintable(QStringLiteral("%1 s of CPU in 1 s of waiting").arg(used)));
    QCOMPARE(lost.count(), 1);
    QCOMPARE(closed.count(), 1);
}

namespace {

// The serial driver flags of a device; nothing when it cannot be opened or has no such settings.
std::optional<int> driverFlags(const QString& device, std::optional<int> replace = {}) {
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    serial_struct settings{};
    const bool read = fd >= 0 && ::ioctl(fd, TIOCGSERIAL, &settings) == 0;
    if (read && replace) {
        settings.flags = *replace;
        ::ioctl(fd, TIOCSSERIAL, &settings);
    }
    if (fd >= 0)
        ::close(fd);
    return read ? std::optional<int>(settings.flags) : std::nullopt;
}

} // namespace

// Low-latency mode is asked of a serial driver on opening; a pseudo-terminal, which has no such
// setting, opens all the same.
void TestCommControlPty::lowLatencyRequested_data() {
    QTest::addColumn<QString>("device"); // empty: the test's pseudo-terminal
    QTest::newRow("pseudo-terminal") << QString();
    for (const char* device : {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0"})
        QTest::newRow(device) << QString::fromLatin1(device);
}

void TestCommControlPty::lowLatencyRequested() {
    QFETCH(QString, device);
    const std::optional<int> before = device.isEmpty() ? 0 : driverFlags(device);
    if (!before)
        QSKIP("no such device here, or its driver has no serial settings");
    QtCommControl port;
    port.setDevicePath(device.isEmpty() ? m_slavePath : device);
    port.setPortOpen(true);
    if (device.isEmpty()) {
        port.setOutput("still a line");
        QTRY_COMPARE(m_fromPort, QByteArray("still a line"));
        return;
    }
    const std::optional<int> now = driverFlags(device);
    port.setPortOpen(false);
    driverFlags(device, before); // as the test found it
    // As the driver shows it while the port was open.
    QVERIFY(now);
    QVERIFY(*now & ASYNC_LOW_LATENCY);
}

QTEST_GUILESS_MAIN(TestCommControlPty)
#include "tst_commcontrol_pty.moc"
