#include "loadersimprocess.h"
#include "portlist.h"
#include "processstats.h"
#include "qtcommcontrol.h"
#include "recordingwindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int Seed = 5;
constexpr int BlockSize = 1024;
constexpr int FirstBlock = 2000;
constexpr int Count = 16;
constexpr char BreakIn = 31;
constexpr int RunTimeoutMs = 30000;

struct CliRun {
    int status = -1;
    QString errors;
};

// Runs decodump-cli to its end, with its standard error captured (not a terminal).
CliRun runCli(const QStringList& arguments) {
    QProcess process;
    process.start(cliProgram(), arguments);
    CliRun run;
    if (!process.waitForFinished(RunTimeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        run.errors = QStringLiteral("decodump-cli did not end by itself");
        return run;
    }
    run.status = process.exitCode();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray withoutBreakIns(QByteArray bytes) {
    bytes.removeIf([](char c) { return c == BreakIn; });
    return bytes;
}

QStringList substituted(QStringList arguments, const QString& device, const QString& output,
                        const QString& readOnlyFolder) {
    for (QString& argument : arguments) {
        argument.replace(QStringLiteral("%DEV%"), device);
        argument.replace(QStringLiteral("%OUT%"), output);
        argument.replace(QStringLiteral("%RO%"), readOnlyFolder);
    }
    return arguments;
}

bool mayCreateIn(const QString& folder) {
    QFile probe(folder + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly))
        return false;
    probe.remove();
    return true;
}

// A folder where no file can be created: a read-only folder, or for root, who may write into
// those, a folder of the kernel's that takes no ordinary files. Empty when there is none.
QString readOnlyFolder(const QTemporaryDir& scratch) {
    const QString folder = scratch.filePath(QStringLiteral("read-only"));
    if (!QDir().mkpath(folder) ||
        !QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner))
        return {};
    if (!mayCreateIn(folder))
        return folder;
    const QString kernelFolder = QStringLiteral("/sys");
    return QFileInfo(kernelFolder).isDir() && !mayCreateIn(kernelFolder) ? kernelFolder : QString();
}

} // namespace

// decodump-cli against the simulated boot loader: dumps, exit statuses, resuming, signals, and
// the bytes it sends compared with those of the window.
class TestCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void run_data();
    void run();
    void sameBytesAsWindow_data();
    void sameBytesAsWindow();
    void resumeAfterLostDevice_data();
    void resumeAfterLostDevice();
    void resumeOfCompleteFile();
    void signalKeepsRecords_data();
    void signalKeepsRecords();

private:
    QByteArray m_image;
};

void TestCli::initTestCase() {
    if (LoaderSimProcess::program().isEmpty())
        QSKIP("loader-sim is not built");
    if (!QFileInfo(cliProgram()).isExecutable())
        QSKIP("decodump-cli is not built");
    m_image = LoaderSimProcess::imageForSeed(Seed);
    QCOMPARE(m_image.size(), 2048 * BlockSize);
}

void TestCli::run_data() {
    QTest::addColumn<QStringList>("simArguments"); // empty: no loader-sim
    QTest::addColumn<QStringList>("cliArguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("records"); // records that must be in the dump; -1: no dump checked

    const QStringList range{"--port", "%DEV%", "--start", "2000", "--count", "16", "-o", "%OUT%"};
    QTest::newRow("complete, ack") << QStringList{"--mode", "ack"} << range << 0
                                   << QStringList{"FIN DE LA DESCARGA", "no bad sums",
                                                  "Summary: 16 of 16 blocks written", "(match)"}
                                   << Count;
    QTest::newRow("complete, response files")
        << QStringList{"--mode", "respfile", "--resp-line", "2000"} << range << 0
        << QStringList{"Solicitando firmware...", "Summary: 16 of 16 blocks written"} << Count;
    QTest::newRow("complete, COM1")
        << QStringList{"--mode", "ack"}
        << QStringList{"--port", "COM1", "--start", "2000", "--count", "16", "-o", "%OUT%"} << 0
        << QStringList{"En espera COM1 (/dev/", "Summary: 16 of 16 blocks written"} << Count;
    QTest::newRow("complete, quiet")
        << QStringList{"--mode", "ack"} << range + QStringList{"--quiet"} << 0
        << QStringList{"Summary: 16 of 16 blocks written"} << Count;
    QTest::newRow("bad option") << QStringList{} << QStringList{"--bogus"} << 2
                                << QStringList{"Unknown option 'bogus'", "--help"} << -1;
    QTest::newRow("no port") << QStringList{} << QStringList{"--start", "1", "--count", "1"} << 2
                             << QStringList{"--port DEVICE is required"} << -1;
    QTest::newRow("count of 0") << QStringList{}
                                << QStringList{"--port", "/dev/null", "--count", "0000"} << 2
                                << QStringList{"--count takes a number of blocks"} << -1;
    QTest::newRow("preset and range")
        << QStringList{} << QStringList{"--port", "/dev/null", "--preset", "bl64", "--count", "4"}
        << 2 << QStringList{"--preset cannot be combined"} << -1;
    QTest::newRow("wait of 0") << QStringList{} << QStringList{"--port", "/dev/null", "--wait", "0"}
                               << 2 << QStringList{"--wait takes a number of seconds above 0"}
                               << -1;
    QTest::newRow("unknown preset")
        << QStringList{} << QStringList{"--port", "/dev/null", "--preset", "bl32"} << 2
        << QStringList{"unknown preset 'bl32'"} << -1;
    QTest::newRow("missing device")
        << QStringList{} << QStringList{"--port", "/nonexistent", "-o", "%OUT%"} << 3
        << QStringList{"error: cannot open /nonexistent: no such device"} << -1;
    QTest::newRow("missing output folder")
        << QStringList{} << QStringList{"--port", "/dev/null", "-o", "%OUT%.d/none/d.bin"} << 3
        << QStringList{"the output folder", "none does not exist"} << -1;
    QTest::newRow("unwritable output folder")
        << QStringList{} << QStringList{"--port", "/dev/null", "-o", "%RO%/d.bin"} << 3
        << QStringList{"cannot write the dump file", "/d.bin: "} << -1;
    QTest::newRow("wrong total") << QStringList{"--fault-wrong-total"} << range << 1
                                 << QStringList{"(MISMATCH)", "the loader's total did not match"}
                                 << Count;
    QTest::newRow("bad sum") << QStringList{"--fault-bad-sum", "3"} << range << 1
                             << QStringList{"warning: block 2002: sum 0x",
                                            "1 with a bad sum (block 2002)",
                                            "block 2002 failed its sum"}
                             << Count;
    QTest::newRow("device lost") << QStringList{"--fault-vanish", "5"} << range << 4
                                 << QStringList{"error: lost the connection to",
                                                "Summary: 5 of 16 blocks written",
                                                "keeps 5 of 16 records"}
                                 << 5;
    QTest::newRow("short frame, timeout")
        << QStringList{"--fault-short", "5"} << range + QStringList{"--timeout", "1"} << 4
        << QStringList{"timeout: waited 1 s for block 5 of 16 (block number 2004)",
                       "Puerto COM cerrado.", "keeps 4 of 16 records"}
        << 4;
    QTest::newRow("silent loader, --wait")
        << QStringList{"--silent"} << range + QStringList{"--wait", "1"} << 4
        << QStringList{"waited 1 s for the loader to start", "nothing was written"} << 0;
}

void TestCli::run() {
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, cliArguments);
    QFETCH(int, status);
    QFETCH(QStringList, messages);
    QFETCH(int, records);

    LoaderSimProcess sim;
    if (!simArguments.isEmpty())
        QVERIFY(sim.start(simArguments + QStringList{"--seed", QString::number(Seed)}));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));
    QString unwritable;
    if (cliArguments.join(QLatin1Char(' ')).contains(QStringLiteral("%RO%"))) {
        unwritable = readOnlyFolder(out);
        if (unwritable.isEmpty())
            QSKIP("no folder here refuses new files");
    }

    qputenv("DECODUMP_COM1", sim.devicePath().toLocal8Bit()); // for --port COM1
    const CliRun run = runCli(substituted(cliArguments, sim.devicePath(), dumpPath, unwritable));
    qunsetenv("DECODUMP_COM1");
    QVERIFY2(run.status == status, qPrintable(run.errors));
    for (const QString& message : messages)
        QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    if (cliArguments.contains(QStringLiteral("--quiet")))
        QVERIFY2(!run.errors.contains(QStringLiteral("RECIBIENDO DATOS")), qPrintable(run.errors));
    if (records < 0)
        return;
    // What was received is kept whole, whatever ended the run.
    const QByteArray dump = readFile(dumpPath);
    QCOMPARE(dump.size(), records * BlockSize);
    QVERIFY(dump == m_image.mid(FirstBlock * BlockSize, dump.size()));
}

void TestCli::sameBytesAsWindow_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("preset");
    QTest::addColumn<QString>("firstBlock"); // typed into the window's boxes for the free preset
    QTest::addColumn<QString>("count");
    QTest::addColumn<QStringList>("cliArguments");

    QTest::newRow("Bootloader 64 Kb") << "ack" << 1 << ""
                                      << "" << QStringList{"--preset", "bl64"};
    QTest::newRow("Bootloader 128 Kb, response files") << "respfile" << 2 << ""
                                                       << "" << QStringList{};
    QTest::newRow("free range") << "ack" << 4 << "2000"
                                << "16" << QStringList{"--start", "2000", "--count", "16"};
}

void TestCli::sameBytesAsWindow() {
    QFETCH(QString, mode);
    QFETCH(int, preset);
    QFETCH(QString, firstBlock);
    QFETCH(QString, count);
    QFETCH(QStringList, cliArguments);
    const QStringList simArguments{"--mode", mode, "--seed", QString::number(Seed), "--record"};
    QTemporaryDir out;
    QVERIFY(out.isValid());

    LoaderSimProcess windowSim;
    const QString windowRecord = windowSim.scratchPath(QStringLiteral("window.rec"));
    QVERIFY(windowSim.start(simArguments + QStringList{windowRecord}));
    qputenv("DECODUMP_COM1", windowSim.devicePath().toLocal8Bit());
    QtCommControl port;
    RecordingWindow window(port);
    window.setResponsesFolder(QFileInfo(LoaderSimProcess::program()).absolutePath() +
                              QStringLiteral("/Respuestas"));
    window.Opt_Descargar.at(preset)->click();
    if (!firstBlock.isEmpty()) {
        window.Txt_Start_Block->setText(firstBlock);
        window.Txt_Blocks->setText(count);
    }
    window.Txt_Path->setText(out.filePath(QStringLiteral("window")));
    QVERIFY(QDir().mkpath(window.Txt_Path->text()));
    window.Com_Puerto->setCurrentIndex(1);
    QTRY_VERIFY_WITH_TIMEOUT(!window.messages.isEmpty(), RunTimeoutMs);
    qunsetenv("DECODUMP_COM1");
    QCOMPARE(window.messages.size(), 1);
    QCOMPARE(window.messages.first().text, QStringLiteral("Descarga finalizada."));
    QCOMPARE(windowSim.waitForExit(), 0);

    LoaderSimProcess cliSim;
    const QString cliRecord = cliSim.scratchPath(QStringLiteral("cli.rec"));
    QVERIFY(cliSim.start(simArguments + QStringList{cliRecord}));
    const QString cliDump = out.filePath(window.Txt_Filename->text());
    const CliRun run =
        runCli(QStringList{"--port", cliSim.devicePath(), "-o", cliDump} + cliArguments);
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    QCOMPARE(cliSim.waitForExit(), 0);

    const QByteArray windowBytes = withoutBreakIns(readFile(windowRecord));
    QVERIFY(windowBytes.contains("REQUEST_TOTALCRC\rDOWN_SUCCESS\r"));
    QCOMPARE(withoutBreakIns(readFile(cliRecord)), windowBytes);
    QCOMPARE(readFile(cliDump), readFile(window.Txt_Path->text() + window.Txt_Filename->text()));
}

void TestCli::resumeAfterLostDevice_data() {
    QTest::addColumn<int>("lostAfter");
    QTest::newRow("after the first block") << 1;
    QTest::newRow("after block 9") << 9;
    QTest::newRow("after the last but one") << Count - 1;
}

void TestCli::resumeAfterLostDevice() {
    QFETCH(int, lostAfter);
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));
    const QStringList range{"--start", "2000", "--count", "16", "-o", dumpPath};

    LoaderSimProcess vanishing;
    QVERIFY(vanishing.start(
        {"--seed", QString::number(Seed), "--fault-vanish", QString::number(lostAfter)}));
    const CliRun lost = runCli(QStringList{"--port", vanishing.devicePath()} + range);
    QVERIFY2(lost.status == 4, qPrintable(lost.errors));
    QCOMPARE(QFileInfo(dumpPath).size(), qint64(lostAfter) * BlockSize);

    LoaderSimProcess sim;
    const QString record = sim.scratchPath(QStringLiteral("resume.rec"));
    QVERIFY(sim.start({"--seed", QString::number(Seed), "--record", record}));
    const CliRun resumed = runCli(QStringList{"--port", sim.devicePath(), "--resume"} + range);
    QVERIFY2(resumed.status == 0, qPrintable(resumed.errors));
    QVERIFY2(resumed.errors.contains(QStringLiteral("over the blocks of this run only")),
             qPrintable(resumed.errors));
    QCOMPARE(sim.waitForExit(), 0);

    QCOMPARE(readFile(dumpPath), m_image.mid(FirstBlock * BlockSize, Count * BlockSize));
    // Only the blocks still missing were asked for.
    const int first = FirstBlock + lostAfter;
    const QByteArray asked = withoutBreakIns(readFile(record));
    QVERIFY(asked.contains(QStringLiteral("ack%1%2REQUEST_DOWNLOAD\rREQUEST_1024DOWN:%1\r")
                               .arg(first)
                               .arg(Count - lostAfter, 4, 10, QLatin1Char('0'))
                               .toLatin1()));
    QVERIFY(!asked.contains(QStringLiteral("REQUEST_1024DOWN:%1\r").arg(first - 1).toLatin1()));
}

void TestCli::resumeOfCompleteFile() {
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));
    QFile file(dumpPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(m_image.mid(FirstBlock * BlockSize, Count * BlockSize)),
             qint64(Count) * BlockSize);
    file.close();

    // The port is never opened: the device does not even exist.
    const CliRun run = runCli(
        {"--port", "/nonexistent", "--start", "2000", "--count", "16", "-o", dumpPath, "--resume"});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("already holds the 16 records asked for")),
             qPrintable(run.errors));
}

void TestCli::signalKeepsRecords_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

void TestCli::signalKeepsRecords() {
    QFETCH(int, signalNumber);
    LoaderSimProcess sim;
    QVERIFY(sim.start({"--seed", QString::number(Seed), "--baud", "115200"}));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));

    QProcess cli;
    cli.start(cliProgram(),
              {"--port", sim.devicePath(), "--start", "2000", "--count", "16", "-o", dumpPath});
    QString errors;
    const auto blocksFlowing = [&] {
        errors += QString::fromUtf8(cli.readAllStandardError());
        return errors.contains(QStringLiteral("2/16 blocks"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(blocksFlowing(), RunTimeoutMs);
    QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), signalNumber), 0);
    QVERIFY(cli.waitForFinished(RunTimeoutMs));
    errors += QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == 130, qPrintable(errors));
    QVERIFY2(errors.contains(QStringLiteral("Interrupted: ")), qPrintable(errors));

    const QByteArray dump = readFile(dumpPath);
    QVERIFY(dump.size() >= 2 * BlockSize);
    QVERIFY(dump.size() < Count * BlockSize);
    QCOMPARE(dump.size() % BlockSize, 0);
    QVERIFY(dump == m_image.mid(FirstBlock * BlockSize, dump.size()));
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
