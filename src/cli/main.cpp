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
#include <optional>

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

// The application the run needs: the map is drawn with its legend's text, which needs Qt's font
// machinery, so a run that draws it gets a GUI application, always offscreen, whatever display
// the environment names. Qt reads none of the command line: every option is this program's.
std::unique_ptr<QCoreApplication> makeApplication(const QStringList& arguments, int& qtArgc,
                                                  char* argv[]) {
    const bool map = drawsMap(arguments);
    if (map)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return map ? std::make_unique<QGuiApplication>(qtArgc, argv)
               : std::make_unique<QCoreApplication>(qtArgc, argv);
}

// What goes to standard output, and the status of a run that gets it there.
int printed(const QByteArray& bytes, int status) {
    return printOut(bytes) ? status : int(ExitPortOrFile);
}

// The exit status of a command line that asks for no dump: help, version, the port list, or a
// usage error; nothing for a dump run.
std::optional<int> answerWithoutDump(const CliOptions& options, const QStringList& arguments,
                                     Console& console) {
    switch (options.action) {
    case CliOptions::Action::Help:
        return printed(options.helpText.toUtf8(), ExitComplete);
    case CliOptions::Action::Version:
        return printed(
            QStringLiteral("%1 %2\n")
                .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion())
                .toUtf8(),
            ExitComplete);
    case CliOptions::Action::ListPorts: {
        const SystemPortEnumerator ports;
        return printed(options.json ? PortListing::json(ports) : PortListing::text(ports),
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
    return std::nullopt;
}

// A plan that needs no loader: says what the file's ledger settles, draws its map and prints
// its ledger when asked for.
int answerSettled(const CliOptions& options, const DumpPlan& plan, Console& console) {
    console.printLine(cliSettledText(plan));
    QString problem;
    if (!options.mapPath.isEmpty() &&
        !writeMapFile(options.mapPath, plan.dumpPath(), *plan.ledger, &problem)) {
        console.printLine(QStringLiteral("error: ") + problem);
        return ExitPortOrFile;
    }
    if (options.json && !printJson(*plan.ledger))
        return ExitPortOrFile;
    return cliSettledStatus(plan);
}

// Runs the dump against the loader until the session ends, a signal stopping it on the way.
int runSession(const CliOptions& options, const CliDump& dump, Console& console,
               SignalWatcher& signalWatcher, QCoreApplication& app) {
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

} // namespace

int main(int argc, char* argv[]) {
    keepStandardDescriptors();
    ignoreBrokenPipes();
    const QStringList arguments = commandLine(argc, argv);
    int qtArgc = 1; // the application keeps a reference to it: it lives as long
    const std::unique_ptr<QCoreApplication> application = makeApplication(arguments, qtArgc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("decodump-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DECODUMP_VERSION));
    SignalWatcher signalWatcher;

    Console console;
    const CliOptions options = CliOptions::parse(arguments);
    if (const std::optional<int> status = answerWithoutDump(options, arguments, console))
        return *status;

    const CliDump dump = CliDump::prepare(options);
    if (!dump.ok()) {
        console.printLine(QStringLiteral("error: ") + dump.problem);
        if (options.json)
            printJson(errorJson(dump.problem, ExitPortOrFile));
        return ExitPortOrFile;
    }
    if (dump.plan.settled)
        return answerSettled(options, dump.plan, console);
    return runSession(options, dump, console, signalWatcher, *application);
}
