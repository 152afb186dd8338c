// loader-sim --replay: a dialogue is recorded with the tool's WireTrace writer against the
// simulated loader, then replayed by loader-sim from that trace against a tool that behaves the
// same, or differently.

#include "loadersimprocess.h"
#include "ptyclient.h"
#include "testfiles.h"
#include "wiretrace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

namespace {

constexpr int Patience = 3000;
const QByteArray BreakIn(1, '\x1f');

// How the scripted tool behaves in one session.
struct Behaviour {
    qint64 firstRequest = 2046;
    bool extraBreakIns = false;
    int pauseBeforeKdataMs = 0;
};

// The tool's side of an ack dialogue for blocks 2046 and 2047, over a pseudo-terminal; with a
// trace, every byte both ways is recorded as the tool would record it.
class ScriptedTool {
public:
    ScriptedTool(PtyClient& pty, WireTrace* trace) : m_pty(pty), m_trace(trace) {}

    // False as soon as the loader's answer is missing (it stopped, or the script left it).
    bool play(const Behaviour& behaviour) {
        if (m_trace)
            m_trace->start();
        send(BreakIn);
        QByteArray line;
        do {
            line = readLine();
            if (line.isEmpty())
                return false;
        } while (!line.endsWith("BL_FLASH_END\r\n"));
        QThread::msleep(behaviour.pauseBeforeKdataMs);
        const QByteArray tick = behaviour.extraBreakIns ? BreakIn : QByteArray();
        for (const char* text : {"KDATA", "ack", "2046", "0002"}) {
            send(tick + text);
            if (readLine().isEmpty())
                return false;
        }
        send("REQUEST_DOWNLOAD\r" + tick);
        for (qint64 n = behaviour.firstRequest; n < behaviour.firstRequest + 2; ++n) {
            send("REQUEST_1024DOWN:" + QByteArray::number(n) + "\r");
            if (read(1032).size() != 1032)
                return false;
            send(tick + "1024DOWN_SUCCESS:" + QByteArray::number(n) + "\r");
        }
        send("REQUEST_TOTALCRC\r");
        if (read(1).isEmpty())
            return false;
        send("DOWN_SUCCESS\r" + tick);
        return true;
    }

    const QByteArray& received() const { return m_received; }

private:
    void send(const QByteArray& bytes) {
        if (m_trace)
            m_trace->record(WireTrace::Direction::ToLoader, bytes);
        m_pty.send(bytes);
    }
    QByteArray taken(const QByteArray& bytes) {
        if (m_trace)
            m_trace->record(WireTrace::Direction::FromLoader, bytes);
        m_received += bytes;
        return bytes;
    }
    QByteArray readLine() { return taken(m_pty.readLine(Patience)); }
    QByteArray read(qsizetype count) { return taken(m_pty.read(count, Patience)); }

    PtyClient& m_pty;
    WireTrace* m_trace;
    QByteArray m_received;
};

} // namespace

class TestReplay : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (LoaderSimProcess::program().isEmpty())
            QSKIP("loader-sim not found; set LOADER_SIM");
    }

    void replay_data() {
        QTest::addColumn<QString>("pace");
        QTest::addColumn<int>("recordedPauseMs");
        QTest::addColumn<qint64>("firstRequest");
        QTest::addColumn<bool>("extraBreakIns");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("reason");

        QTest::newRow("same tool, fast") << "fast" << 0 << 2046LL << false << 0 << QByteArray();
        QTest::newRow("same tool, recorded pace")
            << "recorded" << 300 << 2046LL << false << 0 << QByteArray();
        QTest::newRow("break-ins elsewhere") << "fast" << 0 << 2046LL << true << 0 << QByteArray();
        QTest::newRow("another block asked for")
            << "fast" << 0 << 2047LL << false << 1 << QByteArray("differ from event 14 (line 16, ");
    }

    void replay() {
        QFETCH(QString, pace);
        QFETCH(int, recordedPauseMs);
        QFETCH(qint64, firstRequest);
        QFETCH(bool, extraBreakIns);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, reason);

        LoaderSimProcess recording;
        const QString tracePath = recording.scratchPath("dump.trace");
        QVERIFY(recording.start({"--seed", "7", "--timeout", "10"}));
        WireTrace trace;
        QVERIFY(trace.open(tracePath));
        PtyClient original;
        QVERIFY(original.open(recording.devicePath()));
        ScriptedTool recorded(original, &trace);
        QVERIFY(recorded.play({2046, false, recordedPauseMs}));
        original.close();
        trace.close();
        QCOMPARE(recording.waitForExit(), 0);
        QVERIFY2(trace.error().isEmpty(), qPrintable(trace.error()));

        LoaderSimProcess sim;
        QVERIFY(sim.start({"--replay", tracePath, "--replay-pace", pace, "--timeout", "10"}));
        PtyClient pty;
        QVERIFY(pty.open(sim.devicePath()));
        ScriptedTool tool(pty, nullptr);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(tool.play({firstRequest, extraBreakIns, 0}), exitCode == 0);
        const qint64 elapsedMs = clock.elapsed();
        pty.close();
        QCOMPARE(sim.waitForExit(), exitCode);
        QVERIFY2(sim.log().contains(reason), sim.log().constData());
        if (exitCode != 0)
            return;
        QCOMPARE(tool.received(), recorded.received());
        QVERIFY2(elapsedMs >= recordedPauseMs, qPrintable(QString::number(elapsedMs)));
    }

    void refusesTrace_data() {
        // A relative name is made in the scratch folder: a FIFO for ".fifo", else a file of the
        // trace's bytes.
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("trace");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("reason");
        const QByteArray header("# decodump wire trace 1\n");
        QTest::newRow("no header")
            << "bad.trace" << QByteArray("0 > 1f\n") << 2 << QByteArray("line 1: expected");
        QTest::newRow("odd hex") << "bad.trace" << header + "0 > 1f\n5 < 414\n"
                                 << 2 << QByteArray("line 3: odd number");
        QTest::newRow("no direction") << "bad.trace" << header + "0 1f\n"
                                      << 2 << QByteArray("line 2: expected");
        QTest::newRow("time beyond a week")
            << "bad.trace" << header + "0 > 1f\n9000000000000000000 < 41\n"
            << 2 << QByteArray("line 3: the time 9000000000000000000");
        QTest::newRow("FIFO") << "trace.fifo" << QByteArray() << 4 << QByteArray("is a FIFO");
        QTest::newRow("endless device")
            << "/dev/zero" << QByteArray() << 4 << QByteArray("is a character device");
    }

    void refusesTrace() {
        QFETCH(QString, file);
        QFETCH(QByteArray, trace);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, reason);
        LoaderSimProcess sim;
        QString path = file;
        if (QDir::isRelativePath(file)) {
            path = sim.scratchPath(file);
            if (file.endsWith(".fifo"))
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            else
                QVERIFY(writeFile(path, trace));
        }
        sim.start({"--replay", path});
        QCOMPARE(sim.waitForExit(Patience), exitCode);
        QVERIFY2(sim.log().contains(reason), sim.log().constData());
    }
};

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"
