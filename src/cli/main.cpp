#include "clioptions.h"
#include "console.h"
#include "dumpjob.h"
#include "dumpsession.h"
#include "exitstatus.h"
#include "portlisting.h"
#include "signalwatcher.h"
#include "systemportenumerator.h"
#include "terminal.h"
#include "wording.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

namespace {

// Writes all of bytes to standard output, or tells why it could not. (A QTextStream on stdout
// would drop a failed write without a word.)
bool writeStandardOutput(const QByteArray& bytes, QString& reason) {
    QFile out;
    if (out.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) &&
        out.write(bytes) == bytes.size())
        return true;
    reason = out.errorString();
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    ignoreBrokenPipes();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("decodump-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DECODUMP_VERSION));

    QTextStream out(stdout);
    Console console;
    const CliOptions options = CliOptions::parse(QCoreApplication::arguments());
    switch (options.action) {
    case CliOptions::Action::Help:
        out << options.helpText;
        return ExitComplete;
    case CliOptions::Action::Version:
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
            << '\n';
        return ExitComplete;
    case CliOptions::Action::ListPorts: {
        const SystemPortEnumerator ports;
        QString reason;
        if (!writeStandardOutput(options.json ? PortListing::json(ports) : PortListing::text(ports),
                                 reason)) {
            console.printLine(
                QStringLiteral("error: standard output could not be written: %1").arg(reason));
            return ExitPortOrFile;
        }
        return ExitComplete;
    }
    case CliOptions::Action::UsageError:
        console.printLine(
            QStringLiteral("decodump-cli: %1\nTry 'decodump-cli --help'.").arg(options.error));
        // --json asks for one JSON object whatever happens, also for a command line it refused.
        if (QCoreApplication::arguments().contains(QStringLiteral("--json")) &&
            !DumpSession::printJson(DumpSession::errorJson(options.error, ExitUsage)))
            return ExitPortOrFile;
        return ExitUsage;
    case CliOptions::Action::Dump:
        break;
    }

    const DumpJob job = DumpJob::prepare(options);
    if (!job.ok()) {
        console.printLine(QStringLiteral("error: ") + job.problem);
        if (options.json)
            DumpSession::printJson(DumpSession::errorJson(job.problem, ExitPortOrFile));
        return ExitPortOrFile;
    }
    if (job.settledStatus) {
        console.printLine(job.settledText);
        if (options.json && job.ledger && !DumpSession::printJson(*job.ledger))
            return ExitPortOrFile;
        return *job.settledStatus;
    }

    SignalWatcher signalWatcher;
    DumpSession session(options, job, console);
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &session, &DumpSession::interrupt);
    QObject::connect(&session, &DumpSession::finished, &app,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    if (!session.start()) {
        if (options.json)
            DumpSession::printJson(DumpSession::errorJson(session.error(), ExitPortOrFile));
        return ExitPortOrFile;
    }
    return QCoreApplication::exec();
}
