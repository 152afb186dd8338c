#pragma once

#include "clioptions.h"
#include "dumpjob.h"
#include "firstcontactwatch.h"
#include "logprinter.h"
#include "operatorside.h"
#include "portsession.h"
#include "progressdisplay.h"
#include "qtcommcontrol.h"
#include "transfersummary.h"
#include "wiretrace.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <optional>

class Console;

// The operator's side of the dialogue on a terminal: arms the port as picking a COM entry in the
// window does, prints the log and the messages, shows the progress, and ends the run with an
// exit status once the dialogue has ended, the loader fell silent or a signal came.
class DumpSession : public QObject, public OperatorSide {
    Q_OBJECT
public:
    DumpSession(const CliOptions& options, const DumpJob& job, Console& console,
                QObject* parent = nullptr);
    ~DumpSession() override;

    // Opens the port and arms the dialogue. False, with the reason printed, when the port could
    // not be opened.
    bool start();
    // The ledger as JSON on standard output (--json); false, said on standard error, when
    // standard output cannot be written.
    static bool printJson(const Ledger& ledger);
    static bool printJson(const QJsonObject& object);
    // What --json prints for a run that failed: why, its exit status, and the ledger if any.
    static QJsonObject errorJson(const QString& error, int exitStatus,
                                 const std::optional<QJsonObject>& ledger = std::nullopt);
    // The first error reported, as the operator was told it (without "error: ").
    QString error() const { return m_error; }
    // Closes the port: a running transfer ends there and keeps the records it wrote.
    void interrupt(int signalNumber);

    // OperatorSide
    void appendLog(const QString& piece) override;
    void appendLogLine(const QString& text) override;
    QString startBlockText() const override { return pass().firstBlockText; }
    QString blockCountText() const override { return pass().blockCountText; }
    QString folderText() const override { return m_job.folderText; }
    QString fileNameText() const override { return m_job.fileName; }
    void setProgress(const QString& caption) override;
    void showMessage(const QString& text, MessageIcon icon) override;
    void selectNoPort() override;
    void enablePortList() override {}

Q_SIGNALS:
    void finished(int exitStatus);

private:
    enum class StopReason { None, Timeout, Interrupted };

    const DumpJob::Pass& pass() const { return m_job.passes.at(m_pass); }
    // Arms the port for the current pass. False, with the reason printed, when it cannot open.
    bool armPass();
    void nextPass();
    void compareWithFile();
    void printModeResult();
    // Why a file whose records are all there is still not complete; empty when it is.
    QString unvouchedText(const Ledger& ledger) const;
    // The ledger the run leaves: the one it kept, or the one it began from.
    const Ledger* resultLedger() const;
    QJsonObject jsonResult() const;
    static bool writeOut(const QByteArray& bytes);
    // A step of the run in English (a milestone only without --verbose); nothing with --quiet.
    void milestone(const QString& text);
    void announce(const QString& text);
    void onBytesArrived();
    void onResponseFileSent(int number);
    void reportError(const QString& text);
    void onTransferStarted();
    void onBlockRequested(int index, int count);
    void onBlockReceived(int index, int count, bool sumOk);
    // The block's sum and the loader's, from the dialogue's state as the block left it.
    void reportBadSum(int index);
    void onDialogueEnded(const TransferSummary& summary);
    void printProblem(const QString& text);
    // A failure of the dialogue in the command line's words; the window's when there are none.
    static QString failureText(const TransferSummary& summary, const QString& windowText);
    void adviseNothingYet();
    void adviseNotLoaderText();
    void stopProgress();
    void restartWatchdog();
    void onWatchdog();
    int statusFor(const TransferSummary& summary) const;
    void endWith(int exitStatus);
    void conclude();
    void printSummary(const TransferSummary& summary);
    QString outcomeText(const TransferSummary& summary) const;

    CliOptions m_options;
    DumpJob m_job;
    Console& m_console;
    LogPrinter m_log;
    ProgressDisplay m_progress;
    WireTrace m_trace;
    QtCommControl m_port;
    PortSession m_session;
    int m_pass = 0;
    QString m_portName;           // as the messages name it: the device, or "COM1 (/dev/ttyS0)"
    QList<int> m_differingBlocks; // what a verification found
    FirstContactWatch m_firstContact;
    QTimer m_watchdog;
    QElapsedTimer m_transferClock;
    qint64 m_transferMs = 0;
    bool m_transferStarted = false;
    int m_blocksDone = 0;
    StopReason m_stopReason = StopReason::None;
    bool m_heardLoader = false;
    QString m_error;
    std::optional<TransferSummary> m_summary;
    std::optional<int> m_exitStatus;
};
