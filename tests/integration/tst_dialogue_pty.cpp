#include "eventwait.h"
#include "fakeoperator.h"
#include "loadersimprocess.h"
#include "portsession.h"
#include "processstats.h"
#include "qtcommcontrol.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

// The dialogue over a real pseudo-terminal with the QSerialPort adapter, against loader-sim.
class TestDialoguePty : public QObject {
    Q_OBJECT

    struct Rig {
        QTemporaryDir dir;
        QtCommControl port;
        FakeOperator op;
        PortSession session{port, op};

        explicit Rig(const QString& device) {
            qputenv("DECODUMP_COM1", device.toLocal8Bit());
            op.enterFolder(dir.path() + QLatin1Char('/'));
            op.follow(session);
            session.dialogue().setResponsesFolder(LoaderSimProcess::samplesFolder());
        }
        void arm() {
            port.setCommPort(1);
            QVERIFY(!session.arm(QStringLiteral("COM1")));
        }
        QByteArray dump() const { return readFile(op.folder + op.fileName); }
    };

private Q_SLOTS:
    void initTestCase() {
        if (LoaderSimProcess::program().isEmpty())
            QSKIP("loader-sim is not built");
    }

    void wholeFlash_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("ack after the block count") << "ack";
        QTest::newRow("four-character line after response file 4") << "respfile";
    }
    void wholeFlash() {
        QFETCH(QString, mode);
        const QByteArray image = LoaderSimProcess::imageForSeed(11);
        QCOMPARE(image.size(), 2048 * 1024);
        LoaderSimProcess sim;
        QVERIFY(sim.start(
            {QStringLiteral("--mode"), mode, QStringLiteral("--seed"), QStringLiteral("11")}));
        Rig rig(sim.devicePath());
        rig.op.enterRange(QStringLiteral("0000"), QStringLiteral("2048"));
        rig.arm();
        QVERIFY(waitFor([&] { return rig.op.ended.size() == 1; }, 30000));
        const TransferSummary& summary = rig.op.ended.first();
        QVERIFY2(summary.outcome == TransferSummary::Outcome::Completed,
                 qPrintable(QString::fromLocal8Bit(sim.log())));
        QCOMPARE(summary.blocksWritten, 2048);
        QVERIFY(rig.dump() == image);
        QCOMPARE(rig.op.messages.last().text, QStringLiteral("Descarga finalizada."));
        QVERIFY(!rig.port.PortOpen());
        QVERIFY(!rig.session.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
        QCOMPARE(sim.waitForExit(), 0);
    }

    void secondDumpInTheSameRun() {
        const QByteArray image = LoaderSimProcess::imageForSeed(5);
        LoaderSimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--seed"), QStringLiteral("5"),
                           QStringLiteral("--sessions"), QStringLiteral("2")}));
        Rig rig(sim.devicePath());
        const QList<int> firsts{2000, 100};
        for (int round = 0; round < firsts.size(); ++round) {
            rig.op.enterRange(QString::number(firsts[round]), QStringLiteral("0016"));
            rig.arm();
            QVERIFY(waitFor([&] { return rig.op.ended.size() == round + 1; }, 15000));
            QCOMPARE(rig.op.messages.last().text, QStringLiteral("Descarga finalizada."));
            QVERIFY(rig.dump() == image.mid(firsts[round] * 1024, 16 * 1024));
        }
        QCOMPARE(sim.waitForExit(), 0);
    }

    // The beat the loader listens for while nothing answers: a precise timer, not a coarse one
    // that may fire 5 % early or late.
    void breakInBeat() {
        int master = -1;
        int slave = -1;
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        QElapsedTimer clock;
        clock.start();
        QList<double> arrivals;
        {
            QSocketNotifier reader(master, QSocketNotifier::Read);
            connect(&reader, &QSocketNotifier::activated, this, [&] {
                char buffer[64];
                const ssize_t got = ::read(master, buffer, sizeof buffer);
                for (ssize_t i = 0; i < got; ++i)
                    arrivals.append(buffer[i] == 31 ? double(clock.nsecsElapsed()) / 1e6 : -1.0);
            });
            Rig rig(QFile::decodeName(::ttyname(slave)));
            rig.arm();
            QVERIFY(waitFor([&] { return arrivals.size() > 6; }, 5000));
        }
        ::close(master);
        ::close(slave);
        QVERIFY(!arrivals.contains(-1.0));
        for (qsizetype i = 1; i < arrivals.size(); ++i) {
            const double gap = arrivals.at(i) - arrivals.at(i - 1);
            qInfo("break-in %lld after %.2f ms", static_cast<long long>(i), gap);
            VERIFY_FIGURE(gap >= 490.0 && gap <= 510.0, qPrintable(QString::number(gap)));
        }
    }

    void deviceVanishesMidTransfer() {
        const QByteArray image = LoaderSimProcess::imageForSeed(2);
        LoaderSimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--seed"), QStringLiteral("2"),
                           QStringLiteral("--fault-vanish"), QStringLiteral("5")}));
        Rig rig(sim.devicePath());
        rig.op.enterRange(QStringLiteral("0"), QStringLiteral("0032"));
        rig.arm();
        QVERIFY(waitFor([&] { return rig.op.ended.size() == 1; }, 15000));
        QCOMPARE(rig.op.ended.first().outcome, TransferSummary::Outcome::DeviceLost);
        QCOMPARE(rig.op.messages.size(), 1);
        QVERIFY(rig.op.messages.first().text.contains(sim.devicePath()));
        QVERIFY(rig.dump() == image.left(5 * 1024));
        QVERIFY(!rig.port.PortOpen());
        QVERIFY(!rig.session.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
    }
};

QTEST_GUILESS_MAIN(TestDialoguePty)
#include "tst_dialogue_pty.moc"
