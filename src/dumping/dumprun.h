#pragma once

#include "blocksink.h"
#include "dumpoutcome.h"
#include "dumpplan.h"
#include "filelock.h"
#include "portsession.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class CommControl;
class OperatorSide;

// One dump for any front end: the plan's loader dialogues one after the other through the port
// session, where each one's blocks go (a new file, a resume, a repair, a comparison), the
// ledger kept beside the file, the verification's result recorded, and one outcome at the end.
class DumpRun : public QObject {
    Q_OBJECT
public:
    enum class StopReason { Timeout, Interrupted };

    DumpRun(CommControl& port, OperatorSide& operatorSide, QObject* parent = nullptr);
    ~DumpRun() override;

    PortSession& session() { return m_session; }
    const PortSession& session() const { return m_session; }
    const DumpPlan& plan() const { return m_plan; }
    // The loader dialogue under way, or the last one.
    const DumpPlan::Pass& pass() const { return m_plan.passes.at(m_pass); }
    int passIndex() const { return m_pass; }
    bool running() const { return m_running; }
    // The loader is sending blocks: stopping now leaves part of the dialogue's range read.
    bool transferUnderWay() const { return m_running && m_transferStarted; }

    // Why a run could not start: it has then ended without a word, and nothing was touched.
    struct StartFailure {
        enum class Kind {
            DumpInUse,     // another run holds the dump file
            PortNotOpened, // detail: why, as the port words it
        };
        Kind kind = Kind::PortNotOpened;
        QString detail;
    };
    // Arms the first loader dialogue of a plan that is neither refused nor settled, on the port
    // as it is set up; portName is how the texts name it ("COM1", "/dev/ttyUSB0"). The run holds
    // the lock of its dump file until it ends.
    std::optional<StartFailure> start(const DumpPlan& plan, const QString& portName);
    // The front end ends the run for `reason`: the port list goes back to no port, as the
    // operator would set it, and a transfer under way keeps what it wrote.
    void stop(StopReason reason);

    // The ledger as the run leaves the file: the one it kept, or the one it began from.
    const Ledger* ledger() const;
    // How the run ends, once its last loader dialogue has reached the loader's total: known
    // while the dialogue's end message is shown, before the run has wound up.
    const std::optional<DumpOutcome>& conclusion() const { return m_conclusion; }

Q_SIGNALS:
    // A loader dialogue has been armed: the first one, or the next of a repair.
    void passArmed(int index);
    // A loader dialogue has ended and the next one is about to be armed: between the two the
    // decoder may need a restart.
    void nextPass(int index);
    // The run has ended; once.
    void finished(const DumpOutcome& outcome);

private:
    std::optional<QString> armPass();
    void armNextPass();
    void onTransferEnded(const TransferSummary& summary);
    void onDialogueEnded(const TransferSummary& summary);
    void noteLedgerError(const QString& error);
    DumpOutcome outcome(DumpOutcome::Ending ending, const QString& error = {}) const;
    void finish(DumpOutcome::Ending ending, const QString& error = {});
    DumpOutcome::Ending endingOf(const TransferSummary& summary) const;

    OperatorSide& m_op;
    PortSession m_session;
    DumpPlan m_plan;
    QString m_portName;
    int m_pass = 0;
    bool m_running = false;
    bool m_transferStarted = false;
    std::unique_ptr<BlockSink> m_sink;
    std::optional<TransferSummary> m_summary;
    std::optional<Ledger::Verification> m_verification;
    FileLock m_lock;
    QString m_ledgerError;
    std::optional<DumpOutcome> m_conclusion;
    // Why the front end stopped the run, once it has.
    std::optional<StopReason> m_stopReason;
};
