#include "blocksize.h"
#include "clirun.h"
#include "expectedreception.h"
#include "loadersimprocess.h"
#include "processstats.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

constexpr int Seed = 5;
constexpr int FirstBlock = 2000;
constexpr int Count = 16;
constexpr int LongLine = 1048576;
constexpr int NoiseLines = 50;
// What a run with --timeout or --wait may take beyond its limit before it counts as hung.
constexpr qint64 TimeoutRunSlackMs = 6000;

const QRegularExpression ProgressBar(QStringLiteral("\\[[#-]{20}\\] \\d+/16 blocks"));

// Texts that only a crash, an abort or a sanitizer leaves on standard error.
const QStringList CrashTexts{
    "AddressSanitizer", "LeakSanitizer",      "runtime error:", "terminate called",
    "Aborted",          "Segmentation fault", "ASSERT"};
// The window's messages, which the command line words in its own language.
const QStringList WindowTexts{"CRC No Ok", "Descarga finalizada", "El total", "Se ha perdido",
                              "El dispositivo"};

QString hexByte(int value) {
    return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0'));
}

// How far the faulted run gets with the transfer.
enum class Transfer {
    None,    // no transfer starts: nothing is written
    NoBlock, // the transfer starts, but no block comes
    Served,  // loader-sim serves the blocks as its options say
};

// What decodump-cli prints for a transfer: a warning for each bad sum as the block arrives,
// then the summary.
QStringList summaryTexts(const ExpectedReception& reception, const QString& dumpPath) {
    QStringList texts;
    QStringList badBlocks;
    for (const ExpectedReception::BadSum& bad : reception.badSums) {
        texts << QStringLiteral("warning: block %1: sum %2, expected %3\n")
                     .arg(bad.block)
                     .arg(hexByte(bad.sum), hexByte(bad.sumByte));
        badBlocks << QString::number(bad.block);
    }
    texts << QStringLiteral("Summary: %1 of %2 blocks written to %3")
                 .arg(reception.records.size() / BlockSize)
                 .arg(Count)
                 .arg(dumpPath);
    texts << (badBlocks.isEmpty() ? QStringLiteral(", no bad sums;")
                                  : QStringLiteral("%1 with a bad sum (%2 %3)")
                                        .arg(badBlocks.size())
                                        .arg(badBlocks.size() == 1 ? QStringLiteral("block")
                                                                   : QStringLiteral("blocks"))
                                        .arg(badBlocks.join(QStringLiteral(", "))));
    texts.append(reception.totalReceived
                     ? QStringLiteral("total loader %1, computed %2 (%3)")
                           .arg(hexByte(reception.loaderTotal), hexByte(reception.computedTotal),
                                reception.loaderTotal == reception.computedTotal
                                    ? QStringLiteral("match")
                                    : QStringLiteral("MISMATCH"))
                     : QStringLiteral("no total received"));
    return texts;
}

// How the response folder that decodump-cli is pointed at stands when the run begins.
enum class Responses {
    Samples,          // both sample files
    MissingFolder,    // the folder does not exist
    RemovedWhenArmed, // both files, but the folder goes away once the port is armed
    OnlyResponse5,    // the folder lacks Respuesta4.TXT
    OnlyResponse4,    // the folder lacks Respuesta5.TXT
};

// What the first loader-sim does once the faulted run is over.
enum class SimAfter {
    Repeats,   // plays a second dialogue with the same fault, which ends as the first did
    Untouched, // never heard from the tool: the follow-up dump runs against it
    Complains, // ends with status 1 and the complaint in its log
    Vanished,  // closed the pseudo-terminal and ended by itself
    Listening, // sends nothing more; stopped by the test
};

QString placed(QString text, const QString& dumpPath, const QString& responses) {
    text.replace(QStringLiteral("%DUMP%"), dumpPath);
    text.replace(QStringLiteral("%RESP%"), responses);
    return text;
}

// The dialogue options of a loader-sim command line, without its faults.
QStringList withoutFaults(const QStringList& simArguments) {
    QStringList kept;
    for (qsizetype i = 0; i + 1 < simArguments.size(); ++i) {
        if (simArguments.at(i) == u"--mode" || simArguments.at(i) == u"--resp-line")
            kept << simArguments.at(i) << simArguments.at(i + 1);
    }
    return kept;
}

} // namespace

Q_DECLARE_METATYPE(Transfer)
Q_DECLARE_METATYPE(Responses)
Q_DECLARE_METATYPE(SimAfter)

// decodump-cli against loader-sim's faults, over the pseudo-terminal loader-sim serves: the exit
// status, what is reported, the records kept, and that the next dump after each fault succeeds.
class TestCliFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fault_data();
    void fault();

private:
    // Checks one run of a row against what was expected; fails the test otherwise.
    void checkRun(const CliRun& run, int status, const QStringList& messages);

    QByteArray m_image;
};

void TestCliFaults::initTestCase() {
    if (LoaderSimProcess::program().isEmpty())
        QSKIP("loader-sim is not built");
    if (!QFileInfo(cliProgram()).isExecutable())
        QSKIP("decodump-cli is not built");
    m_image = LoaderSimProcess::imageForSeed(Seed);
    QCOMPARE(m_image.size(), 2048 * BlockSize);
    QVERIFY(!LoaderSimProcess::sampleResponse(4).isEmpty());
    QVERIFY(!LoaderSimProcess::sampleResponse(5).isEmpty());
}

void TestCliFaults::fault_data() {
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QStringList>("cliArguments"); // besides port, range, output, responses
    QTest::addColumn<Responses>("responses");
    QTest::addColumn<QString>("outputName"); // relative to the scratch folder
    QTest::addColumn<bool>("terminal");      // standard error on a terminal
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("messages"); // %DUMP% and %RESP% stand for the paths
    QTest::addColumn<Transfer>("transfer");
    QTest::addColumn<SimAfter>("simAfter");
    QTest::addColumn<QString>("complaint"); // in the first loader-sim's log

    const QStringList respfile{"--mode", "respfile", "--resp-line", "2000"};
    const QStringList timeout2{"--timeout", "2"};
    const QStringList wait2{"--wait", "2"};
    const QString dump = QStringLiteral("dump.bin");

    QTest::newRow("surplus byte after block 5")
        << QStringList{"--fault-surplus", "5"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: blocks 2005, "} << Transfer::Served
        << SimAfter::Repeats << QString();
    QTest::newRow("surplus byte after block 5, terminal")
        << QStringList{"--fault-surplus", "5"} << QStringList{} << Responses::Samples << dump
        << true << 1 << QStringList{"Dump not verified: blocks 2005, "} << Transfer::Served
        << SimAfter::Repeats << QString();
    QTest::newRow("surplus byte after the first block")
        << QStringList{"--fault-surplus", "1"} << QStringList{} << Responses::Samples << dump
        << false << 1
        << QStringList{"Dump not verified: the loader's total did not match and blocks 2001, "}
        << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("surplus byte after the last block, taken as the total")
        << QStringList{"--fault-surplus", "16"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: the loader's total did not match; --verify "}
        << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("noise and a 1 MiB line before the dialogue, ack")
        << QStringList{"--noise", QString::number(NoiseLines), "--long-line",
                       QString::number(LongLine)}
        << QStringList{"-v"} << Responses::Samples << dump << false
        << 0
        // The long line runs into the first noise line; then the other noise lines and the
        // seven of the dialogue, each one marker.
        << QStringList{"\n" + QString(NoiseLines + 7, u'.') + "\n", "is not loader text"}
        << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("noise and a 1 MiB line before the dialogue, response files")
        << respfile + QStringList{"--noise", QString::number(NoiseLines), "--long-line",
                                  QString::number(LongLine)}
        << QStringList{"-v"} << Responses::Samples << dump << true << 0
        << QStringList{QString(NoiseLines + 1, u'.') + " Solicitando firmware...",
                       "is not loader text"}
        << Transfer::Served << SimAfter::Repeats << QString();
    // First contact: advice while the port waits for the loader, once each.
    QTest::newRow("silent loader, --wait")
        << QStringList{"--silent"} << QStringList{"--wait", "6"} << Responses::Samples << dump
        << false << 4
        << QStringList{"note: nothing has come from the loader in 5 s",
                       "error: timeout: waited 6 s for the loader to start a transfer",
                       "No transfer had started; nothing was written."}
        << Transfer::None << SimAfter::Listening << QString();
    QTest::newRow("binary garbage before the dialogue")
        << QStringList{"--garbage", "3000"} << QStringList{} << Responses::Samples << dump << true
        << 0 << QStringList{"note: what comes from", "is not loader text"} << Transfer::Served
        << SimAfter::Repeats << QString();
    QTest::newRow("a line longer than 2 KiB before the dialogue")
        << QStringList{"--long-line", "2100"} << QStringList{} << Responses::Samples << dump
        << false << 0 << QStringList{"note: what comes from", "is not loader text"}
        << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("missing response folder, found when the loader asks for a file")
        << respfile << QStringList{} << Responses::MissingFolder << dump << false << 3
        << QStringList{"error: the loader asked for a response file, but the folder %RESP% does "
                       "not exist",
                       "No transfer had started; nothing was written."}
        << Transfer::None << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    QTest::newRow("missing response folder, not needed by the keyword path")
        << QStringList{} << QStringList{} << Responses::MissingFolder << dump << false << 0
        << QStringList{"Summary: 16 of 16 blocks written"} << Transfer::Served << SimAfter::Repeats
        << QString();
    QTest::newRow("response folder gone once armed")
        << respfile << timeout2 << Responses::RemovedWhenArmed << dump << false << 3
        << QStringList{"error: the loader asked for a response file, but the folder %RESP% does "
                       "not exist",
                       "Port closed", "No transfer had started; nothing was written."}
        << Transfer::None << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    QTest::newRow("missing Respuesta4.TXT")
        << respfile << wait2 << Responses::OnlyResponse5 << dump << false << 4
        << QStringList{"Sent response file 4",
                       "error: timeout: waited 2 s for the loader to start a transfer",
                       "No transfer had started; nothing was written."}
        << Transfer::None << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    QTest::newRow("missing Respuesta4.TXT, terminal")
        << respfile << wait2 << Responses::OnlyResponse5 << dump << true << 4
        << QStringList{"error: timeout: waited 2 s for the loader to start a transfer",
                       "No transfer had started; nothing was written."}
        << Transfer::None << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    // The transfer starts with nothing sent for file 5; the loader rejects the block request
    // and goes away.
    QTest::newRow("missing Respuesta5.TXT")
        << respfile << timeout2 << Responses::OnlyResponse4 << dump << false << 4
        << QStringList{"Transfer started", "Stopped: %DUMP% keeps 0 of 16 records"}
        << Transfer::NoBlock << SimAfter::Complains << QString("expected response file 5");
    QTest::newRow("output path with spaces and non-ASCII letters")
        << QStringList{} << QStringList{} << Responses::Samples
        << QStringLiteral("salida con espacios ñandú/volcado Größe é 100%.bin") << false << 0
        << QStringList{} << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("bad sum at block 3")
        << QStringList{"--fault-bad-sum", "3"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: block 2002 failed its sum; --repair ", " reads it again."}
        << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("bad sum at the last block")
        << QStringList{"--fault-bad-sum", "16"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: block 2015 failed its sum; --repair "}
        << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("wrong total") << QStringList{"--fault-wrong-total"} << QStringList{}
                                 << Responses::Samples << dump << false << 1
                                 << QStringList{"the loader's total did not match"}
                                 << Transfer::Served << SimAfter::Repeats << QString();
    QTest::newRow("device gone after block 5")
        << QStringList{"--fault-vanish", "5"} << QStringList{} << Responses::Samples << dump << true
        << 4
        << QStringList{"error: lost the connection to", "Stopped: %DUMP% keeps 5 of 16 records; --resume"}
        << Transfer::Served << SimAfter::Vanished << QString();
    QTest::newRow("device gone after the last block")
        << QStringList{"--fault-vanish", "16"} << QStringList{} << Responses::Samples << dump
        << false << 4
        << QStringList{"error: lost the connection to", "Stopped: %DUMP% keeps 16 of 16 records; --verify"}
        << Transfer::Served << SimAfter::Vanished << QString();
    QTest::newRow("short frame at block 5")
        << QStringList{"--fault-short", "5"} << QStringList{"--timeout", "1"} << Responses::Samples
        << dump << false << 4
        << QStringList{"timeout: waited 1 s for block 5 of 16 (block number 2004)"}
        << Transfer::Served << SimAfter::Listening << QString();
    QTest::newRow("short first frame, terminal")
        << QStringList{"--fault-short", "1"} << QStringList{"--timeout", "1"} << Responses::Samples
        << dump << true << 4
        << QStringList{"timeout: waited 1 s for block 1 of 16 (block number 2000)",
                       "Stopped: %DUMP% keeps 0 of 16 records"}
        << Transfer::Served << SimAfter::Listening << QString();
    // Paced at the line's rate, the port rests while a frame is due: the faults that resting
    // could hide or delay.
    const QStringList paced{"--baud", "115200"};
    QTest::newRow("paced: surplus byte after block 5")
        << paced + QStringList{"--fault-surplus", "5"} << QStringList{} << Responses::Samples
        << dump << false << 1 << QStringList{"Dump not verified: blocks 2005, "} << Transfer::Served
        << SimAfter::Repeats << QString();
    QTest::newRow("paced: short frame at block 5")
        << paced + QStringList{"--fault-short", "5"} << QStringList{"--timeout", "1"}
        << Responses::Samples << dump << false << 4
        << QStringList{"timeout: waited 1 s for block 5 of 16 (block number 2004)"}
        << Transfer::Served << SimAfter::Listening << QString();
    QTest::newRow("paced: device gone in the middle of block 5")
        << paced + QStringList{"--fault-vanish-mid", "5"} << QStringList{} << Responses::Samples
        << dump << false << 4
        << QStringList{"error: lost the connection to", "Stopped: %DUMP% keeps 4 of 16 records"}
        << Transfer::Served << SimAfter::Vanished << QString();
    QTest::newRow("paced: loader stalls 300 ms inside block 5")
        << paced + QStringList{"--fault-stall", "5"} << QStringList{"--timeout", "1"}
        << Responses::Samples << dump << false << 0 << QStringList{"16 of 16 blocks written"}
        << Transfer::Served << SimAfter::Repeats << QString();
}

void TestCliFaults::checkRun(const CliRun& run, int status, const QStringList& messages) {
    QVERIFY2(run.ended, qPrintable(QStringLiteral("decodump-cli hung:\n") + run.errors));
    QVERIFY2(run.exitStatus == QProcess::NormalExit, qPrintable(run.errors));
    for (const QString& text : CrashTexts + WindowTexts)
        QVERIFY2(!run.errors.contains(text), qPrintable(run.errors));
    QVERIFY2(run.status == status, qPrintable(QStringLiteral("status %1, expected %2:\n%3")
                                                  .arg(run.status)
                                                  .arg(status)
                                                  .arg(run.errors)));
    for (const QString& message : messages)
        QVERIFY2(run.errors.contains(message),
                 qPrintable(QStringLiteral("missing \"%1\" in:\n%2").arg(message, run.errors)));
    // Advice on the first contact only where the row expects it, and then once.
    const bool advised = std::any_of(messages.begin(), messages.end(), [](const QString& message) {
        return message.contains(QStringLiteral("not loader text")) ||
               message.contains(QStringLiteral("nothing has come"));
    });
    QVERIFY2(run.errors.count(QStringLiteral("note: ")) == (advised ? 1 : 0),
             qPrintable(run.errors));
}

void TestCliFaults::fault() {
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, cliArguments);
    QFETCH(Responses, responses);
    QFETCH(QString, outputName);
    QFETCH(bool, terminal);
    QFETCH(int, status);
    QFETCH(QStringList, messages);
    QFETCH(Transfer, transfer);
    QFETCH(SimAfter, simAfter);
    QFETCH(QString, complaint);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString dumpPath = scratch.filePath(outputName);
    QVERIFY(QDir().mkpath(QFileInfo(dumpPath).absolutePath()));
    // Both loader-sims serve the same path, as a device unplugged and plugged in again.
    const QString device = scratch.filePath(QStringLiteral("ttyLOADER"));

    const QString responseFolder =
        scratch.filePath(responses == Responses::MissingFolder ? QStringLiteral("no such folder")
                                                               : QStringLiteral("Respuestas"));
    const auto placeResponses = [&] {
        return QDir().mkpath(responseFolder) &&
               writeFile(responseFolder + QStringLiteral("/Respuesta4.TXT"),
                         LoaderSimProcess::sampleResponse(4)) &&
               writeFile(responseFolder + QStringLiteral("/Respuesta5.TXT"),
                         LoaderSimProcess::sampleResponse(5));
    };
    if (responses != Responses::MissingFolder)
        QVERIFY(placeResponses());
    if (responses == Responses::OnlyResponse5)
        QVERIFY(QFile::remove(responseFolder + QStringLiteral("/Respuesta4.TXT")));
    if (responses == Responses::OnlyResponse4)
        QVERIFY(QFile::remove(responseFolder + QStringLiteral("/Respuesta5.TXT")));

    const QStringList dumpArguments{"--port", device, "--start", "2000",        "--count",
                                    "16",     "-o",   dumpPath,  "--responses", responseFolder};
    for (QString& message : messages)
        message = placed(message, dumpPath, responseFolder);
    const ExpectedReception reception =
        transfer == Transfer::Served
            ? ExpectedReception::of(m_image, FirstBlock, Count, simArguments)
            : ExpectedReception();
    if (transfer != Transfer::None)
        messages += summaryTexts(reception, dumpPath);

    auto sim = std::make_unique<LoaderSimProcess>();
    const QString record = sim->scratchPath(QStringLiteral("sent.rec"));
    const int sessions = simAfter == SimAfter::Repeats ? 2 : 1;
    QVERIFY(sim->start(simArguments + QStringList{"--seed", QString::number(Seed), "--link", device,
                                                  "--record", record, "--sessions",
                                                  QString::number(sessions)}));

    // The faulted run, and on a loader-sim that goes on with the same fault, the same again:
    // whatever the first run left on the line must not change the second.
    for (int pass = 1; pass <= sessions; ++pass) {
        const auto removeWhenArmed = [&](const QString& output) {
            if (responses == Responses::RemovedWhenArmed &&
                output.contains(u"Waiting for the loader") && QFileInfo::exists(responseFolder))
                QDir(responseFolder).removeRecursively();
        };
        const CliRun run = runCli(dumpArguments + cliArguments,
                                  {.onTerminal = terminal, .onOutput = removeWhenArmed});
        checkRun(run, status, messages);
        if (QTest::currentTestFailed())
            return;
        // On a terminal the progress is a bar on the status line.
        if (terminal && transfer != Transfer::None)
            QVERIFY2(run.errors.contains(ProgressBar), qPrintable(run.errors));
        // A limit given ends the run in its time, give or take the slack of a loaded machine.
        for (const char* limit : {"--timeout", "--wait"}) {
            const qsizetype at = cliArguments.indexOf(QLatin1String(limit));
            if (at >= 0)
                VERIFY_FIGURE(run.elapsedMs <
                                  cliArguments.at(at + 1).toInt() * 1000 + TimeoutRunSlackMs,
                              qPrintable(QString::number(run.elapsedMs)));
        }
        if (transfer != Transfer::None)
            QVERIFY(readFile(dumpPath) == reception.records);
        else
            QVERIFY(!QFileInfo::exists(dumpPath));
        if (pass == 1)
            qInfo("%s: status %d in %lld ms", QTest::currentDataTag(), run.status, run.elapsedMs);
    }

    // Nothing but break-in bytes went out for a response file that was missing.
    if (responses == Responses::OnlyResponse5) {
        QCOMPARE(QFileInfo(responseFolder + QStringLiteral("/Respuesta4.TXT")).size(), 0);
        QCOMPARE(withoutBreakIns(readFile(record)), QByteArray());
    }
    if (responses == Responses::OnlyResponse4)
        QCOMPARE(QFileInfo(responseFolder + QStringLiteral("/Respuesta5.TXT")).size(), 0);

    switch (simAfter) {
    case SimAfter::Repeats:
    case SimAfter::Vanished:
        QCOMPARE(sim->waitForExit(), 0);
        break;
    case SimAfter::Untouched:
        QCOMPARE(readFile(record), QByteArray()); // the port was never opened
        break;
    case SimAfter::Complains:
        QCOMPARE(sim->waitForExit(), 1);
        QVERIFY2(sim->log().contains(complaint.toUtf8()), sim->log().constData());
        break;
    case SimAfter::Listening:
        sim->terminate();
        QVERIFY(sim->waitForExit() != 0);
        break;
    }

    // The next dump succeeds and replaces the file: against the same loader-sim when it never
    // took part, else against a fresh one without the fault on the same device path.
    if (simAfter != SimAfter::Untouched) {
        sim = std::make_unique<LoaderSimProcess>();
        QVERIFY(sim->start(withoutFaults(simArguments) +
                           QStringList{"--seed", QString::number(Seed), "--link", device}));
    }
    QVERIFY(placeResponses());
    const ExpectedReception clean = ExpectedReception::of(m_image, FirstBlock, Count, {});
    const QByteArray left = readFile(dumpPath);
    const CliRun next = runCli(dumpArguments);
    checkRun(next, 0, summaryTexts(clean, dumpPath));
    QVERIFY(readFile(dumpPath) == clean.records);
    // Whatever the faulted run left is kept whole beside the new dump, under the name printed.
    const QString keptAs =
        QStringLiteral("Kept the file that was at %1 before this run as ").arg(dumpPath);
    const qsizetype at = next.errors.indexOf(keptAs);
    QCOMPARE(at >= 0, !left.isEmpty());
    if (at >= 0)
        QVERIFY(readFile(next.errors.mid(at + keptAs.size()).section(u'\n', 0, 0)) == left);
    QCOMPARE(sim->waitForExit(), 0);
}

QTEST_MAIN(TestCliFaults)
#include "tst_cli_faults.moc"
