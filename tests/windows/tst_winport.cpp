#include "eventwait.h"
#include "systemportenumerator.h"
#include "wincommcontrol.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <qt_windows.h>

#include <utility>

namespace {

constexpr int frameSize = 1032;

// The CPU time this process used while the event loop ran for ms with nothing of its own to do.
qint64 cpuMsIdling(int ms) {
    FILETIME unused, kernel[2], user[2];
    QEventLoop idle;
    QTimer::singleShot(ms, &idle, &QEventLoop::quit);
    GetProcessTimes(GetCurrentProcess(), &unused, &unused, &kernel[0], &user[0]);
    idle.exec();
    GetProcessTimes(GetCurrentProcess(), &unused, &unused, &kernel[1], &user[1]);
    const auto ticks = [](FILETIME time) {
        return qint64(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    };
    return (ticks(kernel[1]) - ticks(kernel[0]) + ticks(user[1]) - ticks(user[0])) / 10000;
}

// A whole frame of loader-sim: 1024 data bytes, their sum and the fillers F1 to F7.
bool isFrame(const QByteArray& frame) {
    quint8 sum = 0;
    for (int i = 0; i < 1024 && i < frame.size(); ++i)
        sum += quint8(frame.at(i));
    return frame.size() == frameSize && quint8(frame.at(1024)) == sum &&
           frame.endsWith("\xF1\xF2\xF3\xF4\xF5\xF6\xF7");
}

} // namespace

// The Windows port under wine as COM1, against loader-sim on the pseudo-terminal that COM1 is
// mapped to (scripts/test-windows.sh maps it); the test plays the tool's side of the dialogue.
class TestWinPort : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { m_port.setInputLen(0); }
    void cleanup() { m_port.setPortOpen(false); }
    void openRefused_data();
    void openRefused();
    void portsListedInNumericOrder();
    void pacedFramesArriveWholeWithFewWakeUps();
    void faultOnTheLine_data();
    void faultOnTheLine();

private:
    bool startSim(const QStringList& options);
    bool awaitText(const QByteArray& text);
    bool awaitFrame();
    void request(int block);

    WinCommControl m_port;
    QByteArray m_heard;
};

// Wine starts the Linux program, but neither its output nor its end reach this side: it is
// ready once the file it records into is there (made after its link), and ends by itself. Then
// the dialogue goes as far as the first block.
bool TestWinPort::startSim(const QStringList& options) {
    const QString link = qEnvironmentVariable("DECODUMP_WINPORT_LINK");
    const QString record = QStringLiteral("Z:") + link + QStringLiteral(".record");
    QFile::remove(record);
    const QStringList line{"--link", link, "--baud", "115200", "--quiet", "--timeout", "3"};
    if (!QProcess::startDetached(QStringLiteral("Z:") +
                                     qEnvironmentVariable("DECODUMP_WINPORT_SIM"),
                                 line + QStringList{"--record", record.mid(2)} + options) ||
        !waitFor([&] { return QFile::exists(record); }, 5000))
        return false;
    m_port.setRThreshold(0);
    m_port.setCommPort(1);
    m_port.setPortOpen(true);
    m_heard.clear();
    const auto say = [&](const QByteArray& words, const QByteArray& answer) {
        m_port.setOutput(words);
        return awaitText(answer);
    };
    return say("\x1f", "SIM BL_FLASH_END\r\n") && say("KDATA", "REQUEST_VERSION:1.00\r\n") &&
           say("ack", "REQDATA_START_BLOCK\r\n") && say("0000", "REQDATA_BLOCK\r\n") &&
           say("0016", "ack\r\n") && (m_port.setOutput("REQUEST_DOWNLOAD\r"), true);
}

// Takes what comes until it holds the text.
bool TestWinPort::awaitText(const QByteArray& text) {
    if (!waitFor([&] { return (m_heard += m_port.Input()).contains(text); }, 5000))
        return false;
    m_heard.remove(0, m_heard.indexOf(text) + text.size());
    return true;
}

bool TestWinPort::awaitFrame() {
    return waitFor([&] { return m_port.InBufferCount() >= frameSize; }, 2000) &&
           isFrame(std::exchange(m_heard, {}) + m_port.Input());
}

void TestWinPort::request(int block) {
    m_port.setOutput("REQUEST_1024DOWN:" + QByteArray::number(block) + '\r');
    m_port.expectInput(frameSize);
}

void TestWinPort::openRefused_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<PortFailure::Kind>("kind");
    QTest::newRow("no such port") << 9 << PortFailure::Kind::DoesNotExist;
    QTest::newRow("not a serial port (/dev/null)") << 2 << PortFailure::Kind::NotOpened;
    // Opened as \\.\COM10: a bare COM10 is not found.
    QTest::newRow("COM10, also /dev/null") << 10 << PortFailure::Kind::NotOpened;
}

void TestWinPort::openRefused() {
    QFETCH(int, port);
    QFETCH(PortFailure::Kind, kind);
    m_port.setCommPort(port);
    QVERIFY_THROWS_EXCEPTION(PortOpenError, m_port.setPortOpen(true));
    const std::optional<PortFailure> failure = m_port.lastFailure();
    QCOMPARE(failure->kind, kind);
    QCOMPARE(failure->device, QStringLiteral("COM%1").arg(port));
    QCOMPARE(failure->systemText.isEmpty(), kind != PortFailure::Kind::NotOpened);
    QVERIFY(!m_port.PortOpen());
}

void TestWinPort::portsListedInNumericOrder() {
    QStringList names;
    for (const SerialDevice& device : SystemPortEnumerator().devices())
        names.append(device.name + u'=' + device.systemLocation);
    const qsizetype com2 = names.indexOf("COM2=COM2");
    QVERIFY2(com2 >= 0 && com2 < names.indexOf("COM10=COM10"), qPrintable(names.join(u' ')));
}

void TestWinPort::pacedFramesArriveWholeWithFewWakeUps() {
    const int blocks = 16;
    QVERIFY(startSim({}));
    QCOMPARE(m_port.deviceName(), QStringLiteral("COM1"));
    // As the dialogue does: the handler of a frame's arrival takes it, acknowledges it and asks
    // for the next one.
    int block = 0;
    QObject dialogue;
    connect(&m_port, &CommControl::inputArrived, &dialogue, [&] {
        if (m_port.InBufferCount() < frameSize)
            return;
        QVERIFY(isFrame(m_port.Input()));
        m_port.setOutput("1024DOWN_SUCCESS:" + QByteArray::number(block) + '\r');
        if (++block < blocks)
            request(block);
    });
    QSignalSpy pieces(&m_port, &CommControl::bytesArrived);
    QElapsedTimer clock;
    clock.start();
    request(0);
    QVERIFY(waitFor([&] { return block == blocks; }, 5000));
    const qint64 lineMs = qint64(blocks) * frameSize * 10 * 1000 / CommControl::BaudRate;
    qInfo("%d frames in %lld ms (%lld ms on the line), in %lld pieces", blocks, clock.elapsed(),
          lineMs, qint64(pieces.count()));
    // One read a frame, now and then two when a frame runs past its deadline.
    QVERIFY2(pieces.count() <= blocks * 3 / 2, "too many wake-ups a frame");
    QVERIFY2(clock.elapsed() < lineMs * 2, "frames held back beyond the line time");
}

void TestWinPort::faultOnTheLine_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("short frame") << "--fault-short";
    QTest::newRow("frame stalled for 300 ms") << "--fault-stall";
    QTest::newRow("lost in the middle of a frame") << "--fault-vanish-mid";
    QTest::newRow("lost between frames") << "--fault-vanish";
}

void TestWinPort::faultOnTheLine() {
    QFETCH(QString, fault);
    QVERIFY(startSim({fault, "1"}));
    QSignalSpy lost(&m_port, &CommControl::deviceLost);
    QSignalSpy closed(&m_port, &CommControl::closed);
    QElapsedTimer clock;
    clock.start();
    request(0);
    if (fault.contains("vanish")) {
        if (fault == QStringLiteral("--fault-vanish")) {
            QVERIFY(awaitFrame());
            clock.start();
            m_port.setOutput("1024DOWN_SUCCESS:0\r");
        }
        // Seen at once, reported once, as the device gone.
        QVERIFY(lost.wait(2000));
        QVERIFY2(clock.elapsed() < 500, "the loss was reported late");
        QCOMPARE(m_port.lastFailure()->kind, PortFailure::Kind::Gone);
        QCOMPARE(m_port.lastFailure()->device, QStringLiteral("COM1"));
        QVERIFY(!lost.wait(500));
        QCOMPARE(lost.count(), 1);
        QCOMPARE(closed.count(), 1);
        return;
    }
    // The first 500 bytes take 43 ms on the line, a whole frame 90 ms: what came is not held
    // back for the rest, which may follow or not.
    QVERIFY(waitFor([&] { return m_port.InBufferCount() >= 500; }, 1000));
    QVERIFY2(clock.elapsed() < 250, "bytes held back");
    if (fault == QStringLiteral("--fault-stall")) {
        QVERIFY(awaitFrame());
        return;
    }
    // While nothing more comes, awaiting the frame or anything at all, the port costs the
    // process next to nothing.
    qint64 cpuMs = cpuMsIdling(500);
    m_port.expectInput(0);
    cpuMs += cpuMsIdling(500);
    QVERIFY2(cpuMs < 50, qPrintable(QString::number(cpuMs) + " ms of CPU in 1 s"));
}

QTEST_GUILESS_MAIN(TestWinPort)
#include "tst_winport.moc"
