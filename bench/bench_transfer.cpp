// Prints how fast a dump runs over a pseudo-terminal against loader-sim, and what it costs:
//   (a) the whole 2048-block flash, unpaced, through decodump-cli's session: wall, CPU, MB/s;
//   (b) 64 blocks paced at 115200 baud through the window (offscreen, shown) and through
//       decodump-cli's session, in turns: wall time against the line-rate limit, CPU share, and
//       the medians of both side by side;
//   (c) 256 blocks paced at 115200 baud in 16-byte pieces (a UART FIFO's rhythm) through
//       decodump-cli's session and through a plain select()-based client (select_client.py),
//       best of two each: CPU, wake-ups per frame (reads of what the line handed over) and the
//       pace against the line-rate limit;
//   (d) the break-in beat of both on a pseudo-terminal where nothing answers.
// Every paced run also counts the wake-ups per frame: the deliveries of received bytes.
#include "clidump.h"
#include "clioptions.h"
#include "console.h"
#include "dumpsession.h"
#include "eventwait.h"
#include "loadersimprocess.h"
#include "portlist.h"
#include "portsession.h"
#include "qtcommcontrol.h"
#include "recordingwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int Baud = 115200;
constexpr int PacedRounds = 3;
constexpr int BeatIntervals = 10;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Where the command line's session prints: nowhere.
int discarded() {
    static const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd;
}

QString responsesFolder() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/Respuestas");
}

struct Run {
    bool ok = false;
    double wall = 0;
    double cpu = 0;
    int wakeups = 0; // deliveries of received bytes during the transfer
};

// Times one transfer through a port session: from its start to the end of the dialogue.
class Stopwatch {
public:
    Stopwatch(PortSession& session, CommControl& port) {
        QObject::connect(&session, &PortSession::transferStarted, &session, [this] {
            m_clock.start();
            m_startCpu = cpuSeconds();
            m_counting = true;
        });
        QObject::connect(&port, &CommControl::bytesArrived, &session, [this] {
            if (m_counting)
                ++m_run.wakeups;
        });
        QObject::connect(&session, &PortSession::dialogueEnded, &session,
                         [this](const TransferSummary& summary) {
                             m_run.wall = double(m_clock.nsecsElapsed()) / 1e9;
                             m_run.cpu = cpuSeconds() - m_startCpu;
                             m_run.ok = summary.outcome == TransferSummary::Outcome::Completed &&
                                        summary.totalMatched() && summary.badSumBlocks.isEmpty();
                             m_ended = true;
                             m_counting = false;
                             m_loop.quit();
                         });
    }
    // Runs the event loop until the dialogue ends. Not a polling wait: a check timer's wake-ups
    // would be counted as the transfer's CPU.
    Run wait(int timeoutMs) {
        if (!m_ended) {
            QTimer::singleShot(timeoutMs, &m_loop, &QEventLoop::quit);
            m_loop.exec();
        }
        return m_run;
    }

private:
    QElapsedTimer m_clock;
    double m_startCpu = 0;
    Run m_run;
    bool m_ended = false;
    bool m_counting = false;
    QEventLoop m_loop;
};

CliOptions cliOptions(const QString& device, const QString& first, const QString& count,
                      const QString& output) {
    CliOptions options;
    options.action = CliOptions::Action::Dump;
    options.port = device;
    options.firstBlockText = first;
    options.blockCountText = count;
    options.outputPath = output;
    options.responsesFolder = responsesFolder();
    options.quiet = true;
    return options;
}

// decodump-cli's session, its terminal output thrown away.
Run cliDump(const QString& device, const QString& first, const QString& count) {
    QTemporaryDir dir;
    const CliOptions options = cliOptions(device, first, count, dir.filePath("dump.bin"));
    const CliDump dump = CliDump::prepare(options);
    Console console(discarded());
    QtCommControl port;
    DumpSession session(options, dump, port, console);
    Stopwatch stopwatch(*session.findChild<PortSession*>(), port);
    if (!dump.ok() || !session.start())
        return {};
    return stopwatch.wait(600000);
}

// Counts the paint events each widget of the window receives, named by the nearest object name.
class PaintCounter : public QObject {
public:
    std::map<QString, int> paints;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QObject* named = watched;
            while (named && named->objectName().isEmpty())
                named = named->parent();
            ++paints[named ? named->objectName() : QStringLiteral("?")];
        }
        return false;
    }
};

// The paints of the last window dump, from its start to its end.
std::map<QString, int> lastWindowPaints;

// The window, shown offscreen, as the operator drives it: the free preset, then COM1.
Run windowDump(const QString& device, const QString& first, const QString& count) {
    qputenv("DECODUMP_COM1", device.toLocal8Bit());
    QTemporaryDir dir;
    QtCommControl port;
    RecordingWindow window(port);
    window.setResponsesFolder(responsesFolder());
    window.Opt_Descargar[4]->click();
    window.Txt_Start_Block->setText(first);
    window.Txt_Blocks->setText(count);
    window.Txt_Path->setText(dir.path());
    window.show();
    Stopwatch stopwatch(*window.findChild<PortSession*>(), port);
    PaintCounter counter;
    QObject::connect(window.findChild<PortSession*>(), &PortSession::transferStarted, &counter,
                     [&] { qApp->installEventFilter(&counter); });
    window.Com_Puerto->setCurrentIndex(1);
    if (!port.PortOpen())
        return {};
    const Run run = stopwatch.wait(600000);
    qApp->removeEventFilter(&counter);
    lastWindowPaints = counter.paints;
    return run;
}

// The plain select()-based client beside this program, run on its own.
Run selectClientDump(const QString& device, const QString& first, const QString& count) {
    QProcess client;
    client.start(QStringLiteral("python3"),
                 {QCoreApplication::applicationDirPath() + QStringLiteral("/select_client.py"),
                  device, first, count});
    if (!client.waitForFinished(600000))
        return {};
    const QList<QByteArray> words = client.readAllStandardOutput().trimmed().split(' ');
    if (client.exitCode() != 0 || words.size() != 4 || words.at(0) != "ok") {
        std::fprintf(stderr, "select_client.py: %s\n", words.join(' ').constData());
        return {};
    }
    return {true, words.at(1).toDouble(), words.at(2).toDouble(), words.at(3).toInt()};
}

using Dumper = std::function<Run(const QString&, const QString&, const QString&)>;

Run dumpAgainstSim(const Dumper& dumper, const QStringList& simArguments, const QString& first,
                   const QString& count) {
    LoaderSimProcess sim;
    if (!sim.start(simArguments + QStringList{QStringLiteral("--seed"), QStringLiteral("3"),
                                              QStringLiteral("--quiet")})) {
        std::fprintf(stderr, "loader-sim did not start\n");
        return {};
    }
    const Run run = dumper(sim.devicePath(), first, count);
    if (!run.ok)
        std::fprintf(stderr, "the dump did not complete cleanly\n%s\n", sim.log().constData());
    sim.waitForExit(5000);
    return run;
}

// The loader's end of a pseudo-terminal that never answers: when each break-in byte came.
class SilentLine {
public:
    SilentLine() {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_clock.start();
        m_reader = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_reader.get(), &QSocketNotifier::activated, m_reader.get(), [this] {
            char buffer[256];
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            for (ssize_t i = 0; i < got; ++i) {
                if (buffer[i] == 31)
                    m_arrivals.push_back(double(m_clock.nsecsElapsed()) / 1e6);
            }
        });
    }
    ~SilentLine() {
        m_reader.reset();
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }
    SilentLine(const SilentLine&) = delete;
    SilentLine& operator=(const SilentLine&) = delete;

    QString device() const {
        return m_slave >= 0 ? QFile::decodeName(::ttyname(m_slave)) : QString();
    }
    // The gaps between break-ins once `count` of them have come, in ms.
    std::vector<double> intervals(int count) {
        waitFor([&] { return int(m_arrivals.size()) > count; }, (count + 2) * 600);
        std::vector<double> gaps;
        for (size_t i = 1; i < m_arrivals.size() && int(gaps.size()) < count; ++i)
            gaps.push_back(m_arrivals[i] - m_arrivals[i - 1]);
        return gaps;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QElapsedTimer m_clock;
    std::unique_ptr<QSocketNotifier> m_reader;
    std::vector<double> m_arrivals;
};

void printBeat(const char* who, const std::vector<double>& gaps) {
    if (gaps.empty()) {
        std::printf("    %-6s no break-in came\n", who);
        return;
    }
    const auto [low, high] = std::minmax_element(gaps.begin(), gaps.end());
    std::printf("    %-6s %zu intervals: min %.2f ms, median %.2f ms, max %.2f ms\n", who,
                gaps.size(), *low, median(gaps), *high);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (LoaderSimProcess::program().isEmpty())
        qputenv("LOADER_SIM",
                (QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/loader-sim"))
                    .toLocal8Bit());

    const Run full = dumpAgainstSim(cliDump, {}, QStringLiteral("0000"), QStringLiteral("2048"));
    if (!full.ok)
        return 1;
    const double megabytes = 2048.0 * 1024 / (1024 * 1024);
    std::printf(
        "(a) 2048 blocks unpaced: wall %.3f s, CPU %.3f s, %.1f MB/s (target: wall < 1 s)\n",
        full.wall, full.cpu, megabytes / full.wall);

    // The loader's bytes alone set the limit: 64 frames and the total byte.
    const qint64 loaderBytes = 64 * 1032 + 1;
    const double limit = double(loaderBytes) * 10 / Baud;
    std::printf("(b) 64 blocks at %d baud; line-rate limit %.3f s for the %lld bytes the loader "
                "sends (targets: within 1%%, CPU < 3%%)\n",
                Baud, limit, static_cast<long long>(loaderBytes));
    const QStringList paced{QStringLiteral("--baud"), QString::number(Baud)};
    std::vector<double> windowWalls;
    std::vector<double> cliWalls;
    std::vector<double> windowCpuPerBlock;
    for (int round = 1; round <= PacedRounds; ++round) {
        for (const bool window : {true, false}) {
            const Run run = dumpAgainstSim(window ? Dumper(windowDump) : Dumper(cliDump), paced,
                                           QStringLiteral("1984"), QStringLiteral("0064"));
            if (!run.ok)
                return 1;
            (window ? windowWalls : cliWalls).push_back(run.wall);
            std::printf("    %-6s wall %.3f s (%+.2f%%), CPU %.3f s = %.2f%% of one core, "
                        "%.2f ms a block, %.1f wake-ups a frame\n",
                        window ? "window" : "cli", run.wall, 100.0 * (run.wall - limit) / limit,
                        run.cpu, 100.0 * run.cpu / run.wall, 1000.0 * run.cpu / 64,
                        run.wakeups / 64.0);
            if (window) {
                windowCpuPerBlock.push_back(run.cpu / 64);
                std::printf("           paints a block:");
                for (const auto& [name, count] : lastWindowPaints)
                    std::printf(" %s %.2f", qPrintable(name), count / 64.0);
                std::printf("\n");
            }
        }
    }
    const double windowMedian = median(windowWalls);
    const double cliMedian = median(cliWalls);
    std::printf("    medians of %d: window %.3f s (%+.2f%%), cli %.3f s (%+.2f%%); the window "
                "takes %+.2f%% of the cli's time (target: within 0.3%%)\n",
                PacedRounds, windowMedian, 100.0 * (windowMedian - limit) / limit, cliMedian,
                100.0 * (cliMedian - limit) / limit,
                100.0 * (windowMedian - cliMedian) / cliMedian);

    // (c) A longer paced dump in a UART's rhythm, against a plain client.
    constexpr int LongCount = 256;
    const double longLimit = double(qint64(LongCount) * 1032 + 1) * 10 / Baud;
    std::printf("(c) %d blocks at %d baud in 16-byte pieces; line-rate limit %.3f s (targets: cli "
                "CPU at most 0.4x the client's, pace at most 1.008x)\n",
                LongCount, Baud, longLimit);
    const QStringList fifo{QStringLiteral("--baud"), QString::number(Baud),
                           QStringLiteral("--piece"), QStringLiteral("16")};
    Run bestCli;
    Run bestClient;
    for (int round = 1; round <= 2; ++round) {
        for (const bool client : {false, true}) {
            const Run run =
                dumpAgainstSim(client ? Dumper(selectClientDump) : Dumper(cliDump), fifo,
                               QStringLiteral("1792"), QString::number(LongCount));
            if (!run.ok)
                return 1;
            std::printf("    %-6s wall %.3f s (%.4fx), CPU %.3f s, %.2f ms a block, %.1f "
                        "wake-ups a frame\n",
                        client ? "client" : "cli", run.wall, run.wall / longLimit, run.cpu,
                        1000.0 * run.cpu / LongCount, run.wakeups / double(LongCount));
            Run& best = client ? bestClient : bestCli;
            if (!best.ok || run.cpu < best.cpu)
                best = run;
        }
    }
    std::printf("    best of 2: cli CPU %.3f s = %.2fx the client's %.3f s; window %.2f ms a "
                "block (median of (b)) against the client's %.2f ms\n",
                bestCli.cpu, bestCli.cpu / bestClient.cpu, bestClient.cpu,
                1000.0 * median(windowCpuPerBlock), 1000.0 * bestClient.cpu / LongCount);

    std::printf("(d) break-in beat, nothing answering (target: 490 to 510 ms)\n");
    {
        SilentLine line;
        qputenv("DECODUMP_COM1", line.device().toLocal8Bit());
        QTemporaryDir dir;
        QtCommControl port;
        RecordingWindow window(port);
        window.Txt_Path->setText(dir.path());
        window.show();
        window.Com_Puerto->setCurrentIndex(1);
        printBeat("window", line.intervals(BeatIntervals));
    }
    {
        SilentLine line;
        QTemporaryDir dir;
        const CliOptions options = cliOptions(line.device(), QStringLiteral("1984"),
                                              QStringLiteral("0064"), dir.filePath("dump.bin"));
        const CliDump dump = CliDump::prepare(options);
        Console console(discarded());
        QtCommControl port;
        DumpSession session(options, dump, port, console);
        if (dump.ok() && session.start())
            printBeat("cli", line.intervals(BeatIntervals));
    }
    return 0;
}
