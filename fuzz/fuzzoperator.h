#pragma once

#include "dialogue.h"
#include "operatorside.h"

#include <QString>

#include <functional>

class CommControl;
class PortSession;
struct TransferSummary;

// Operator side of the dispatcher fuzz target: arms the dialogue with the range its entries give
// (entries that give none would be refused before any port opened: one block stands for them),
// disarms through the session as the "(ninguno)" entry does, and checks what the dialogue
// reports about blocks, captions and its end.
class FuzzOperator : public OperatorSide {
public:
    FuzzOperator(CommControl& port, const QString& startBlock, const QString& blockCount,
                 const QString& folder, const QString& fileName);

    // The session this operator disarms and whose reports it checks.
    void follow(PortSession& session);

    void appendLog(const QString& piece) override;
    void appendLogLine(const QString& text) override;
    void setProgress(const QString& caption) override;
    void showMessage(const QString& text, MessageIcon icon) override;
    void disarmPort() override;
    void enablePortList() override {}

    // What the dialogue is armed with.
    const Dialogue::Pass& pass() const { return m_pass; }

    // Runs inside showMessage, while the message would be open.
    void setWhileMessageOpen(std::function<void()> action) {
        m_whileMessageOpen = std::move(action);
    }

private:
    void blockReceived(int index, int count);
    void dialogueEnded(const TransferSummary& summary);

    CommControl& m_port;
    PortSession* m_session = nullptr;
    Dialogue::Pass m_pass;
    QString m_log;
    int m_nextBlockIndex = 1; // index the next received block must have within its transfer
    std::function<void()> m_whileMessageOpen;
};
