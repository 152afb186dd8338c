#include "blockmap.h"
#include "blocksize.h"
#include "clirun.h"
#include "loadersimprocess.h"
#include "portlist.h"
#include "qtcommcontrol.h"
#include "recordingwindow.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>

namespace {

constexpr int Seed = 5;
constexpr int FirstBlock = 2000;
constexpr int Count = 16;
constexpr int RunTimeoutMs = 30000;
// What COM4 stands for in the run table: a name that a terminal would act on, with a non-ASCII
// letter, a backslash, an escape sequence, a line break forging a line, DEL and a C1 control.
const QString HostileDevice = QStringLiteral("/dev/ttyñ\\\x1b[2J\nCOM1 -> forged\x7f\x9b"
                                             "1m");

QJsonObject ledgerOf(const QString& dumpPath) {
    return QJsonDocument::fromJson(readFile(dumpPath + QStringLiteral(".json"))).object();
}

QStringList substituted(QStringList texts, const QString& device, const QString& output,
                        const QString& readOnlyFolder, const QString& fullFolder = {}) {
    for (QString& text : texts) {
        text.replace(QStringLiteral("%FULL%"), fullFolder);
        text.replace(QStringLiteral("%DEV%"), device);
        text.replace(QStringLiteral("%OUTDIR%"), QFileInfo(output).absolutePath());
        text.replace(QStringLiteral("%OUT%"), output);
        text.replace(QStringLiteral("%RO%"), readOnlyFolder);
    }
    return texts;
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
    void resume_data();
    void resume();
    void verifyAndRepair();
    void traceReplays();
    void signalKeepsRecords_data();
    void signalKeepsRecords();
    void closedOutputsDoNotStopADump_data();
    void closedOutputsDoNotStopADump();
    void aloneInAFolderThroughARelativeLink();
    void oldDumpInAClosedFolderIsNeverReplaced();

private:
    QByteArray m_image;
    QByteArray m_completeDump; // blocks 2000 to 2015 as decodump-cli dumped them
    QByteArray m_completeLedger;
};

void TestCli::initTestCase() {
    if (LoaderSimProcess::program().isEmpty())
        QSKIP("loader-sim is not built");
    if (!QFileInfo(cliProgram()).isExecutable())
        QSKIP("decodump-cli is not built");
    m_image = LoaderSimProcess::imageForSeed(Seed);
    QCOMPARE(m_image.size(), 2048 * BlockSize);

    LoaderSimProcess sim;
    QVERIFY(sim.start({"--seed", QString::number(Seed)}));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));
    const CliRun run =
        runCli({"--port", sim.devicePath(), "--start", "2000", "--count", "16", "-o", dumpPath});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    m_completeDump = readFile(dumpPath);
    m_completeLedger = readFile(dumpPath + QStringLiteral(".json"));
}

void TestCli::run_data() {
    QTest::addColumn<QStringList>("simArguments"); // empty: no loader-sim
    QTest::addColumn<QStringList>("cliArguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("records");    // records that must be in the dump; -1: no dump checked
    QTest::addColumn<QString>("ledger"); // the outcome its ledger records; empty: no ledger

    const QStringList range{"--port", "%DEV%", "--start", "2000", "--count", "16", "-o", "%OUT%"};
    QTest::newRow("complete, ack")
        << QStringList{"--mode", "ack"} << range << 0
        << QStringList{"Waiting for the loader on %DEV% (break-in byte every 500 ms)\n"
                       "Receiving from the loader\n"
                       "Transfer started: reading blocks 2000 to 2015\n",
                       "Port closed\nSummary: 16 of 16 blocks written", "no bad sums", "(match)"}
        << Count << QString("complete");
    QTest::newRow("complete, response files, verbose")
        << QStringList{"--mode", "respfile", "--resp-line", "2000"} << range + QStringList{"-v"}
        << 0 << QStringList{"En espera %DEV%",     "Solicitando firmware...",
                            "RECIBIENDO DATOS",    "FIN DE LA DESCARGA",
                            "Puerto COM cerrado.", "Summary: 16 of 16 blocks written"}
        << Count << QString("complete");
    QTest::newRow("complete, COM1")
        << QStringList{"--mode", "ack"}
        << QStringList{"--port", "COM1", "--start", "2000", "--count", "16", "-o", "%OUT%"} << 0
        << QStringList{"Waiting for the loader on COM1 (/dev/", "Summary: 16 of 16 blocks written"}
        << Count << QString("complete");
    QTest::newRow("complete, --map")
        << QStringList{"--mode", "ack"} << range + QStringList{"--map", "%OUT%.png"} << 0
        << QStringList{"Summary: 16 of 16 blocks written"} << Count << QString("complete");
    QTest::newRow("complete, --map=FILE, a platform without its display")
        << QStringList{"--mode", "ack"} << range + QStringList{"--map=%OUT%.png"} << 0
        << QStringList{"Summary: 16 of 16 blocks written"} << Count << QString("complete");
    QTest::newRow("complete, map on a full disk")
        << QStringList{"--mode", "ack"} << range + QStringList{"--map", "%FULL%/map.png"} << 3
        << QStringList{"Summary: 16 of 16 blocks written", "error: cannot write the map %FULL%"}
        << Count << QString("complete");
    QTest::newRow("complete, quiet")
        << QStringList{"--mode", "ack"} << range + QStringList{"--quiet"} << 0
        << QStringList{"Summary: 16 of 16 blocks written"} << Count << QString("complete");
    QTest::newRow("complete, trace cut by a full disk")
        << QStringList{"--mode", "ack"} << range + QStringList{"--trace", "%FULL%/wire.trace"} << 3
        << QStringList{"Summary: 16 of 16 blocks written",
                       "error: cannot write the trace %FULL%/wire.trace"}
        << Count << QString("complete");
    QTest::newRow("bad option") << QStringList{} << QStringList{"--bogus"} << 2
                                << QStringList{"Unknown option 'bogus'", "--help"} << -1
                                << QString();
    QTest::newRow("no port") << QStringList{} << QStringList{"--start", "1", "--count", "1"} << 2
                             << QStringList{"--port DEVICE is required"} << -1 << QString();
    QTest::newRow("count of 0") << QStringList{}
                                << QStringList{"--port", "/dev/null", "--count", "0000"} << 2
                                << QStringList{"--count takes a number of blocks"} << -1
                                << QString();
    QTest::newRow("preset and range")
        << QStringList{} << QStringList{"--port", "/dev/null", "--preset", "bl64", "--count", "4"}
        << 2 << QStringList{"--preset cannot be combined"} << -1 << QString();
    QTest::newRow("wait of 0") << QStringList{} << QStringList{"--port", "/dev/null", "--wait", "0"}
                               << 2 << QStringList{"--wait takes a number of seconds above 0"} << -1
                               << QString();
    QTest::newRow("unknown preset")
        << QStringList{} << QStringList{"--port", "/dev/null", "--preset", "bl32"} << 2
        << QStringList{"unknown preset 'bl32'"} << -1 << QString();
    QTest::newRow("missing device")
        << QStringList{} << QStringList{"--port", "/nonexistent", "-o", "%OUT%"} << 3
        << QStringList{"error: cannot open /nonexistent: no such device"} << -1 << QString();
    QTest::newRow("missing output folder")
        << QStringList{} << QStringList{"--port", "/dev/null", "-o", "%OUT%.d/none/d.bin"} << 3
        << QStringList{"the output folder", "none does not exist"} << -1 << QString();
    QTest::newRow("unwritable output folder")
        << QStringList{} << QStringList{"--port", "/dev/null", "-o", "%RO%/d.bin"} << 3
        << QStringList{"cannot write the dump file", "/d.bin: "} << -1 << QString();
    QTest::newRow("output is a device")
        << QStringList{} << QStringList{"--port", "/dev/null", "-o", "/dev/null"} << 3
        << QStringList{"cannot write the dump file /dev/null: it is a device"} << -1 << QString();
    QTest::newRow("output is a pipe")
        << QStringList{} << QStringList{"--port", "/dev/null", "-o", "%OUT%"} << 3
        << QStringList{"cannot write the dump file %OUT%: it is a pipe"} << -1 << QString();
    QTest::newRow("output is the parent folder")
        << QStringList{} << QStringList{"--port", "/dev/null", "-o", "%OUT%/.."} << 3
        << QStringList{"cannot write the dump file %OUTDIR%: it is a folder"} << -1 << QString();
    QTest::newRow("option given twice")
        << QStringList{}
        << QStringList{"--port", "/dev/null", "--preset", "bl64", "--preset", "bl128"} << 2
        << QStringList{"--preset is given more than once"} << -1 << QString();
    QTest::newRow("option where a value belongs")
        << QStringList{} << QStringList{"-p", "--preset", "bl64"} << 2
        << QStringList{"--port needs a value"} << -1 << QString();
    QTest::newRow("responses names a file")
        << QStringList{} << QStringList{"--port", "/dev/null", "--responses", "/dev/null"} << 2
        << QStringList{"--responses /dev/null is not a folder"} << -1 << QString();
    QTest::newRow("COM beyond the mapped four")
        << QStringList{} << QStringList{"--port", "COM5"} << 2
        << QStringList{"--port COM5: only COM1 to COM4 are mapped"} << -1 << QString();
    QTest::newRow("wrong total") << QStringList{"--fault-wrong-total"} << range << 1
                                 << QStringList{"(MISMATCH)", "the loader's total did not match"}
                                 << Count << QString("total_mismatch");
    QTest::newRow("bad sum") << QStringList{"--fault-bad-sum", "3"} << range << 1
                             << QStringList{"warning: block 2002: sum 0x",
                                            "1 with a bad sum (block 2002)",
                                            "block 2002 failed its sum"}
                             << Count << QString("bad_sums");
    QTest::newRow("device lost") << QStringList{"--fault-vanish", "5"} << range << 4
                                 << QStringList{"error: lost the connection to",
                                                "Summary: 5 of 16 blocks written",
                                                "keeps 5 of 16 records"}
                                 << 5 << QString("device_lost");
    QTest::newRow("short frame, timeout")
        << QStringList{"--fault-short", "5"} << range + QStringList{"--timeout", "1"} << 4
        << QStringList{"timeout: waited 1 s for block 5 of 16 (block number 2004)", "Port closed",
                       "keeps 4 of 16 records"}
        << 4 << QString("timeout");
    QTest::newRow("silent loader, --wait")
        << QStringList{"--silent"} << range + QStringList{"--wait", "1"} << 4
        << QStringList{"waited 1 s for the loader to start", "nothing was written"} << 0
        << QString();
    QTest::newRow("bad option, --json") << QStringList{} << QStringList{"--bogus", "--json"} << 2
                                        << QStringList{"Unknown option 'bogus'"} << -1 << QString();
    QTest::newRow("missing device, --json")
        << QStringList{} << QStringList{"--port", "/nonexistent", "-o", "%OUT%", "--json"} << 3
        << QStringList{"error: cannot open /nonexistent"} << -1 << QString();
    QTest::newRow("device lost, --json")
        << QStringList{"--fault-vanish", "5"} << range + QStringList{"--json"} << 4
        << QStringList{"error: lost the connection to"} << 5 << QString("device_lost");
    QTest::newRow("complete, --json, standard output full")
        << QStringList{"--mode", "ack"} << range + QStringList{"--json"} << 3
        << QStringList{"error: standard output could not be written: "} << Count
        << QString("complete");
    QTest::newRow("list ports, names escaped")
        << QStringList{} << QStringList{"--list-ports"} << 0
        << QStringList{R"(COM4 -> /dev/ttyñ\\\x1b[2J\nCOM1 -> forged\x7f\x9b1m (no such device))"}
        << -1 << QString();
    QTest::newRow("list ports as JSON") << QStringList{} << QStringList{"--list-ports", "--json"}
                                        << 0 << QStringList{} << -1 << QString();
    QTest::newRow("list ports, standard output full")
        << QStringList{} << QStringList{"--list-ports"} << 3
        << QStringList{"error: standard output could not be written: "} << -1 << QString();
}

void TestCli::run() {
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, cliArguments);
    QFETCH(int, status);
    QFETCH(QStringList, messages);
    QFETCH(int, records);
    QFETCH(QString, ledger);

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

    if (QTest::currentDataTag() == QLatin1String("output is a pipe"))
        QCOMPARE(::mkfifo(QFile::encodeName(dumpPath).constData(), 0600), 0);
    // A file system of one page, and that page taken (a trace fills it up as it grows).
    const QString full = out.filePath(QStringLiteral("full"));
    const bool mounted = cliArguments.join(u' ').contains(QStringLiteral("%FULL%"));
    if (mounted && (!QDir().mkdir(full) ||
                    QProcess::execute(QStringLiteral("mount"),
                                      {"-t", "tmpfs", "-o", "size=4k", "tmpfs", full}) != 0))
        QSKIP("a small file system cannot be mounted here");
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {full});
    });
    if (mounted && !QLatin1String(QTest::currentDataTag()).contains(QLatin1String("trace")))
        writeFile(full + QStringLiteral("/filler"), QByteArray(4096, 'f'));
    // An unusable platform of the environment is no business of the map's.
    const QByteArray display = qgetenv("DISPLAY");
    const bool noDisplay =
        QLatin1String(QTest::currentDataTag()).contains(QLatin1String("without its display"));
    if (noDisplay) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", ":9999");
    }
    const auto platformBack = qScopeGuard([&] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("DISPLAY", display);
    });

    CliRunOptions how;
    if (QLatin1String(QTest::currentDataTag()).endsWith(QLatin1String("standard output full")))
        how.childSetup = [] { ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO); };

    qputenv("DECODUMP_COM1", sim.devicePath().toLocal8Bit()); // for --port COM1
    qputenv("DECODUMP_COM4", HostileDevice.toUtf8());         // for --list-ports
    const CliRun run =
        runCli(substituted(cliArguments, sim.devicePath(), dumpPath, unwritable, full), how);
    qunsetenv("DECODUMP_COM1");
    qunsetenv("DECODUMP_COM4");
    QVERIFY2(run.status == status, qPrintable(run.errors));
    // Messages on standard error, or the port list on standard output.
    const QString printed = run.errors + QString::fromUtf8(run.output);
    for (const QString& message :
         substituted(messages, sim.devicePath(), dumpPath, unwritable, full))
        QVERIFY2(printed.contains(message), qPrintable(printed));
    if (cliArguments.contains(QStringLiteral("--list-ports")) &&
        cliArguments.contains(QStringLiteral("--json"))) {
        // COM4's name comes back whole, without a byte that a terminal acts on.
        const QJsonObject listing = QJsonDocument::fromJson(run.output).object();
        const QJsonArray entries = listing.value(QStringLiteral("com_entries")).toArray();
        QCOMPARE(entries.size(), 4);
        QCOMPARE(entries.at(3)[QStringLiteral("device")].toString(), HostileDevice);
        QCOMPARE(entries.at(3)[QStringLiteral("exists")], QJsonValue(false));
        QVERIFY(listing.value(QStringLiteral("devices")).isArray());
        for (const char* control : {"\x1b", "\x7f", "\xc2\x9b"})
            QVERIFY2(!run.output.contains(control), run.output.constData());
    }
    // The picture of the blocks, drawn without a display, under a title line: taller than the
    // map alone by that line, and not blank there.
    if (cliArguments.join(u' ').contains(QStringLiteral("--map")) && status == 0) {
        const QImage map(dumpPath + QStringLiteral(".png"));
        QCOMPARE(map.width(), 600);
        QImage blank(600, BlockMap::TitleHeight, map.format());
        blank.fill(Qt::white);
        QCOMPARE(map.height(),
                 BlockMap({FirstBlock, Count}).image(600, {}).height() + blank.height());
        QVERIFY(map.copy(blank.rect()) != blank);
    }
    // With --json standard output holds one JSON object, whatever happened: a run that failed
    // says why, and with which status.
    if (cliArguments.contains(QStringLiteral("--json")) && !printed.contains("standard output")) {
        QJsonParseError parsed{};
        const QJsonObject object = QJsonDocument::fromJson(run.output, &parsed).object();
        QVERIFY2(parsed.error == QJsonParseError::NoError && !object.isEmpty(),
                 run.output.constData());
        if (status > 1 && !cliArguments.contains(QStringLiteral("--list-ports"))) {
            QCOMPARE(object.value(QStringLiteral("exit_status")).toInt(), status);
            QVERIFY(printed.contains(object.value(QStringLiteral("error")).toString()));
        }
    }
    // An output that is no file is left as it was.
    QVERIFY(QFileInfo(QStringLiteral("/dev/null")).exists() &&
            !QFileInfo(QStringLiteral("/dev/null")).isFile());
    // The window's log in Spanish only when asked for, and never with --quiet.
    if (!cliArguments.contains(QStringLiteral("-v")))
        QVERIFY2(!run.errors.contains(QStringLiteral("RECIBIENDO DATOS")), qPrintable(run.errors));
    if (cliArguments.contains(QStringLiteral("--quiet")))
        QVERIFY2(!run.errors.contains(QStringLiteral("Waiting for")), qPrintable(run.errors));
    if (records < 0)
        return;
    // What was received is kept whole, whatever ended the run.
    const QByteArray dump = readFile(dumpPath);
    QCOMPARE(dump.size(), records * BlockSize);
    QVERIFY(dump == m_image.mid(FirstBlock * BlockSize, dump.size()));
    // The ledger beside it says how the dump ended and vouches for exactly this file.
    QCOMPARE(QFileInfo::exists(dumpPath + QStringLiteral(".json")), !ledger.isEmpty());
    if (ledger.isEmpty())
        return;
    const QJsonObject written = ledgerOf(dumpPath);
    QCOMPARE(written.value(QStringLiteral("outcome")).toString(), ledger);
    QCOMPARE(written.value(QStringLiteral("records")).toInt(), records);
    QCOMPARE(
        written.value(QStringLiteral("sha256")).toString(),
        QString::fromLatin1(QCryptographicHash::hash(dump, QCryptographicHash::Sha256).toHex()));
    QCOMPARE(written.value(QStringLiteral("bad_blocks")).toArray().size(),
             ledger == u"bad_sums" ? 1 : 0);
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
    window.setResponsesFolder(LoaderSimProcess::samplesFolder());
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
    // The cases of the resume itself run in process (tst_dumping); here, what the command line
    // says of one and sends on the line.
    QTest::newRow("after block 9") << 9;
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
    // A verification of the cut file finds the blocks it lacks missing, never identical.
    LoaderSimProcess cutSim;
    QVERIFY(cutSim.start({"--seed", QString::number(Seed)}));
    const CliRun cut = runCli({"--port", cutSim.devicePath(), "--verify", dumpPath});
    QVERIFY2(cut.status == 1 && cut.errors.contains(QStringLiteral("blocks %1 to 2015 are not in "
                                                                   "the file yet: --resume")
                                                        .arg(FirstBlock + lostAfter)),
             qPrintable(cut.errors));
    // A record the ledger never vouched for (a run killed between two ledger writes) is read
    // again.
    QFile(dumpPath).resize(qint64(lostAfter + 1) * BlockSize);

    LoaderSimProcess sim;
    const QString record = sim.scratchPath(QStringLiteral("resume.rec"));
    QVERIFY(sim.start({"--seed", QString::number(Seed), "--record", record}));
    const CliRun resumed = runCli(QStringList{"--port", sim.devicePath(), "--resume"} + range);
    // The records kept were read by a run whose total never came: only a verification vouches
    // for them, and until then the file is not complete.
    QVERIFY2(resumed.status == 1, qPrintable(resumed.errors));
    QVERIFY2(resumed.errors.contains(QStringLiteral("over the blocks of this run only")) &&
                 resumed.errors.contains(
                     QStringLiteral("records complete, total never checked: use --verify")),
             qPrintable(resumed.errors));
    QCOMPARE(ledgerOf(dumpPath).value(QStringLiteral("outcome")).toString(),
             QStringLiteral("total_unchecked"));
    QCOMPARE(sim.waitForExit(), 0);
    LoaderSimProcess verifySim;
    QVERIFY(verifySim.start({"--seed", QString::number(Seed)}));
    const CliRun verified = runCli({"--port", verifySim.devicePath(), "--verify", dumpPath});
    QVERIFY2(verified.status == 0, qPrintable(verified.errors));
    QCOMPARE(ledgerOf(dumpPath).value(QStringLiteral("outcome")).toString(),
             QStringLiteral("complete"));

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

// What --resume, --repair and --verify say when they refuse or find nothing left for the loader
// (the plans themselves are tested in process, in tst_dumping), and a trace that would destroy
// the dump: the port is never opened (the device does not even exist), and the file and its
// ledger stay as they were.
void TestCli::resume_data() {
    QTest::addColumn<QString>("change");
    // %DUMP%: the dump file, %LINK%: a hard link to it, %DANGLING%: a relative link to
    // %DUMP%.new, which does not exist, %PORTLINK%: a link to the port, %FIFO%: a pipe
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    const QStringList whole{"--resume", "-o", "%DUMP%", "--start", "2000", "--count", "16"};
    QTest::newRow("complete") << "none" << whole << 0 << "already holds all 16 records";
    QTest::newRow("total never checked")
        << "no total" << whole << 1 << "records complete, total never checked: use --verify";
    QTest::newRow("total mismatch, resume")
        << "total mismatch" << whole << 1 << "the loader's total did not match them: use --verify";
    QTest::newRow("total mismatch, repair")
        << "total mismatch" << QStringList{"--repair", "%DUMP%"} << 1
        << "the loader's total did not match them: use --verify";
    QTest::newRow("no ledger") << "no ledger" << whole << 3
                               << "it has no ledger (%DUMP%.json); a dump without --resume";
    QTest::newRow("no ledger, verify") << "no ledger" << QStringList{"--verify", "%DUMP%"} << 3
                                       << "dump the flash into another file";
    QTest::newRow("ledger for another count")
        << "none" << QStringList{"--resume", "-o", "%DUMP%", "--start", "2000", "--count", "17"}
        << 3 << "its ledger is for blocks 2000 to 2015, not blocks 2000 to 2016";
    QTest::newRow("trace names the dump")
        << "bad block" << QStringList{"--repair", "%DUMP%", "--trace", "%DUMP%"} << 3
        << "is the dump file";
    QTest::newRow("trace is a hard link to the dump")
        << "bad block" << QStringList{"--repair", "%DUMP%", "--trace", "%LINK%"} << 3
        << "is the dump file";
    QTest::newRow("map names the dump")
        << "bad block" << QStringList{"--repair", "%DUMP%", "--map", "%DUMP%"} << 3
        << "is the dump file";
    QTest::newRow("trace names the ledger")
        << "none" << QStringList{"--verify", "%DUMP%", "--trace", "%DUMP%.json"} << 3
        << "is the dump's ledger";
    QTest::newRow("map is a dangling link to the new dump")
        << "none"
        << QStringList{"-o", "%DUMP%.new", "--start", "1", "--count", "1", "--map", "%DANGLING%"}
        << 3 << "is the dump file";
    QTest::newRow("trace and map are one file")
        << "none" << QStringList{"--verify", "%DUMP%", "--trace", "%DUMP%.x", "--map", "%DUMP%.x"}
        << 3 << "is the --trace file";
    QTest::newRow("dump is a link to the port")
        << "none" << QStringList{"-o", "%PORTLINK%", "--start", "1", "--count", "1"} << 3
        << "is the serial device (/nonexistent)";
    QTest::newRow("trace is a pipe")
        << "none" << QStringList{"--verify", "%DUMP%", "--trace", "%FIFO%"} << 3
        << "cannot write the trace %FIFO%: it is a pipe";
    QTest::newRow("map is a device")
        << "none" << QStringList{"--verify", "%DUMP%", "--map", "/dev/full"} << 3
        << "cannot write the map /dev/full: it is a device";
}

void TestCli::resume() {
    QFETCH(QString, change);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));
    const QString linkPath = out.filePath(QStringLiteral("link.trace"));
    const QByteArray dump = m_completeDump;
    QJsonObject ledger = QJsonDocument::fromJson(m_completeLedger).object();
    QByteArray ledgerBytes = m_completeLedger;
    const auto setTotal = [&](const QJsonValue& total) {
        QJsonArray runs = ledger.value(QStringLiteral("runs")).toArray();
        QJsonObject run = runs.at(0).toObject();
        run.insert(QStringLiteral("total"), total);
        runs.replace(0, run);
        ledger.insert(QStringLiteral("runs"), runs);
        ledger.insert(QStringLiteral("total"), total);
    };
    if (change == u"no total") {
        setTotal(QJsonValue::Null);
    } else if (change == u"total mismatch") {
        const int computed = byteSum(dump);
        setTotal(QJsonObject{
            {"loader", (computed + 1) % 256}, {"computed", computed}, {"match", false}});
        ledger.insert(QStringLiteral("outcome"), QStringLiteral("total_mismatch"));
    } else if (change == u"bad block") {
        ledger.insert(QStringLiteral("bad_blocks"), QJsonArray{2003});
        ledger.insert(QStringLiteral("outcome"), QStringLiteral("bad_sums"));
    }
    if (ledger != QJsonDocument::fromJson(m_completeLedger).object())
        ledgerBytes = QJsonDocument(ledger).toJson();
    QVERIFY(writeFile(dumpPath, dump));
    if (change != u"no ledger")
        QVERIFY(writeFile(dumpPath + QStringLiteral(".json"), ledgerBytes));
    QCOMPARE(
        ::link(QFile::encodeName(dumpPath).constData(), QFile::encodeName(linkPath).constData()),
        0);

    const QString dangling = out.filePath(QStringLiteral("dangling.png"));
    const QString portLink = out.filePath(QStringLiteral("port.bin"));
    const QString fifo = out.filePath(QStringLiteral("fifo"));
    QCOMPARE(::symlink("dump.bin.new", QFile::encodeName(dangling).constData()), 0);
    QCOMPARE(::symlink("/nonexistent", QFile::encodeName(portLink).constData()), 0);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const auto placed = [&](QStringList texts) {
        texts.replaceInStrings(QStringLiteral("%DUMP%"), dumpPath);
        texts.replaceInStrings(QStringLiteral("%LINK%"), linkPath);
        texts.replaceInStrings(QStringLiteral("%DANGLING%"), dangling);
        texts.replaceInStrings(QStringLiteral("%PORTLINK%"), portLink);
        return texts.replaceInStrings(QStringLiteral("%FIFO%"), fifo);
    };
    arguments = placed(arguments);
    message = placed({message}).constFirst();
    const CliRun run = runCli(QStringList{"--port", "/nonexistent"} + arguments);
    QVERIFY2(run.status == status, qPrintable(run.errors));
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QCOMPARE(readFile(dumpPath), dump);
    if (change != u"no ledger")
        QCOMPARE(readFile(dumpPath + QStringLiteral(".json")), ledgerBytes);
    QVERIFY(!QFileInfo::exists(dumpPath + QStringLiteral(".new")));
}

// A block read wrong under a good-looking sum, found by a verification against the flash,
// read again alone by a repair, and the file then verified identical; against another flash it
// differs.
void TestCli::verifyAndRepair() {
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));
    const auto against = [&](const QStringList& simArguments, const QStringList& cliArguments) {
        LoaderSimProcess sim;
        if (!sim.start(simArguments))
            return CliRun{};
        return runCli(QStringList{"--port", sim.devicePath()} + cliArguments);
    };
    const QStringList seed{"--seed", QString::number(Seed)};
    const CliRun dumped = against(seed + QStringList{"--fault-corrupt", "6"},
                                  {"--start", "2000", "--count", "16", "-o", dumpPath});
    QVERIFY2(dumped.status == 1, qPrintable(dumped.errors));
    QCOMPARE(ledgerOf(dumpPath).value(QStringLiteral("bad_blocks")).toArray(), QJsonArray{2005});

    const CliRun differs = against(seed, {"--verify", dumpPath});
    QVERIFY2(differs.status == 1, qPrintable(differs.errors));
    QVERIFY2(differs.errors.contains(QStringLiteral("differing blocks 2005")),
             qPrintable(differs.errors));
    QCOMPARE(ledgerOf(dumpPath)
                 .value(QStringLiteral("verified"))
                 .toObject()
                 .value(QStringLiteral("differing_blocks")),
             QJsonArray{2005});

    // A verification cut short says so, and changes nothing.
    const QByteArray wrong = readFile(dumpPath);
    const CliRun verifyLost =
        against(seed + QStringList{"--fault-vanish", "3"}, {"--verify", dumpPath});
    QVERIFY2(verifyLost.status == 4 && verifyLost.errors.contains("nothing was verified") &&
                 !verifyLost.errors.contains("--resume"),
             qPrintable(verifyLost.errors));

    // The block alone is read again; it lands before the device goes, which ends the repair
    // short of its total, without a word of success or of --resume.
    LoaderSimProcess repairSim;
    const QString record = repairSim.scratchPath(QStringLiteral("repair.rec"));
    QVERIFY(repairSim.start(seed + QStringList{"--record", record, "--fault-vanish", "1"}));
    const CliRun repaired = runCli({"--port", repairSim.devicePath(), "--repair", dumpPath});
    QVERIFY2(repaired.status == 4 && !repaired.errors.contains("Repaired") &&
                 !repaired.errors.contains("--resume"),
             qPrintable(repaired.errors));
    QVERIFY(withoutBreakIns(readFile(record)).contains("REQUEST_1024DOWN:2005\r"));
    QVERIFY(!withoutBreakIns(readFile(record)).contains("REQUEST_1024DOWN:2004\r"));
    QCOMPARE(readFile(dumpPath), m_image.mid(FirstBlock * BlockSize, Count * BlockSize));
    // The dump's total, checked again against the records as they now stand, vouches for them.
    const CliRun nothingLeft = against(seed, {"--repair", dumpPath});
    QVERIFY2(nothingLeft.status == 0 && nothingLeft.errors.contains("nothing to repair"),
             qPrintable(nothingLeft.errors));

    const CliRun identical = against(seed, {"--verify", dumpPath, "--json"});
    QVERIFY2(identical.status == 0, qPrintable(identical.errors));
    QVERIFY2(identical.errors.contains(QStringLiteral(": identical")),
             qPrintable(identical.errors));
    QCOMPARE(QJsonDocument::fromJson(identical.output).object(), ledgerOf(dumpPath));
    const CliRun other = against({"--seed", QString::number(Seed + 1)}, {"--verify", dumpPath});
    QCOMPARE(other.status, 1);
    // Nothing of that other flash goes into the file, and nothing calls the file complete.
    const CliRun mixed = against({"--seed", QString::number(Seed + 1)}, {"--repair", dumpPath});
    QVERIFY2(mixed.status == 1 && mixed.errors.contains("would mix two flashes"),
             qPrintable(mixed.errors));
    QCOMPARE(readFile(dumpPath), m_image.mid(FirstBlock * BlockSize, Count * BlockSize));
}

// A wire trace of a dump, played back by loader-sim, reproduces the dump.
void TestCli::traceReplays() {
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString trace = out.filePath(QStringLiteral("dump.trace"));
    const QStringList range{"--start", "2000", "--count", "16", "-o"};
    {
        LoaderSimProcess sim;
        QVERIFY(sim.start(
            {"--seed", QString::number(Seed), "--mode", "respfile", "--resp-line", "2000"}));
        const CliRun traced = runCli(QStringList{"--port", sim.devicePath(), "--trace", trace} +
                                     range + QStringList{out.filePath(QStringLiteral("a.bin"))});
        QVERIFY2(traced.status == 0, qPrintable(traced.errors));
    }
    LoaderSimProcess replay;
    QVERIFY(replay.start({"--replay", trace}));
    const CliRun replayed = runCli(QStringList{"--port", replay.devicePath()} + range +
                                   QStringList{out.filePath(QStringLiteral("b.bin"))});
    QVERIFY2(replayed.status == 0, qPrintable(replayed.errors));
    QCOMPARE(replay.waitForExit(), 0);
    QCOMPARE(readFile(out.filePath(QStringLiteral("b.bin"))),
             m_image.mid(FirstBlock * BlockSize, Count * BlockSize));
}

void TestCli::signalKeepsRecords_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGQUIT") << SIGQUIT;
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

// `decodump-cli ... 2>&1 | head -n 2`: once the reader has gone, the dump still goes to its end;
// so it does with standard output and error closed from the start (`>&- 2>&-`).
void TestCli::closedOutputsDoNotStopADump_data() {
    QTest::addColumn<bool>("closedAtStart");
    QTest::newRow("reader gone") << false;
    QTest::newRow("closed at start") << true;
}

void TestCli::closedOutputsDoNotStopADump() {
    QFETCH(bool, closedAtStart);
    LoaderSimProcess sim;
    QVERIFY(sim.start({"--seed", QString::number(Seed)}));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString dumpPath = out.filePath(QStringLiteral("dump.bin"));
    const CliRun run =
        runCli({"--port", sim.devicePath(), "--start", "2000", "--count", "16", "-o", dumpPath},
               {.childSetup = [closedAtStart] {
                   int ends[2];
                   if (closedAtStart) {
                       ::close(STDOUT_FILENO);
                       ::close(STDERR_FILENO);
                       return;
                   }
                   if (::pipe(ends) != 0)
                       return;
                   ::close(ends[0]);
                   ::dup2(ends[1], STDOUT_FILENO);
                   ::dup2(ends[1], STDERR_FILENO);
               }});
    QCOMPARE(run.status, 0);
    QCOMPARE(sim.waitForExit(), 0); // the loader got its DOWN_SUCCESS
    QCOMPARE(readFile(dumpPath), m_image.mid(FirstBlock * BlockSize, Count * BlockSize));
}

// A copy of the program with nothing beside it (no Respuestas) dumps through the keyword
// path, on a device named by a relative path.
void TestCli::aloneInAFolderThroughARelativeLink() {
    LoaderSimProcess sim;
    QVERIFY(sim.start({"--seed", QString::number(Seed)}));
    QTemporaryDir alone;
    QVERIFY(alone.isValid());
    const QString copy = alone.filePath(QStringLiteral("decodump-cli"));
    QVERIFY(QFile::copy(cliProgram(), copy));
    QVERIFY(QDir(alone.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(QFile::link(sim.devicePath(), alone.filePath(QStringLiteral("sub/link"))));
    const CliRun run =
        runCli({"--port", "sub/link", "--start", "2000", "--count", "16", "-o", "dump.bin"},
               {.workingDirectory = alone.path(), .program = copy});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    QCOMPARE(readFile(alone.filePath(QStringLiteral("dump.bin"))),
             m_image.mid(FirstBlock * BlockSize, Count * BlockSize));
}

// An old dump that may be written but not set aside (its folder is closed to the user) is never
// replaced: the new dump is refused before the port opens.
void TestCli::oldDumpInAClosedFolderIsNeverReplaced() {
    const bool root = ::geteuid() == 0;
    LoaderSimProcess sim;
    QVERIFY(sim.start({"--seed", QString::number(Seed)}));
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString folder = out.filePath(QStringLiteral("closed"));
    QVERIFY(QDir().mkdir(folder));
    const QString dumpPath = folder + QStringLiteral("/dump.bin");
    QFile old(dumpPath);
    QVERIFY(old.open(QIODevice::WriteOnly));
    QVERIFY(old.write(QByteArray(2 * 1024 * 1024, '\x5a')) == 2 * 1024 * 1024);
    old.close();
    std::function<void()> asUser;
    if (root) {
        // Root may delete anything: the dump runs as nobody, who may write the file (and the
        // device) but not its folder.
        QVERIFY(QFile::setPermissions(
            out.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                            QFileDevice::ReadOther | QFileDevice::ExeOther));
        QCOMPARE(::chmod(QFile::encodeName(dumpPath).constData(), 0666), 0);
        QCOMPARE(::chmod(QFile::encodeName(sim.devicePath()).constData(), 0666), 0);
        asUser = [] {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(99);
        };
    }
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther));
    const CliRun run =
        runCli({"--port", sim.devicePath(), "--start", "2000", "--count", "16", "-o", dumpPath},
               {.childSetup = asUser});
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY2(run.status == 3 && run.errors.contains("cannot be kept under another name"),
             qPrintable(run.errors));
    QCOMPARE(readFile(dumpPath), QByteArray(2 * 1024 * 1024, '\x5a'));
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
