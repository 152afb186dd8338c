#include "blocksize.h"
#include "clidump.h"
#include "clioptions.h"
#include "console.h"
#include "dumpsession.h"
#include "eventwait.h"
#include "exitstatus.h"
#include "loadersimprocess.h"
#include "processstats.h"
#include "qtcommcontrol.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <algorithm>

namespace {

constexpr int Seed = 9;
constexpr int FlashBlocks = 2048;
constexpr int DumpTimeoutMs = 15000;
constexpr qint64 RssSlackKb = 2048;

} // namespace

// Many dumps in one process through the command line's own session code, against one
// loader-sim: every dump complete and exact, and no descriptors or memory left behind.
class TestCliSoak : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void consecutiveDumps_data();
    void consecutiveDumps();
};

void TestCliSoak::initTestCase() {
    if (LoaderSimProcess::program().isEmpty())
        QSKIP("loader-sim is not built");
    if (!QFileInfo::exists(QStringLiteral("/proc/self/fd")))
        QSKIP("no /proc to count descriptors in");
}

void TestCliSoak::consecutiveDumps_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("dumps");
    QTest::addColumn<int>("count");
    QTest::newRow("100 dumps of 64 blocks") << "ack" << 100 << 64;
}

void TestCliSoak::consecutiveDumps() {
    QFETCH(QString, mode);
    QFETCH(int, dumps);
    QFETCH(int, count);
    const QByteArray image = LoaderSimProcess::imageForSeed(Seed);
    QCOMPARE(image.size(), FlashBlocks * BlockSize);

    LoaderSimProcess sim;
    QVERIFY(sim.start({"--mode", mode, "--seed", QString::number(Seed), "--sessions",
                       QString::number(dumps), "--quiet"}));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("soak.bin"));
    const QString responses = LoaderSimProcess::samplesFolder();
    // What the sessions print goes to a file opened once, so it holds no descriptor of its own.
    QTemporaryFile printed;
    QVERIFY(printed.open());
    Console console(printed.handle());

    QList<qsizetype> fds;
    QList<qint64> rss;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < dumps; ++i) {
        // Each dump a different slice, into the same file: a stale record would show.
        const int first = i * count % (FlashBlocks - count + 1);
        const CliOptions options =
            CliOptions::parse({"decodump-cli", "--port", sim.devicePath(), "--start",
                               QString::number(first), "--count", QString::number(count), "-o",
                               dumpPath, "--responses", responses, "--timeout", "5", "--quiet"});
        QVERIFY2(options.action == CliOptions::Action::Dump, qPrintable(options.error));
        const CliDump dump = CliDump::prepare(options);
        QVERIFY2(dump.ok(), qPrintable(dump.problem));
        {
            QtCommControl port;
            DumpSession session(options, dump, port, console);
            int status = -1;
            connect(&session, &DumpSession::finished, &session,
                    [&status](int exitStatus) { status = exitStatus; });
            QVERIFY(session.start());
            QVERIFY2(waitFor([&status] { return status >= 0; }, DumpTimeoutMs),
                     qPrintable(QStringLiteral("dump %1 did not end").arg(i + 1)));
            QVERIFY2(status == ExitComplete,
                     qPrintable(QStringLiteral("dump %1 ended with %2:\n%3")
                                    .arg(i + 1)
                                    .arg(status)
                                    .arg(QString::fromUtf8(readFile(printed.fileName())))));
        }
        QVERIFY2(readFile(dumpPath) == image.mid(first * BlockSize, count * BlockSize),
                 qPrintable(QStringLiteral("dump %1 differs from blocks %2 to %3")
                                .arg(i + 1)
                                .arg(first)
                                .arg(first + count - 1)));
        fds.append(openFileDescriptors());
        rss.append(residentKb());
    }
    const qint64 elapsedMs = clock.elapsed();
    QCOMPARE(sim.waitForExit(), 0);

    const qsizetype mostFds = *std::max_element(fds.cbegin() + 1, fds.cend());
    qInfo("%d dumps of %d blocks in %.1f s (%.0f ms each)", dumps, count, elapsedMs / 1000.0,
          double(elapsedMs) / dumps);
    qInfo("open descriptors: %lld after dump 1, at most %lld after dumps 2 to %d, %lld after "
          "dump %d",
          qlonglong(fds.first()), qlonglong(mostFds), dumps, qlonglong(fds.last()), dumps);
    qInfo("VmRSS: %lld kB after dump 1, %lld kB after dump 10, %lld kB after dump %d "
          "(%+lld kB since dump 10)",
          rss.first(), rss.at(9), rss.last(), dumps, rss.last() - rss.at(9));
    QVERIFY2(mostFds <= fds.first(), "descriptors grew after the first dump");
    QVERIFY(rss.at(9) > 0);
    VERIFY_FIGURE(rss.last() - rss.at(9) <= RssSlackKb, "resident memory grew by more than 2 MB");
}

QTEST_MAIN(TestCliSoak)
#include "tst_cli_soak.moc"
