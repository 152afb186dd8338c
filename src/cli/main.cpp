#include "clidump.h"
#include "clioptions.h"
#include "console.h"
#include "dumpsession.h"
#include "exitstatus.h"
#include "mapfile.h"
#include "plantext.h"
#include "platformcommcontrol.h"
#include "portlisting.h"
#include "signalwatcher.h"
#include "standardoutput.h"
#include "systemportenumerator.h"
#include "terminal.h"
#include "wording.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <algorithm>
#include <memory>

namespace {

// Whether the run draws the picture of its blocks, however the option is spelt.
bool drawsMap(const QStringList& arguments) {
    return std::any_of(arguments.begin(), arguments.end(), [](const QString& argument) {
        for (const QString& name : {QStringLiteral("-map"), QStringLiteral("--map")}) {
            if (argument == name || argument.startsWith(name + u'='))
                return true;
        }
        return false;
    });
}

} // namespace

int main(int argc, char* argv[]) {
    keepStandardDescriptors();
    ignoreBrokenPipes();
    const QStringList arguments = commandLine(argc, argv);
    // Qt reads none of the command line: every option is this program's.
    int qtArgc = 1;
    // The map is drawn with its legend's text, which needs Qt's font machinery: then a GUI
    // application, always offscreen, whatever display the environment names.
    const bool map = drawsMap(arguments);
    if (map)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> application =
        map ? std::make_unique<QGuiApplication>(qtArgc, argv)
            : std::make_unique<QCoreApplication>(qtArgc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("decodump-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DECODUMP_VERSION));
    SignalWatcher signalWatcher;

    Console console;
    const CliOptions options = CliOptions::parse(arguments);
    // What goes to standard output, and the status of a run that gets it there.
    const auto print = [](const QByteArray& bytes, int status) {
        return printOut(bytes) ? status : int(ExitPortOrFile);
    };
    switch (options.action) {
    case CliOptions::Action::Help:
        return print(options.helpText.toUtf8(), ExitComplete);
    case CliOptions::Action::Version:
        return print(
            QStringLiteral("%1 %2\n")
                .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion())
                .toUtf8(),
            ExitComplete);
    case CliOptions::Action::ListPorts: {
        const SystemPortEnumerator ports;
        return print(options.json ? PortListing::json(ports) : PortListing::text(ports),
                     ExitComplete);
    }
    case CliOptions::Action::UsageError:
        console.printLine(QStringLiteral("decodump-cli: %1").arg(options.error));
        console.printLine(QStringLiteral("Try 'decodump-cli --help'."));
        // --json asks for one JSON object whatever happens, also for a command line it refused.
        if (arguments.contains(QStringLiteral("--json")) &&
            !printJson(errorJson(options.error, ExitUsage)))
            return ExitPortOrFile;
        return ExitUsage;
    case CliOptions::Action::Dump:
        break;
    }

    const CliDump dump = CliDump::prepare(options);
    if (!dump.ok()) {
        console.printLine(QStringLiteral("error: ") + dump.problem);
        if (options.json)
            printJson(errorJson(dump.problem, ExitPortOrFile));
        return ExitPortOrFile;
    }
    if (dump.plan.settled) {
        console.printLine(cliSettledText(dump.plan));
        QString problem;
        if (!options.mapPath.isEmpty() &&
            !writeMapFile(options.mapPath, *dump.plan.ledger, &problem)) {
            console.printLine(QStringLiteral("error: ") + problem);
            return ExitPortOrFile;
        }
        if (options.json && !printJson(*dump.plan.ledger))
            return ExitPortOrFile;
        return cliSettledStatus(dump.plan);
    }

    PlatformCommControl port;
    DumpSession session(options, dump, port, console);
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &session, &DumpSession::interrupt);
    QObject::connect(&session, &DumpSession::finished, &app,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    signalWatcher.deferToEventLoop();
    if (!session.start()) {
        if (options.json)
            printJson(errorJson(session.error(), ExitPortOrFile));
        return ExitPortOrFile;
    }
    return QCoreApplication::exec();
}
