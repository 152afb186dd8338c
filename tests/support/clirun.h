#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// decodump-cli in the build's bin folder.
QString cliProgram();

// How runCli starts decodump-cli. (The empty braces let a call name only the members it sets
// without a missing-initializer warning.)
struct CliRunOptions {
    // Standard error on a pseudo-terminal of the test's own instead of a pipe.
    bool onTerminal = false;
    // Sees standard error so far, again and again while the program runs.
    std::function<void(const QString&)> onOutput{};
    QString workingDirectory{}; // empty: the test's own
    // Runs in the child just before the program starts (after the terminal is put in place).
    std::function<void()> childSetup{};
    QString program{}; // empty: cliProgram()
};

// One run of decodump-cli.
struct CliRun {
    bool ended = false; // false: it was still running after the time allowed, and was killed
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int status = -1;   // the exit status; -1 unless it ended normally
    QString errors;    // standard error, on a terminal with the line redraws taken out
    QByteArray output; // standard output
    qint64 elapsedMs = 0;
};

// Runs decodump-cli to its end (30 s at the most) with the event loop going, reading what it
// writes as it comes so that it never blocks on a full pipe or terminal.
CliRun runCli(const QStringList& arguments, const CliRunOptions& options = {});
