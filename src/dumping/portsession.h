#pragma once

#include "dialogue.h"
#include "dumpfilesink.h"
#include "firstcontactwatch.h"
#include "ledger.h"
#include "ledgerrecorder.h"
#include "transfersummary.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class CommControl;
class OperatorSide;

// Arming and disarming, for every front end: opens the port with the settings of the line
// phase, logs it, runs the break-in ticker and zeroes the total; closes it again; and reports
// the end of each dialogue exactly once. Owns the dialogue and the ticker, watches the line
// while the port waits for the loader, and keeps the ledger beside every dump file the dialogue
// writes into.
class PortSession : public QObject {
    Q_OBJECT
public:
    static constexpr int BreakInIntervalMs = 500;

    PortSession(CommControl& port, OperatorSide& operatorSide, QObject* parent = nullptr);
    ~PortSession() override;

    Dialogue& dialogue() { return m_dialogue; }
    const Dialogue& dialogue() const { return m_dialogue; }

    // Opens the port as it is set up (CommPort, or the adapter's device) and arms it: logs that
    // it waits on portName, starts the break-in ticker and zeroes the total. portName is how the
    // texts name the port ("COM1", "/dev/ttyUSB0"). When the port cannot be opened nothing is
    // armed or logged, and the reason is returned.
    std::optional<QString> arm(const QString& portName);
    // Closes the port if it is open; a running transfer ends there.
    void closePort();
    // Closes the port if it is open, stops the ticker and logs that the port is closed.
    void disarm();

    // How the next transfers keep the ledger beside their dump. By default a new dump file gets
    // a new ledger over the transfer's own range; a front end that resumes or repairs a file
    // names the file's whole range and the ledger that vouches for what it holds.
    struct LedgerPlan {
        Ledger::RunKind kind = Ledger::RunKind::Dump;
        std::optional<BlockRange> fileRange; // none: the transfer's own range
        std::optional<Ledger> previous;
        bool keep = true; // false: no ledger run (a comparison)
    };
    void setLedgerPlan(const LedgerPlan& plan) { m_plan = plan; }
    // Where the blocks of the next transfers go; none: a new dump file.
    void setSink(BlockSink* sink);

    // Why the front end is about to close the port, for the ledger of a transfer it cuts short
    // (a timeout, an interruption); otherwise such a transfer counts as cut short. Cleared at
    // each arming.
    void setStopReason(Ledger::Outcome reason) { m_stopReason = reason; }
    // The ledger as last kept, and its path; empty until a transfer or a verification wrote one.
    const Ledger& ledger() const { return m_recorder.ledger(); }
    const LedgerRecorder& recorder() const { return m_recorder; }
    QString ledgerPath() const { return m_recorder.ledgerPath(); }
    // Starts afresh: no ledger kept yet.
    void forgetLedger() { m_recorder = LedgerRecorder(); }
    // A verification of the file that `ledger` vouches for found what it found: the result goes
    // into the ledger. False, with *problem, when the ledger could not be written.
    bool recordVerification(const Ledger& ledger, const QString& dumpPath,
                            const Ledger::Verification& verification, QString* problem);

Q_SIGNALS:
    // Advice while the port waits for the loader, once each per arming: nothing has come from it
    // in FirstContactWatch::SilenceMs, or what comes is not its text.
    void loaderSilent();
    void notLoaderText();
    void transferStarted();
    void blockRequested(int index, int count);
    void blockReceived(const ReceivedBlock& block);
    // The transfer reached the loader's total and its ledger run is over; before the end
    // message is shown.
    void transferEnded(const TransferSummary& summary);
    // Once per arming at most, after the disarm that ended the dialogue.
    void dialogueEnded(const TransferSummary& summary);

private:
    void onDumpOpened(const QString& path, const BlockRange& range);
    void onBlockReceived(const ReceivedBlock& block);
    void onTransferEnded(const TransferSummary& summary);
    void onDialogueEnded(const TransferSummary& summary);
    // Ends the ledger's run with the transfer's outcome, once.
    void endLedgerRun(const TransferSummary& summary);
    Ledger::Outcome runOutcome(const TransferSummary& summary) const;
    void noteLedgerFailure(bool written);

    CommControl& m_port;
    OperatorSide& m_op;
    QTimer m_ticker;
    FirstContactWatch m_firstContact;
    DumpFileSink m_newFile;
    Dialogue m_dialogue;
    bool m_endReported = true;
    LedgerPlan m_plan;
    LedgerRecorder m_recorder;
    std::optional<Ledger::Outcome> m_stopReason;
    QString m_ledgerError;
};
