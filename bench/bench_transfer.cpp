// Prints how fast a dump runs over a pseudo-terminal against loader-sim, and what it costs:
//   (a) the whole 2048-block flash, unpaced: wall time, CPU time, MB/s;
//   (b) 64 blocks paced at 115200 baud: wall time against the line-rate limit, CPU share.
#include "eventwait.h"
#include "fakeoperator.h"
#include "loadersimprocess.h"
#include "portsession.h"
#include "qtcommcontrol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Times the transfer itself: from its start to the end of the dialogue.
struct Timing {
    QElapsedTimer clock;
    qint64 startNs = -1;
    qint64 endNs = -1;
    double startCpu = 0;
    double endCpu = 0;

    void started() {
        startNs = clock.nsecsElapsed();
        startCpu = cpuSeconds();
    }
    void ended() {
        endNs = clock.nsecsElapsed();
        endCpu = cpuSeconds();
    }
};

struct Run {
    bool ok = false;
    double wall = 0;
    double cpu = 0;
    qint64 toolBytes = 0;
};

Run dump(const QStringList& simArguments, const QString& first, const QString& count, int blocks) {
    Run run;
    LoaderSimProcess sim;
    if (!sim.start(simArguments + QStringList{QStringLiteral("--quiet")})) {
        std::fprintf(stderr, "loader-sim did not start\n");
        return run;
    }
    qputenv("DECODUMP_COM1", sim.devicePath().toLocal8Bit());
    QTemporaryDir dir;
    QtCommControl port;
    FakeOperator op;
    op.folder = dir.path() + QLatin1Char('/');
    op.startBlock = first;
    op.blockCount = count;
    PortSession session(port, op);
    op.follow(session);
    session.dialogue().setResponsesFolder(QCoreApplication::applicationDirPath() +
                                          QStringLiteral("/../bin/Respuestas"));
    Timing timing;
    QObject::connect(&session, &PortSession::transferStarted, &session,
                     [&timing] { timing.started(); });
    QObject::connect(&session, &PortSession::dialogueEnded, &session,
                     [&timing] { timing.ended(); });

    timing.clock.start();
    port.setCommPort(1);
    if (session.arm(QStringLiteral("COM1"))) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(sim.devicePath()));
        return run;
    }
    if (!waitFor([&] { return !op.ended.isEmpty(); }, 120000) || !op.ended.first().clean() ||
        op.ended.first().blocksWritten != blocks) {
        std::fprintf(stderr, "the dump did not complete cleanly\n%s\n", sim.log().constData());
        return run;
    }
    run.ok = true;
    run.wall = double(timing.endNs - timing.startNs) / 1e9;
    run.cpu = timing.endCpu - timing.startCpu;
    // What the tool sends per block: request and acknowledgement; then the total exchange.
    for (int n = first.toInt(); n < first.toInt() + blocks; ++n)
        run.toolBytes += 2 * (18 + QByteArray::number(n).size()) - 1 + 1;
    run.toolBytes += 17 + 13;
    sim.waitForExit(5000);
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (LoaderSimProcess::program().isEmpty())
        qputenv("LOADER_SIM",
                (QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/loader-sim"))
                    .toLocal8Bit());

    const Run full = dump({QStringLiteral("--seed"), QStringLiteral("3")}, QStringLiteral("0000"),
                          QStringLiteral("2048"), 2048);
    if (!full.ok)
        return 1;
    const double megabytes = 2048.0 * 1024 / (1024 * 1024);
    std::printf(
        "(a) 2048 blocks unpaced: wall %.3f s, CPU %.3f s, %.1f MB/s (target: wall < 1 s)\n",
        full.wall, full.cpu, megabytes / full.wall);

    const int baud = 115200;
    const Run paced = dump({QStringLiteral("--seed"), QStringLiteral("3"), QStringLiteral("--baud"),
                            QString::number(baud)},
                           QStringLiteral("1984"), QStringLiteral("0064"), 64);
    if (!paced.ok)
        return 1;
    const qint64 loaderBytes = 64 * 1032 + 1;
    const double limit = double(loaderBytes) * 10 / baud;
    const double bothWays = double(loaderBytes + paced.toolBytes) * 10 / baud;
    std::printf("(b) 64 blocks at %d baud: wall %.3f s, line-rate limit %.3f s for the %lld bytes "
                "the loader sends (%+.2f%%), %.3f s counting the %lld bytes the tool sends too; "
                "CPU %.3f s = %.2f%% of one core (targets: within 1%%, CPU < 3%%)\n",
                baud, paced.wall, limit, static_cast<long long>(loaderBytes),
                100.0 * (paced.wall - limit) / limit, bothWays,
                static_cast<long long>(paced.toolBytes), paced.cpu, 100.0 * paced.cpu / paced.wall);
    return 0;
}
