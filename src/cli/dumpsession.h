#pragma once

#include "clidump.h"
#include "clioptions.h"
#include "dumpoutcome.h"
#include "dumprun.h"
#include "logprinter.h"
#include "operatorside.h"
#include "progressdisplay.h"
#include "wiretrace.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <optional>

class CommControl;
class Console;

// The operator's side of a dump on a terminal: arms the port as picking a COM entry in the
// window does, prints what happens in English (the dialogue's own log with --verbose), shows the
// progress, stops the run when a limit expires or a signal comes, and ends with an exit status
// derived from how the dump ended. The dump itself is the dump layer's.
class DumpSession : public QObject, public OperatorSide {
    Q_OBJECT
public:
    DumpSession(const CliOptions& options, const CliDump& dump, CommControl& port, Console& console,
                QObject* parent = nullptr);
    ~DumpSession() override;

    // Opens the port and arms the dialogue. False, with the reason printed, when the port could
    // not be opened or the trace cannot be written.
    bool start();
    // The first error reported, as the operator was told it (without "error: ").
    QString error() const { return m_error; }
    // Closes the port: a running transfer ends there and keeps the records it wrote.
    void interrupt(int signalNumber);

    // OperatorSide
    void appendLog(const QString& piece) override;
    void appendLogLine(const QString& text) override;
    void setProgress(const QString& caption) override;
    void showMessage(const QString& text, MessageIcon icon) override;
    QString portFailureText(const PortFailure& failure) const override;
    QString pathProblemText(const DumpPath& problem) const override;
    void disarmPort() override;
    void enablePortList() override {}

Q_SIGNALS:
    void finished(int exitStatus);

private:
    void announce(const QString& text);
    // What the run reads, and into which file: once the first loader dialogue is armed.
    void announcePlan();
    // A step of the dialogue in English, unless the dialogue's own log is shown (--verbose).
    void milestone(const QString& text);
    void reportError(const QString& text);
    void printProblem(const QString& text);
    // A failure of the dialogue in the command line's words; the window's when there are none.
    static QString failureText(const TransferSummary& summary, const QString& windowText);

    void onPassArmed(int index);
    void onNextPass(int index);
    void onBytesArrived();
    void onResponseFileSent(int number);
    void onTransferStarted();
    void onBlockRequested(int index, int count);
    void onBlockReceived(const ReceivedBlock& block);
    void onFinished(const DumpOutcome& outcome);
    void adviseNothingYet();
    void adviseNotLoaderText();
    void stopProgress();
    void restartWatchdog();
    void onWatchdog();

    int exitStatus() const;
    void conclude();
    // Stops tracing; the first problem with the trace or, failing that, with the map.
    QString closeTraceAndWriteMap();
    // The summary line of a run whose transfer started, and its outcome below it.
    void printSummary();
    // The blocks read and written, and those kept from before when the run resumed.
    QString blocksText(int resumed) const;
    QString badSumsText() const;
    // The loader's total against the computed one, or that none came.
    QString totalText(int resumed) const;
    // How long the transfer took, and its pace.
    QString paceText() const;
    // The line under the summary on how the run ended; empty when none is needed.
    QString outcomeText() const;
    // Why a dump that ran to its end is not complete; empty for a verification or a repair.
    QString unverifiedText() const;
    // What a run that stopped early left in its file, and how to go on.
    QString stoppedText() const;
    void printModeResult();
    // Which runs into the file had their total checked.
    void printTotals(const Ledger& ledger);
    // What a repair left to read again.
    void printRepairResult(const Ledger& ledger);
    void printVerification();
    // Why a file whose records are all there is still not complete; empty when it is.
    QString unvouchedText() const;
    QJsonObject jsonResult() const;

    CliOptions m_options;
    CliDump m_dump;
    CommControl& m_port;
    Console& m_console;
    LogPrinter m_log;
    ProgressDisplay m_progress;
    WireTrace m_trace;
    DumpRun m_run;
    QString m_portName; // as the messages name it: the device, or "COM1 (/dev/ttyS0)"
    QTimer m_watchdog;
    QElapsedTimer m_transferClock;
    qint64 m_transferMs = 0;
    bool m_transferStarted = false;
    bool m_heardLoader = false;
    int m_blocksDone = 0;
    QString m_error;
    std::optional<DumpOutcome> m_outcome;
    std::optional<int> m_exitStatus;
};
