#include "clioptions.h"

#include "blockrange.h"
#include "dumppresets.h"
#include "numeric.h"
#include "portnaming.h"
#include "portsession.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

constexpr int BlockTextMaxLength = 4; // what the window's block boxes take
constexpr double LongestTimeoutSeconds = 86400.0;

QString description() {
    return QStringLiteral(
               "Dumps a decoder's flash through its boot loader on a serial port, like the "
               "decodump window.\n"
               "\n"
               "The port is armed at once: the break-in byte goes out every %1 ms until the "
               "loader\n"
               "answers, so the decoder may be powered on after the program started. That wait "
               "has no\n"
               "limit unless --wait is given; --timeout limits each frame and the total.\n"
               "\n"
               "Exit status: 0 dump complete and checked; 1 the total or some block sums did not "
               "match;\n"
               "2 usage error; 3 port or file error; 4 timeout or device lost; 130 interrupted.")
        .arg(PortSession::BreakInIntervalMs);
}

const DumpPreset* presetNamed(const QString& name) {
    for (const DumpPreset& preset : DumpPresets) {
        if (!preset.blocksEditable && name == QLatin1String(preset.cliName))
            return &preset;
    }
    return nullptr;
}

QString presetNames() {
    QStringList names;
    for (const DumpPreset& preset : DumpPresets) {
        if (!preset.blocksEditable)
            names.append(QLatin1String(preset.cliName));
    }
    return names.join(QLatin1Char('|'));
}

bool isBlockText(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,%1}$").arg(BlockTextMaxLength));
    return digits.match(text).hasMatch();
}

CliOptions usageError(const QString& message) {
    CliOptions options;
    options.action = CliOptions::Action::UsageError;
    options.error = message;
    return options;
}

// Every option of the command line; all() lists them in the order the help shows them.
struct OptionTable {
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit.")};
    const QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit.")};
    const QCommandLineOption listPorts{
        QStringLiteral("list-ports"),
        QStringLiteral("List the serial devices found (with a USB adapter's latency timer) and "
                       "where COM1 to COM4 point, then exit.")};
    const QCommandLineOption port{
        {QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("Serial device to talk to the loader on: a name as --list-ports shows it "
                       "(ttyUSB0; COM7 on Windows), a path such as /dev/ttyUSB0, or COM1 to COM4 "
                       "as the window maps them."),
        QStringLiteral("DEVICE")};
    const QCommandLineOption preset{
        QStringLiteral("preset"),
        QStringLiteral("What to read: %1 (default %2).")
            .arg(presetNames(), QLatin1String(DumpPresets.at(DefaultPresetIndex).cliName)),
        QStringLiteral("NAME")};
    const QCommandLineOption start{QStringLiteral("start"),
                                   QStringLiteral("First block of a free range (default 0000)."),
                                   QStringLiteral("N")};
    const QCommandLineOption count{QStringLiteral("count"),
                                   QStringLiteral("Number of blocks of a free range."),
                                   QStringLiteral("N")};
    const QCommandLineOption output{
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Dump file (default: the preset's file name in the current folder)."),
        QStringLiteral("FILE")};
    const QCommandLineOption responses{
        QStringLiteral("responses"),
        QStringLiteral("Folder of Respuesta4.TXT and Respuesta5.TXT (default: Respuestas beside "
                       "the program)."),
        QStringLiteral("DIR")};
    const QCommandLineOption timeout{
        QStringLiteral("timeout"),
        QStringLiteral("Seconds to wait for each frame and for the final total (default %1).")
            .arg(CliOptions::DefaultTimeoutSeconds),
        QStringLiteral("SECONDS")};
    const QCommandLineOption wait{
        QStringLiteral("wait"),
        QStringLiteral("Seconds to wait for the loader to answer and start the transfer "
                       "(default: no limit)."),
        QStringLiteral("SECONDS")};
    const QCommandLineOption resume{
        QStringLiteral("resume"),
        QStringLiteral("Keep the records of the dump file that its ledger vouches for and ask "
                       "only for the rest.")};
    const QCommandLineOption verify{
        QStringLiteral("verify"),
        QStringLiteral("Read the range of FILE (from its ledger) again and compare it record by "
                       "record; exit 0 when identical, 1 when not."),
        QStringLiteral("FILE")};
    const QCommandLineOption repair{
        QStringLiteral("repair"),
        QStringLiteral("Read again the blocks of FILE that its ledger lists as bad or missing, "
                       "one loader dialogue per run of blocks."),
        QStringLiteral("FILE")};
    const QCommandLineOption json{QStringLiteral("json"),
                                  QStringLiteral("Print the ledger (JSON) on standard output at "
                                                 "the end; with --list-ports, print the list as "
                                                 "JSON.")};
    const QCommandLineOption trace{
        QStringLiteral("trace"),
        QStringLiteral("Record every byte both ways, with its time, into FILE (see "
                       "loader-sim --replay)."),
        QStringLiteral("FILE")};
    const QCommandLineOption map{
        QStringLiteral("map"),
        QStringLiteral("At the end, write the picture of the dump's blocks (as its ledger "
                       "describes them) into FILE, a PNG image."),
        QStringLiteral("FILE")};
    const QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No milestones and no progress; only problems "
                                                  "and the summary.")};
    const QCommandLineOption verbose{
        {QStringLiteral("v"), QStringLiteral("verbose")},
        QStringLiteral("Also print the dialogue's own log, as the window shows it (in Spanish), "
                       "one dot per loader line.")};

    QList<QCommandLineOption> all() const {
        return {port,   preset, start, count, output, responses, timeout,   wait, resume, verify,
                repair, json,   trace, map,   quiet,  verbose,   listPorts, help, version};
    }
};

// The problem with how the options took their values: each option with a value is given once,
// and one followed by another option has taken that option for its value.
std::optional<QString> misusedValue(const QCommandLineParser& parser,
                                    const QList<QCommandLineOption>& all) {
    QStringList spellings;
    for (const QCommandLineOption& option : all) {
        for (const QString& name : option.names())
            spellings << QStringLiteral("-") + name << QStringLiteral("--") + name;
    }
    for (const QCommandLineOption& option : all) {
        if (option.valueName().isEmpty())
            continue;
        const QStringList values = parser.values(option);
        const QString name = QStringLiteral("--") + option.names().constLast();
        if (values.size() > 1)
            return QStringLiteral("%1 is given more than once").arg(name);
        if (!values.isEmpty() && spellings.contains(values.constFirst()))
            return QStringLiteral("%1 needs a value").arg(name);
    }
    return std::nullopt;
}

// What --help, --version or --list-ports ask for, before any other option is looked at;
// nothing for a dump run.
std::optional<CliOptions> actionAnswer(const QCommandLineParser& parser, const OptionTable& table) {
    CliOptions options;
    if (parser.isSet(table.help)) {
        options.action = CliOptions::Action::Help;
        options.helpText = parser.helpText();
        return options;
    }
    if (parser.isSet(table.version)) {
        options.action = CliOptions::Action::Version;
        return options;
    }
    if (parser.isSet(table.listPorts)) {
        options.action = CliOptions::Action::ListPorts;
        options.json = parser.isSet(table.json);
        return options;
    }
    return std::nullopt;
}

// The port is required; on Unix a COM name must be one of the mapped entries.
std::optional<QString> readPort(const QCommandLineParser& parser, const OptionTable& table,
                                CliOptions& options) {
    options.port = parser.value(table.port);
    if (options.port.isEmpty())
        return QStringLiteral("--port DEVICE is required");
#ifndef Q_OS_WIN
    // Beyond the mapped entries a COM name stands for no device here.
    static const QRegularExpression comName(QStringLiteral("^COM[0-9]+$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (comName.match(options.port).hasMatch() && options.commPortNumber() == 0)
        return QStringLiteral("--port %1: only COM1 to COM%2 are mapped (to $DECODUMP_COMn or "
                              "/dev/ttyS<n-1>); name the device instead, e.g. /dev/ttyUSB0")
            .arg(options.port)
            .arg(ComPortCount);
#endif
    return std::nullopt;
}

// --verify and --repair take their range from the file's ledger: each comes alone, with none
// of the options that choose a range or a file, and names its dump file.
std::optional<QString> readCheckMode(const QCommandLineParser& parser, const OptionTable& table,
                                     CliOptions& options) {
    if (!parser.isSet(table.verify) && !parser.isSet(table.repair))
        return std::nullopt;
    const QString mode =
        parser.isSet(table.verify) ? QStringLiteral("--verify") : QStringLiteral("--repair");
    for (const QCommandLineOption& other : {table.verify, table.repair, table.resume, table.preset,
                                            table.start, table.count, table.output}) {
        const QString name = QStringLiteral("--") + other.names().constLast();
        if (parser.isSet(other) && name != mode)
            return QStringLiteral("%1 cannot be combined with %2").arg(mode, name);
    }
    options.mode = parser.isSet(table.verify) ? CliOptions::Mode::Verify : CliOptions::Mode::Repair;
    options.outputPath = parser.value(parser.isSet(table.verify) ? table.verify : table.repair);
    if (options.outputPath.isEmpty())
        return QStringLiteral("%1 needs a dump file").arg(mode);
    return std::nullopt;
}

// A free range from --start and --count, both block texts as the window's boxes take them;
// fileName becomes the free preset's file name.
std::optional<QString> readFreeRange(const QCommandLineParser& parser, const OptionTable& table,
                                     CliOptions& options, QString& fileName) {
    const DumpPreset& free = DumpPresets.at(FreePresetIndex);
    if (!parser.isSet(table.count))
        return QStringLiteral("--start needs --count");
    options.firstBlockText =
        parser.isSet(table.start) ? parser.value(table.start) : QString::fromUtf8(free.firstBlock);
    options.blockCountText = parser.value(table.count);
    if (!isBlockText(options.firstBlockText))
        return QStringLiteral("--start takes a block number of 1 to %1 digits, not '%2'")
            .arg(BlockTextMaxLength)
            .arg(options.firstBlockText);
    if (!isBlockText(options.blockCountText) || numericValue(options.blockCountText) == 0.0)
        return QStringLiteral("--count takes a number of blocks from 1 to %1 (1 to %2 digits), "
                              "not '%3'")
            .arg(BlockRange::LargestCount)
            .arg(BlockTextMaxLength)
            .arg(options.blockCountText);
    fileName = QString::fromUtf8(free.fileName);
    return std::nullopt;
}

// The range of the preset named by --preset, or of the default one; fileName becomes its file
// name.
std::optional<QString> readPreset(const QCommandLineParser& parser, const OptionTable& table,
                                  CliOptions& options, QString& fileName) {
    const QString name = parser.isSet(table.preset)
                             ? parser.value(table.preset)
                             : QLatin1String(DumpPresets.at(DefaultPresetIndex).cliName);
    const DumpPreset* chosen = presetNamed(name);
    if (!chosen)
        return QStringLiteral("unknown preset '%1' (use %2)").arg(name, presetNames());
    options.firstBlockText = QString::fromUtf8(chosen->firstBlock);
    options.blockCountText = QString::fromUtf8(chosen->blockCount);
    fileName = QString::fromUtf8(chosen->fileName);
    return std::nullopt;
}

// Either a free range or a preset, never both.
std::optional<QString> readRange(const QCommandLineParser& parser, const OptionTable& table,
                                 CliOptions& options, QString& fileName) {
    const bool freeRange = parser.isSet(table.start) || parser.isSet(table.count);
    if (freeRange && parser.isSet(table.preset))
        return QStringLiteral("--preset cannot be combined with --start/--count");
    return freeRange ? readFreeRange(parser, table, options, fileName)
                     : readPreset(parser, table, options, fileName);
}

// A dump goes to --output, or to the range's file name; the file is never a folder.
std::optional<QString> readOutput(const QCommandLineParser& parser, const OptionTable& table,
                                  CliOptions& options, const QString& fileName) {
    if (options.mode == CliOptions::Mode::Dump)
        options.outputPath = parser.isSet(table.output) ? parser.value(table.output) : fileName;
    if (options.outputPath.isEmpty() || options.outputPath.endsWith(QLatin1Char('/')))
        return QStringLiteral("--output needs a file name, not '%1'").arg(options.outputPath);
    return std::nullopt;
}

// --responses names a folder, or something that does not exist yet.
std::optional<QString> readResponses(const QCommandLineParser& parser, const OptionTable& table,
                                     CliOptions& options) {
    if (!parser.isSet(table.responses))
        return std::nullopt;
    options.responsesFolder = parser.value(table.responses);
    if (options.responsesFolder.isEmpty())
        return QStringLiteral("--responses needs a folder");
    const QFileInfo given(options.responsesFolder);
    if (given.exists() && !given.isDir())
        return QStringLiteral("--responses %1 is not a folder").arg(options.responsesFolder);
    return std::nullopt;
}

// Whole milliseconds, at least one; nothing when the text is not a number of seconds.
std::optional<int> limitMs(const QString& text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0.0 || seconds > LongestTimeoutSeconds)
        return std::nullopt;
    return std::max(1, static_cast<int>(std::lround(seconds * 1000.0)));
}

// --timeout and --wait, each a number of seconds within the longest limit.
std::optional<QString> readLimits(const QCommandLineParser& parser, const OptionTable& table,
                                  CliOptions& options) {
    for (const QCommandLineOption* limit : {&table.timeout, &table.wait}) {
        if (!parser.isSet(*limit))
            continue;
        const QString name = limit->names().constFirst();
        const std::optional<int> ms = limitMs(parser.value(*limit));
        if (!ms)
            return QStringLiteral("--%1 takes a number of seconds above 0 and up to %2, not '%3'")
                .arg(name)
                .arg(LongestTimeoutSeconds)
                .arg(parser.value(*limit));
        if (limit == &table.timeout)
            options.frameTimeoutMs = *ms;
        else
            options.startTimeoutMs = *ms;
    }
    return std::nullopt;
}

// The switches of a dump run, and the files it writes besides the dump: --map and --trace
// each need a file.
std::optional<QString> readRunExtras(const QCommandLineParser& parser, const OptionTable& table,
                                     CliOptions& options) {
    options.resume = parser.isSet(table.resume);
    options.quiet = parser.isSet(table.quiet);
    options.verbose = parser.isSet(table.verbose);
    options.json = parser.isSet(table.json);
    if (parser.isSet(table.map)) {
        options.mapPath = parser.value(table.map);
        if (options.mapPath.isEmpty())
            return QStringLiteral("--map needs a file");
    }
    if (parser.isSet(table.trace)) {
        options.tracePath = parser.value(table.trace);
        if (options.tracePath.isEmpty())
            return QStringLiteral("--trace needs a file");
    }
    return std::nullopt;
}

} // namespace

int CliOptions::commPortNumber() const {
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]*)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(port);
    const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
    return number <= ComPortCount ? number : 0;
}

CliOptions CliOptions::parse(const QStringList& arguments) {
    const OptionTable table;
    const QList<QCommandLineOption> all = table.all();
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(all);

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (const std::optional<QString> problem = misusedValue(parser, all))
        return usageError(*problem);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().constFirst()));
    if (const std::optional<CliOptions> answer = actionAnswer(parser, table))
        return *answer;

    // A dump run: each step checks its options in turn, and the first problem refuses the line.
    CliOptions options;
    QString fileName;
    std::optional<QString> problem = readPort(parser, table, options);
    if (!problem)
        problem = readCheckMode(parser, table, options);
    if (!problem)
        problem = readRange(parser, table, options, fileName);
    if (!problem)
        problem = readOutput(parser, table, options, fileName);
    if (!problem)
        problem = readResponses(parser, table, options);
    if (!problem)
        problem = readLimits(parser, table, options);
    if (!problem)
        problem = readRunExtras(parser, table, options);
    if (problem)
        return usageError(*problem);
    options.action = Action::Dump;
    return options;
}
