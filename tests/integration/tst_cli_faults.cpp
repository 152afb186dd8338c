#include "eventwait.h"
#include "loadersimprocess.h"
#include "processstats.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>

namespace {

constexpr int Seed = 5;
constexpr int BlockSize = 1024;
constexpr int FrameSize = 1032;
constexpr int FirstBlock = 2000;
constexpr int Count = 16;
constexpr char BreakIn = 31;
constexpr int RunTimeoutMs = 30000;
constexpr int LongLine = 1048576;
constexpr int NoiseLines = 50;
// What a run with --timeout or --wait may take beyond its limit before it counts as hung.
constexpr qint64 TimeoutRunSlackMs = 6000;

const QRegularExpression ProgressBar(QStringLiteral("\\[[#-]{20}\\] \\d+/16 blocks"));

const QByteArray Fillers = "\xF1\xF2\xF3\xF4\xF5\xF6\xF7";
constexpr char SurplusByte = '\xA5';
constexpr int ShortFrameBytes = 500;

// Texts that only a crash, an abort or a sanitizer leaves on standard error.
const QStringList CrashTexts{
    "AddressSanitizer", "LeakSanitizer",      "runtime error:", "terminate called",
    "Aborted",          "Segmentation fault", "ASSERT"};
// The window's messages, which the command line words in its own language.
const QStringList WindowTexts{"CRC No Ok", "Descarga finalizada", "El total", "Se ha perdido",
                              "El dispositivo"};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray withoutBreakIns(QByteArray bytes) {
    bytes.removeIf([](char c) { return c == BreakIn; });
    return bytes;
}

quint8 byteSum(const QByteArray& bytes) {
    quint8 sum = 0;
    for (const char byte : bytes)
        sum = static_cast<quint8>(sum + static_cast<quint8>(byte));
    return sum;
}

QString hexByte(int value) {
    return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0'));
}

// What loader-sim does wrong in a row, as far as the bytes it sends are concerned.
struct FaultPlan {
    int badSumAt = 0;     // --fault-bad-sum K
    int surplusAfter = 0; // --fault-surplus K
    int shortAt = 0;      // --fault-short K: frames before K arrive whole, K only in part
    int vanishAfter = 0;  // --fault-vanish K
    bool wrongTotal = false;
};

// What the tool makes of the loader's bytes, worked out here from the flash image: frames are
// told apart by count alone, so a surplus byte shifts every later frame and, after the last
// block, stands in for the total.
struct Reception {
    bool transferStarted = false;
    QByteArray dump; // the records as the tool must have written them
    QList<int> badSums;
    QStringList badSumWarnings; // one for each bad sum, as the block arrives
    bool totalReceived = false;
    int loaderTotal = 0;
    int computedTotal = 0;

    // The summary pieces decodump-cli prints for this reception.
    QStringList summaryTexts(const QString& dumpPath) const {
        if (!transferStarted)
            return {};
        QStringList texts = badSumWarnings;
        texts << QStringLiteral("Summary: %1 of %2 blocks written to %3")
                     .arg(dump.size() / BlockSize)
                     .arg(Count)
                     .arg(dumpPath);
        if (badSums.isEmpty()) {
            texts.append(QStringLiteral(", no bad sums;"));
        } else {
            QStringList numbers;
            for (const int block : badSums)
                numbers.append(QString::number(block));
            texts.append(
                QStringLiteral("%1 with a bad sum (%2 %3)")
                    .arg(badSums.size())
                    .arg(badSums.size() == 1 ? QStringLiteral("block") : QStringLiteral("blocks"))
                    .arg(numbers.join(QStringLiteral(", "))));
        }
        texts.append(totalReceived
                         ? QStringLiteral("total loader %1, computed %2 (%3)")
                               .arg(hexByte(loaderTotal), hexByte(computedTotal),
                                    loaderTotal == computedTotal ? QStringLiteral("match")
                                                                 : QStringLiteral("MISMATCH"))
                         : QStringLiteral("no total received"));
        return texts;
    }
};

Reception receive(const QByteArray& image, const FaultPlan& plan) {
    QByteArray stream;
    int wholeFrames = Count;
    if (plan.shortAt > 0)
        wholeFrames = plan.shortAt - 1;
    if (plan.vanishAfter > 0)
        wholeFrames = plan.vanishAfter;
    int servedTotal = 0;
    for (int k = 1; k <= wholeFrames; ++k) {
        const QByteArray data = image.mid((FirstBlock + k - 1) * BlockSize, BlockSize);
        const quint8 sum = byteSum(data);
        servedTotal += sum;
        stream += data;
        stream += static_cast<char>(k == plan.badSumAt ? sum + 1 : sum);
        stream += Fillers;
        if (k == plan.surplusAfter)
            stream += SurplusByte;
    }

    Reception reception;
    reception.transferStarted = true;
    quint8 computed = 0;
    for (int k = 1; k <= wholeFrames; ++k) {
        const QByteArray frame = stream.mid((k - 1) * FrameSize, FrameSize);
        const QByteArray data = frame.left(BlockSize);
        reception.dump += data;
        computed = static_cast<quint8>(computed + byteSum(data));
        if (byteSum(data) != static_cast<quint8>(frame.at(BlockSize))) {
            reception.badSums.append(FirstBlock + k - 1);
            reception.badSumWarnings.append(
                QStringLiteral("warning: block %1: sum %2, expected %3\n")
                    .arg(FirstBlock + k - 1)
                    .arg(hexByte(byteSum(data)),
                         hexByte(static_cast<quint8>(frame.at(BlockSize)))));
        }
    }
    if (wholeFrames == Count && plan.vanishAfter == 0) {
        const QByteArray left = stream.mid(Count * FrameSize);
        const int loaderTotal = (servedTotal + (plan.wrongTotal ? 1 : 0)) % 256;
        reception.totalReceived = true;
        reception.loaderTotal = left.isEmpty() ? loaderTotal : static_cast<quint8>(left.at(0));
        reception.computedTotal = computed;
    }
    return reception;
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

struct CliRun {
    bool ended = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int status = -1;
    QString errors; // standard error, with the terminal's line redraws taken out
    qint64 elapsedMs = 0;
};

// decodump-cli's standard error on a pseudo-terminal of the test's own, read as it comes so the
// program never blocks on a full terminal.
class TerminalCapture {
public:
    TerminalCapture() {
        winsize size{};
        size.ws_col = 100;
        size.ws_row = 30;
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, &size) != 0)
            return;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        // Only the standard error the child is given may stay open in it.
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [this] { drain(); });
    }
    ~TerminalCapture() {
        m_notifier.reset();
        closeSlave();
        if (m_master >= 0)
            ::close(m_master);
    }
    TerminalCapture(const TerminalCapture&) = delete;
    TerminalCapture& operator=(const TerminalCapture&) = delete;

    bool ok() const { return m_master >= 0; }
    int slave() const { return m_slave; }
    // Once the child holds the terminal, the test's copy of its end must go: the master then
    // sees the end of the output when the child exits.
    void closeSlave() {
        if (m_slave >= 0)
            ::close(m_slave);
        m_slave = -1;
    }
    void drain() {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got > 0) {
                m_bytes.append(buffer, got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0 || errno != EAGAIN)
                m_notifier->setEnabled(false); // EIO: the child's end has closed
            return;
        }
    }
    QByteArray bytes() const { return m_bytes; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_bytes;
};

// Runs decodump-cli to its end, its standard error on a pipe or on a terminal. onOutput sees the
// output so far while the program runs.
CliRun runCli(const QStringList& arguments, bool onTerminal,
              const std::function<void(const QString&)>& onOutput = {}) {
    CliRun run;
    QProcess process;
    TerminalCapture terminal;
    if (onTerminal) {
        if (!terminal.ok()) {
            run.errors = QStringLiteral("no pseudo-terminal for standard error");
            return run;
        }
        const int slave = terminal.slave();
        process.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    }
    QByteArray piped;
    const auto output = [&] {
        piped += process.readAllStandardError();
        if (onTerminal)
            terminal.drain();
        return QString::fromUtf8(onTerminal ? terminal.bytes() : piped);
    };

    QElapsedTimer clock;
    clock.start();
    process.start(cliProgram(), arguments);
    terminal.closeSlave();
    run.ended = waitFor(
        [&] {
            if (onOutput)
                onOutput(output());
            return process.state() == QProcess::NotRunning;
        },
        RunTimeoutMs);
    run.elapsedMs = clock.elapsed();
    if (!run.ended) {
        process.kill();
        process.waitForFinished();
    }
    QString text = output();
    run.exitStatus = process.exitStatus();
    run.status = process.exitCode();
    if (onTerminal) {
        text.remove(QStringLiteral("\r\033[K"));
        text.remove(QLatin1Char('\r'));
    }
    run.errors = text;
    return run;
}

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

Q_DECLARE_METATYPE(Reception)
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
    QTest::addColumn<Reception>("reception");
    QTest::addColumn<SimAfter>("simAfter");
    QTest::addColumn<QString>("complaint"); // in the first loader-sim's log

    const QStringList respfile{"--mode", "respfile", "--resp-line", "2000"};
    const QStringList timeout2{"--timeout", "2"};
    const QStringList wait2{"--wait", "2"};
    const QString dump = QStringLiteral("dump.bin");
    const Reception clean = receive(m_image, {});
    const Reception nothing;
    Reception noBlock;
    noBlock.transferStarted = true;

    QTest::newRow("surplus byte after block 5")
        << QStringList{"--fault-surplus", "5"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: blocks 2005, "}
        << receive(m_image, {.surplusAfter = 5}) << SimAfter::Repeats << QString();
    QTest::newRow("surplus byte after block 5, terminal")
        << QStringList{"--fault-surplus", "5"} << QStringList{} << Responses::Samples << dump
        << true << 1 << QStringList{"Dump not verified: blocks 2005, "}
        << receive(m_image, {.surplusAfter = 5}) << SimAfter::Repeats << QString();
    QTest::newRow("surplus byte after the first block")
        << QStringList{"--fault-surplus", "1"} << QStringList{} << Responses::Samples << dump
        << false << 1
        << QStringList{"Dump not verified: the loader's total did not match and blocks 2001, "}
        << receive(m_image, {.surplusAfter = 1}) << SimAfter::Repeats << QString();
    QTest::newRow("surplus byte after the last block, taken as the total")
        << QStringList{"--fault-surplus", "16"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: the loader's total did not match."}
        << receive(m_image, {.surplusAfter = 16}) << SimAfter::Repeats << QString();
    QTest::newRow("noise and a 1 MiB line before the dialogue, ack")
        << QStringList{"--noise", QString::number(NoiseLines), "--long-line",
                       QString::number(LongLine)}
        << QStringList{} << Responses::Samples << dump << false
        << 0
        // The long line runs into the first noise line; then the other noise lines and the
        // seven of the dialogue, each one marker.
        << QStringList{"\n" + QString(NoiseLines + 7, u'.') + "\n", "is not loader text"} << clean
        << SimAfter::Repeats << QString();
    QTest::newRow("noise and a 1 MiB line before the dialogue, response files")
        << respfile + QStringList{"--noise", QString::number(NoiseLines), "--long-line",
                                  QString::number(LongLine)}
        << QStringList{} << Responses::Samples << dump << true << 0
        << QStringList{QString(NoiseLines + 1, u'.') + " Solicitando firmware...",
                       "is not loader text"}
        << clean << SimAfter::Repeats << QString();
    // First contact: advice while the port waits for the loader, once each.
    QTest::newRow("silent loader, --wait")
        << QStringList{"--silent"} << QStringList{"--wait", "6"} << Responses::Samples << dump
        << false << 4
        << QStringList{"note: nothing has come from the loader in 5 s",
                       "error: timeout: waited 6 s for the loader to start a transfer",
                       "No transfer had started; nothing was written."}
        << nothing << SimAfter::Listening << QString();
    QTest::newRow("binary garbage before the dialogue")
        << QStringList{"--garbage", "3000"} << QStringList{} << Responses::Samples << dump << true
        << 0 << QStringList{"note: what comes from", "is not loader text"} << clean
        << SimAfter::Repeats << QString();
    QTest::newRow("a line longer than 2 KiB before the dialogue")
        << QStringList{"--long-line", "2100"} << QStringList{} << Responses::Samples << dump
        << false << 0 << QStringList{"note: what comes from", "is not loader text"} << clean
        << SimAfter::Repeats << QString();
    QTest::newRow("missing response folder, found when the loader asks for a file")
        << respfile << QStringList{} << Responses::MissingFolder << dump << false << 3
        << QStringList{"error: the loader asked for a response file, but the folder %RESP% does "
                       "not exist",
                       "No transfer had started; nothing was written."}
        << nothing << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    QTest::newRow("missing response folder, not needed by the keyword path")
        << QStringList{} << QStringList{} << Responses::MissingFolder << dump << false << 0
        << QStringList{"Summary: 16 of 16 blocks written"} << clean << SimAfter::Repeats
        << QString();
    QTest::newRow("response folder gone once armed")
        << respfile << timeout2 << Responses::RemovedWhenArmed << dump << false << 3
        << QStringList{"error: the loader asked for a response file, but the folder %RESP% does "
                       "not exist",
                       "Puerto COM cerrado.", "No transfer had started; nothing was written."}
        << nothing << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    QTest::newRow("missing Respuesta4.TXT")
        << respfile << wait2 << Responses::OnlyResponse5 << dump << false << 4
        << QStringList{". Solicitando firmware...",
                       "error: timeout: waited 2 s for the loader to start a transfer",
                       "No transfer had started; nothing was written."}
        << nothing << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    QTest::newRow("missing Respuesta4.TXT, terminal")
        << respfile << wait2 << Responses::OnlyResponse5 << dump << true << 4
        << QStringList{"error: timeout: waited 2 s for the loader to start a transfer",
                       "No transfer had started; nothing was written."}
        << nothing << SimAfter::Complains
        << QString("the tool closed the port while expecting response file 4");
    // The transfer starts with nothing sent for file 5; the loader rejects the block request
    // and goes away.
    QTest::newRow("missing Respuesta5.TXT")
        << respfile << timeout2 << Responses::OnlyResponse4 << dump << false << 4
        << QStringList{"RECIBIENDO DATOS", "Stopped: %DUMP% keeps 0 of 16 records"} << noBlock
        << SimAfter::Complains << QString("expected response file 5");
    QTest::newRow("output path with spaces and non-ASCII letters")
        << QStringList{} << QStringList{} << Responses::Samples
        << QStringLiteral("salida con espacios ñandú/volcado Größe é 100%.bin") << false << 0
        << QStringList{} << clean << SimAfter::Repeats << QString();
    QTest::newRow("bad sum at block 3")
        << QStringList{"--fault-bad-sum", "3"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: block 2002 failed its sum."}
        << receive(m_image, {.badSumAt = 3}) << SimAfter::Repeats << QString();
    QTest::newRow("bad sum at the last block")
        << QStringList{"--fault-bad-sum", "16"} << QStringList{} << Responses::Samples << dump
        << false << 1 << QStringList{"Dump not verified: block 2015 failed its sum."}
        << receive(m_image, {.badSumAt = 16}) << SimAfter::Repeats << QString();
    QTest::newRow("wrong total") << QStringList{"--fault-wrong-total"} << QStringList{}
                                 << Responses::Samples << dump << false << 1
                                 << QStringList{"the loader's total did not match"}
                                 << receive(m_image, {.wrongTotal = true}) << SimAfter::Repeats
                                 << QString();
    QTest::newRow("device gone after block 5")
        << QStringList{"--fault-vanish", "5"} << QStringList{} << Responses::Samples << dump << true
        << 4
        << QStringList{"error: lost the connection to", "Stopped: %DUMP% keeps 5 of 16 records"}
        << receive(m_image, {.vanishAfter = 5}) << SimAfter::Vanished << QString();
    QTest::newRow("device gone after the last block")
        << QStringList{"--fault-vanish", "16"} << QStringList{} << Responses::Samples << dump
        << false << 4
        << QStringList{"error: lost the connection to", "Stopped: %DUMP% keeps 16 of 16 records"}
        << receive(m_image, {.vanishAfter = 16}) << SimAfter::Vanished << QString();
    QTest::newRow("short frame at block 5")
        << QStringList{"--fault-short", "5"} << QStringList{"--timeout", "1"} << Responses::Samples
        << dump << false << 4
        << QStringList{"timeout: waited 1 s for block 5 of 16 (block number 2004)"}
        << receive(m_image, {.shortAt = 5}) << SimAfter::Listening << QString();
    QTest::newRow("short first frame, terminal")
        << QStringList{"--fault-short", "1"} << QStringList{"--timeout", "1"} << Responses::Samples
        << dump << true << 4
        << QStringList{"timeout: waited 1 s for block 1 of 16 (block number 2000)",
                       "Stopped: %DUMP% keeps 0 of 16 records"}
        << receive(m_image, {.shortAt = 1}) << SimAfter::Listening << QString();
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
    QFETCH(Reception, reception);
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
    messages += reception.summaryTexts(dumpPath);

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
            if (responses == Responses::RemovedWhenArmed && output.contains(u"En espera") &&
                QFileInfo::exists(responseFolder))
                QDir(responseFolder).removeRecursively();
        };
        const CliRun run = runCli(dumpArguments + cliArguments, terminal, removeWhenArmed);
        checkRun(run, status, messages);
        if (QTest::currentTestFailed())
            return;
        // On a terminal the progress is a bar on the status line.
        if (terminal && reception.transferStarted)
            QVERIFY2(run.errors.contains(ProgressBar), qPrintable(run.errors));
        // A limit given ends the run in its time, give or take the slack of a loaded machine.
        for (const char* limit : {"--timeout", "--wait"}) {
            const qsizetype at = cliArguments.indexOf(QLatin1String(limit));
            if (at >= 0)
                VERIFY_FIGURE(run.elapsedMs <
                                  cliArguments.at(at + 1).toInt() * 1000 + TimeoutRunSlackMs,
                              qPrintable(QString::number(run.elapsedMs)));
        }
        if (reception.transferStarted)
            QVERIFY(readFile(dumpPath) == reception.dump);
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
    const Reception clean = receive(m_image, {});
    const CliRun next = runCli(dumpArguments, false);
    checkRun(next, 0, clean.summaryTexts(dumpPath));
    QVERIFY(readFile(dumpPath) == clean.dump);
    QCOMPARE(sim->waitForExit(), 0);
}

QTEST_MAIN(TestCliFaults)
#include "tst_cli_faults.moc"
