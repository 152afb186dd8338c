#include "fakecommcontrol.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray pattern(int length) {
    QByteArray bytes(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) % 256);
    return bytes;
}

QByteArray allByteValues() {
    QByteArray bytes(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    return bytes;
}

} // namespace

// The receive side, settings and loss reporting that every port shares, driven through the fake.
class TestCommControlFake : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsWithTheDefaults();
    void oneOnCommPerByte_data();
    void oneOnCommPerByte();
    void thresholdZeroRaisesNothing();
    void inputTakesAtMostInputLen_data();
    void inputTakesAtMostInputLen();
    void settingsSurviveReopening_data();
    void settingsSurviveReopening();
    void closingDropsTheBuffer();
    void handlerThatReadsNothingDoesNotSpin();
    void byteArrivingInsideHandlerIsRaisedAfterIt();
    void handlerThatClosesStopsTheEvents();
    void outputGoesOutInOrderOnlyWhileOpen();
    void failedOpenLeavesThePortClosed();
    void lossIsReportedOnce();
};

void TestCommControlFake::startsWithTheDefaults() {
    FakeCommControl port;
    QCOMPARE(port.CommPort(), 1);
    QCOMPARE(port.PortOpen(), false);
    QCOMPARE(port.InputLen(), 1);
    QCOMPARE(port.RThreshold(), 1);
    QCOMPARE(port.InBufferCount(), 0);
}

void TestCommControlFake::oneOnCommPerByte_data() {
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::newRow("one chunk") << QByteArrayList{"hello"};
    QTest::newRow("one byte per chunk") << QByteArrayList{"h", "e", "l", "l", "o"};
    QTest::newRow("mixed chunks") << QByteArrayList{"BL_", "FLASH", "_END\r\n"};
    QTest::newRow("every byte value") << QByteArrayList{allByteValues()};
}

void TestCommControlFake::oneOnCommPerByte() {
    QFETCH(QByteArrayList, chunks);
    FakeCommControl port;
    port.setPortOpen(true);
    QByteArrayList pieces;
    QList<int> events;
    connect(&port, &CommControl::OnComm, this, [&] {
        events.append(port.CommEvent());
        pieces.append(port.Input());
    });

    for (const QByteArray& chunk : chunks)
        port.push(chunk);

    const QByteArray expected = chunks.join();
    QCOMPARE(pieces.size(), expected.size());
    for (const QByteArray& piece : pieces)
        QCOMPARE(piece.size(), 1);
    QCOMPARE(pieces.join(), expected);
    QCOMPARE(events, QList<int>(expected.size(), CommControl::comEvReceive));
    QCOMPARE(port.InBufferCount(), 0);
}

void TestCommControlFake::thresholdZeroRaisesNothing() {
    FakeCommControl port;
    port.setRThreshold(0);
    port.setPortOpen(true);
    QSignalSpy onComm(&port, &CommControl::OnComm);
    QSignalSpy arrived(&port, &CommControl::inputArrived);

    port.push("abc");
    port.push(QByteArray(1032, '\0'));

    QCOMPARE(onComm.count(), 0);
    QCOMPARE(arrived.count(), 2);
    QCOMPARE(port.InBufferCount(), 1035);
}

void TestCommControlFake::inputTakesAtMostInputLen_data() {
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

void TestCommControlFake::inputTakesAtMostInputLen() {
    QFETCH(int, inputLen);
    QFETCH(int, waiting);
    QFETCH(QList<int>, sizes);
    FakeCommControl port;
    port.setRThreshold(0);
    port.setInputLen(inputLen);
    port.setPortOpen(true);
    const QByteArray sent = pattern(waiting);
    port.push(sent);

    QByteArray received;
    for (int size : sizes) {
        const QByteArray piece = port.Input();
        QCOMPARE(piece.size(), size);
        received += piece;
        QCOMPARE(port.InBufferCount(), waiting - received.size());
    }
    QCOMPARE(received, sent);
    QCOMPARE(port.Input(), QByteArray());
}

void TestCommControlFake::settingsSurviveReopening_data() {
    QTest::addColumn<int>("commPort");
    QTest::addColumn<int>("inputLen");
    QTest::addColumn<int>("threshold");
    QTest::newRow("dialogue") << 1 << 1 << 1;
    QTest::newRow("transfer") << 3 << 1032 << 0;
    QTest::newRow("read everything") << 4 << 0 << 0;
    QTest::newRow("transfer one byte") << 2 << 1 << 0;
}

void TestCommControlFake::settingsSurviveReopening() {
    QFETCH(int, commPort);
    QFETCH(int, inputLen);
    QFETCH(int, threshold);
    FakeCommControl port;
    port.setCommPort(commPort);
    port.setPortOpen(true);
    port.setInputLen(inputLen);
    port.setRThreshold(threshold);

    port.setPortOpen(false);
    port.setPortOpen(true);

    QCOMPARE(port.CommPort(), commPort);
    QCOMPARE(port.InputLen(), inputLen);
    QCOMPARE(port.RThreshold(), threshold);
    QCOMPARE(port.openCount(), 2);
}

void TestCommControlFake::closingDropsTheBuffer() {
    FakeCommControl port;
    port.setRThreshold(0);
    port.setPortOpen(true);
    QSignalSpy closed(&port, &CommControl::closed);
    port.push("left over");
    QCOMPARE(port.InBufferCount(), 9);

    port.setPortOpen(false);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(port.InBufferCount(), 0);
    port.push("while closed");
    QCOMPARE(port.InBufferCount(), 0);

    port.setPortOpen(true);
    QCOMPARE(port.InBufferCount(), 0);
    QCOMPARE(port.Input(), QByteArray());
}

void TestCommControlFake::handlerThatReadsNothingDoesNotSpin() {
    FakeCommControl port;
    port.setPortOpen(true);
    int calls = 0;
    connect(&port, &CommControl::OnComm, this, [&] { ++calls; });

    port.push("abc");
    QCOMPARE(calls, 1);
    port.push("d");
    QCOMPARE(calls, 2);
    QCOMPARE(port.InBufferCount(), 4);
}

void TestCommControlFake::byteArrivingInsideHandlerIsRaisedAfterIt() {
    FakeCommControl port;
    port.setPortOpen(true);
    QByteArray order;
    int depth = 0;
    int deepest = 0;
    connect(&port, &CommControl::OnComm, this, [&] {
        deepest = qMax(deepest, ++depth);
        const QByteArray byte = port.Input();
        order += byte;
        if (byte == "a")
            port.push("bc");
        else if (byte == "b")
            port.push("d");
        --depth;
    });

    port.push("a");

    QCOMPARE(order, QByteArray("abcd"));
    QCOMPARE(deepest, 1);
    QCOMPARE(port.InBufferCount(), 0);
}

void TestCommControlFake::handlerThatClosesStopsTheEvents() {
    FakeCommControl port;
    port.setPortOpen(true);
    int calls = 0;
    connect(&port, &CommControl::OnComm, this, [&] {
        ++calls;
        port.Input();
        port.setPortOpen(false);
    });

    port.push("abc");

    QCOMPARE(calls, 1);
    QCOMPARE(port.PortOpen(), false);
    QCOMPARE(port.InBufferCount(), 0);
}

void TestCommControlFake::outputGoesOutInOrderOnlyWhileOpen() {
    FakeCommControl port;
    port.setOutput("early");
    port.setPortOpen(true);
    port.setOutput(QByteArray(1, '\x1f'));
    port.setOutput("KDATA");
    port.setOutput(QByteArray());
    port.setOutput(allByteValues());
    port.setPortOpen(false);
    port.setOutput("late");

    const QByteArrayList expected{QByteArray(1, '\x1f'), "KDATA", allByteValues()};
    QCOMPARE(port.writes(), expected);
}

void TestCommControlFake::failedOpenLeavesThePortClosed() {
    FakeCommControl port;
    QSignalSpy closed(&port, &CommControl::closed);
    port.failNextOpen(QStringLiteral("COM1: the device is busy."));

    QVERIFY_THROWS_EXCEPTION(PortOpenError, port.setPortOpen(true));
    QCOMPARE(port.PortOpen(), false);
    QCOMPARE(closed.count(), 0);

    port.setPortOpen(true);
    QCOMPARE(port.PortOpen(), true);
    QCOMPARE(port.openCount(), 1);
}

void TestCommControlFake::lossIsReportedOnce() {
    FakeCommControl port;
    port.setRThreshold(0);
    port.setPortOpen(true);
    port.push("pending");
    QSignalSpy lost(&port, &CommControl::deviceLost);
    QSignalSpy closed(&port, &CommControl::closed);
    QSignalSpy onComm(&port, &CommControl::OnComm);
    bool closedBeforeReport = false;
    connect(&port, &CommControl::deviceLost, this, [&] { closedBeforeReport = !port.PortOpen(); });

    port.vanish(QStringLiteral("gone"));
    port.vanish(QStringLiteral("gone again"));
    port.push("after");
    port.setOutput("after");

    QCOMPARE(lost.count(), 1);
    QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("gone"));
    QCOMPARE(closed.count(), 1);
    QVERIFY(closedBeforeReport);
    QCOMPARE(port.PortOpen(), false);
    QCOMPARE(port.CommEvent(), CommControl::comEvDeviceLost);
    QCOMPARE(port.InBufferCount(), 0);
    QCOMPARE(onComm.count(), 0);
    QVERIFY(port.sent().isEmpty());
}

QTEST_GUILESS_MAIN(TestCommControlFake)
#include "tst_commcontrol_fake.moc"
