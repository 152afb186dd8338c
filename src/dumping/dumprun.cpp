#include "dumprun.h"

#include "comparisonsink.h"
#include "dialoguelog.h"
#include "dumpfilesink.h"
#include "operatorside.h"

#include <QTimer>

namespace {

// How a run the front end stopped ends, and what its ledger says of the transfer it cut.
DumpOutcome::Ending endingFor(DumpRun::StopReason reason) {
    return reason == DumpRun::StopReason::Timeout ? DumpOutcome::Ending::TimedOut
                                                  : DumpOutcome::Ending::Interrupted;
}

Ledger::Outcome ledgerOutcomeFor(DumpRun::StopReason reason) {
    return reason == DumpRun::StopReason::Timeout ? Ledger::Outcome::Timeout
                                                  : Ledger::Outcome::Interrupted;
}

} // namespace

DumpRun::DumpRun(CommControl& port, OperatorSide& operatorSide, QObject* parent)
    : QObject(parent), m_op(operatorSide), m_session(port, operatorSide, this) {
    connect(&m_session, &PortSession::transferStarted, this, [this] { m_transferStarted = true; });
    connect(&m_session, &PortSession::transferEnded, this, &DumpRun::onTransferEnded);
    connect(&m_session, &PortSession::dialogueEnded, this, &DumpRun::onDialogueEnded);
}

DumpRun::~DumpRun() {
    m_session.setSink(nullptr);
}

std::optional<DumpRun::StartFailure> DumpRun::start(const DumpPlan& plan, const QString& portName) {
    QString problem;
    // A folder closed to new files takes no lock file; nothing new can be made there either.
    if (m_lock.lock(plan.dumpPath(), &problem) == FileLock::Result::HeldElsewhere)
        return StartFailure{StartFailure::Kind::DumpInUse, {}};
    if (!problem.isEmpty())
        qCDebug(lcDialogue) << "no lock for" << plan.dumpPath() << problem;
    m_plan = plan;
    m_portName = portName;
    m_pass = 0;
    m_summary.reset();
    m_verification.reset();
    m_ledgerError.clear();
    m_conclusion.reset();
    m_stopReason.reset();
    m_session.forgetLedger();
    m_running = true;
    if (const std::optional<QString> failure = armPass()) {
        m_running = false;
        m_lock.unlock();
        return StartFailure{StartFailure::Kind::PortNotOpened, *failure};
    }
    return std::nullopt;
}

std::optional<QString> DumpRun::armPass() {
    const DumpPlan::Pass& pass = this->pass();
    PortSession::LedgerPlan ledgerPlan;
    switch (m_plan.mode) {
    case DumpPlan::Mode::NewDump:
    case DumpPlan::Mode::Resume:
        if (m_plan.resumes()) {
            ledgerPlan.kind = Ledger::RunKind::Resume;
            ledgerPlan.fileRange = m_plan.fileRange;
            ledgerPlan.previous = m_plan.ledger;
            m_sink = std::make_unique<DumpFileSink>(DumpFileSink::Rule::Resume, pass.firstRecord);
        } else {
            m_sink = std::make_unique<DumpFileSink>(DumpFileSink::Rule::NewFile);
        }
        ledgerPlan.keep = !m_plan.ledgerWarning;
        break;
    case DumpPlan::Mode::Verify:
        ledgerPlan.keep = false;
        m_sink = std::make_unique<ComparisonSink>(pass.firstRecord);
        break;
    case DumpPlan::Mode::Repair:
        ledgerPlan.kind = Ledger::RunKind::Repair;
        ledgerPlan.fileRange = m_plan.fileRange;
        // Each dialogue goes on from the ledger the one before it left.
        ledgerPlan.previous = m_pass == 0 ? m_plan.ledger : std::optional<Ledger>(*ledger());
        m_sink = std::make_unique<DumpFileSink>(DumpFileSink::Rule::Repair, pass.firstRecord);
        break;
    }
    m_session.setLedgerPlan(ledgerPlan);
    m_session.setSink(m_sink.get());
    m_session.dialogue().setPass({pass.range, m_plan.dumpPath()});
    m_transferStarted = false;
    if (const std::optional<QString> failure = m_session.arm(m_portName))
        return failure;
    Q_EMIT passArmed(m_pass);
    return std::nullopt;
}

void DumpRun::armNextPass() {
    if (!m_running)
        return;
    ++m_pass;
    Q_EMIT nextPass(m_pass);
    if (const std::optional<QString> failure = armPass())
        finish(DumpOutcome::Ending::PortNotOpened, *failure);
}

void DumpRun::stop(StopReason reason) {
    if (!m_running)
        return;
    m_stopReason = reason;
    m_session.setStopReason(ledgerOutcomeFor(reason));
    // With a transfer under way, closing the port ends it and the dialogue reports the end.
    // The port list is free again, as after any end.
    m_op.disarmPort();
    m_op.enablePortList();
    if (m_running)
        finish(endingFor(reason));
}

void DumpRun::onTransferEnded(const TransferSummary& summary) {
    if (!m_running)
        return;
    m_summary = summary;
    noteLedgerError(summary.ledgerError);
    if (m_plan.mode == DumpPlan::Mode::Verify) {
        const auto& comparison = static_cast<const ComparisonSink&>(*m_sink);
        QString problem;
        if (!m_session.recordVerification(
                *m_plan.ledger, m_plan.dumpPath(),
                {Ledger::now(), comparison.differingBlocks(), comparison.uncomparedBlocks()},
                &problem))
            noteLedgerError(problem);
        // As the ledger keeps it, written or not.
        m_verification = m_session.ledger().verified;
    }
    // The last loader dialogue has reached its total: how the run ends is known before the
    // operator is told of it.
    if (m_pass + 1 == m_plan.passes.size())
        m_conclusion = outcome(DumpOutcome::Ending::Finished);
}

void DumpRun::onDialogueEnded(const TransferSummary& summary) {
    if (!m_running)
        return;
    m_summary = summary;
    noteLedgerError(summary.ledgerError);
    // The next loader dialogue once this one has wound up: it may still be inside the call that
    // ended it.
    const bool completed = summary.outcome == TransferSummary::Outcome::Completed;
    if (completed && m_pass + 1 < m_plan.passes.size()) {
        QTimer::singleShot(0, this, &DumpRun::armNextPass);
        return;
    }
    finish(endingOf(summary));
}

void DumpRun::noteLedgerError(const QString& error) {
    if (!error.isEmpty() && m_ledgerError.isEmpty())
        m_ledgerError = error;
}

DumpOutcome::Ending DumpRun::endingOf(const TransferSummary& summary) const {
    switch (summary.outcome) {
    case TransferSummary::Outcome::Completed:
        return DumpOutcome::Ending::Finished;
    case TransferSummary::Outcome::PortClosed:
        return m_stopReason ? endingFor(*m_stopReason) : DumpOutcome::Ending::CutShort;
    case TransferSummary::Outcome::DeviceLost:
        return DumpOutcome::Ending::DeviceLost;
    case TransferSummary::Outcome::FileError:
        return DumpOutcome::Ending::FileError;
    }
    return DumpOutcome::Ending::CutShort;
}

const Ledger* DumpRun::ledger() const {
    if (!m_session.ledgerPath().isEmpty())
        return &m_session.ledger();
    return m_plan.ledger ? &*m_plan.ledger : nullptr;
}

DumpOutcome DumpRun::outcome(DumpOutcome::Ending ending, const QString& error) const {
    DumpOutcome outcome;
    outcome.mode = m_plan.mode;
    outcome.ending = ending;
    outcome.transferStarted = m_transferStarted;
    if (m_summary)
        outcome.summary = *m_summary;
    outcome.recordsHeld =
        (m_plan.resumes() ? m_plan.keptRecords : 0) + outcome.summary.blocksWritten;
    outcome.fileRange = m_plan.fileRange;
    if (m_verification)
        outcome.verification = *m_verification;
    if (const auto* file = dynamic_cast<const DumpFileSink*>(m_sink.get()))
        outcome.keptAs = file->keptAs();
    if (const Ledger* left = ledger())
        outcome.ledger = *left;
    outcome.ledgerError = m_ledgerError;
    outcome.error = error;
    return outcome;
}

void DumpRun::finish(DumpOutcome::Ending ending, const QString& error) {
    if (!m_running)
        return;
    m_running = false;
    m_lock.unlock();
    m_session.setSink(nullptr);
    DumpOutcome ended = m_conclusion && ending == DumpOutcome::Ending::Finished
                            ? *m_conclusion
                            : outcome(ending, error);
    ended.ledgerError = m_ledgerError;
    qCDebug(lcDialogue) << "dump run ended" << int(ending);
    Q_EMIT finished(ended);
}
