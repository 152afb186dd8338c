#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line of decodump-cli, parsed and checked. The block texts are kept exactly as the
// window's boxes would hold them, so the dialogue answers the loader with the same bytes.
class CliOptions {
public:
    enum class Action { Dump, ListPorts, Help, Version, UsageError };
    // What a dump run does with its file: a new dump (or a resumed one), or a check or repair
    // of an existing dump against the loader.
    enum class Mode { Dump, Verify, Repair };

    static constexpr int DefaultTimeoutSeconds = 10;

    static CliOptions parse(const QStringList& arguments);

    Action action = Action::UsageError;
    QString error;    // for UsageError
    QString helpText; // for Help

    QString port;            // a device path, or COM1 to COM4
    QString firstBlockText;  // e.g. "1920"
    QString blockCountText;  // e.g. "0128"
    QString outputPath;      // as given, or the preset's file name in the current folder; the file
                             // to check or repair for --verify and --repair
    QString responsesFolder; // empty: the dialogue's default beside the program
    // Limit on waiting for the loader to start a transfer: only when --wait was given.
    std::optional<int> startTimeoutMs;
    // Limit on waiting for each frame and for the total byte.
    int frameTimeoutMs = DefaultTimeoutSeconds * 1000;
    Mode mode = Mode::Dump;
    bool resume = false;
    bool quiet = false;
    bool verbose = false; // the dialogue's own log, in the window's words
    // The ledger on standard output at the end; for ListPorts, the list as JSON.
    bool json = false;
    QString tracePath; // empty: no wire trace
    QString mapPath;   // empty: no picture of the blocks

    // The COM number the port stands for (1..4), or 0 for a device path.
    int commPortNumber() const;
};
