#include "clidump.h"
#include "clioptions.h"
#include "console.h"
#include "dumpsession.h"
#include "exitstatus.h"
#include "mapfile.h"
#include "plantext.h"
#include "portlisting.h"
#include "qtcommcontrol.h"
#include "signalwatcher.h"
#include "standardoutput.h"
#include "systemportenumerator.h"
#include "terminal.h"
#include "wording.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstring>
#include <memory>

int main(int argc, char* argv[]) {
    ignoreBrokenPipes();
    // The map is drawn with its legend's text, which needs Qt's font machinery: then a GUI
    // application, on no display.
    bool drawsMap = false;
    for (int i = 1; i < argc; ++i)
        drawsMap = drawsMap || std::strcmp(argv[i], "--map") == 0;
    if (drawsMap && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> application =
        drawsMap ? std::make_unique<QGuiApplication>(argc, argv)
                 : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("decodump-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DECODUMP_VERSION));

    Console console;
    const CliOptions options = CliOptions::parse(QCoreApplication::arguments());
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
        if (QCoreApplication::arguments().contains(QStringLiteral("--json")) &&
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

    SignalWatcher signalWatcher;
    QtCommControl port;
    DumpSession session(options, dump, port, console);
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &session, &DumpSession::interrupt);
    QObject::connect(&session, &DumpSession::finished, &app,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    if (!session.start()) {
        if (options.json)
            printJson(errorJson(session.error(), ExitPortOrFile));
        return ExitPortOrFile;
    }
    return QCoreApplication::exec();
}
