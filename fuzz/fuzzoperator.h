#pragma once

#include "operatorside.h"

#include <QString>

#include <functional>

class CommControl;

// Operator side of the dispatcher fuzz target: answers with fixed entries, disarms by closing
// the port as the "(ninguno)" entry does, and checks what the dialogue reports about blocks,
// captions and its end.
class FuzzOperator : public OperatorSide {
public:
    FuzzOperator(CommControl& port, const QString& startBlock, const QString& blockCount,
                 const QString& folder, const QString& fileName);

    void appendLog(const QString& piece) override;
    QString startBlockText() const override { return m_startBlock; }
    QString blockCountText() const override { return m_blockCount; }
    QString folderText() const override { return m_folder; }
    QString fileNameText() const override { return m_fileName; }
    void setProgress(const QString& caption) override;
    void showMessage(const QString& text, int icon) override;
    void stopTicker() override { m_tickerRunning = false; }
    void selectNoPort() override;
    void enablePortList() override {}
    void blockReceived(int index, int count, bool sumOk) override;
    void dialogueEnded(const TransferSummary& summary) override;

    // The port was armed: the break-in ticker runs until the dialogue or a disarm stops it.
    void tickerStarted() { m_tickerRunning = true; }
    bool tickerRunning() const { return m_tickerRunning; }

    // Runs inside showMessage, while the message would be open.
    void setWhileMessageOpen(std::function<void()> action) {
        m_whileMessageOpen = std::move(action);
    }

private:
    CommControl& m_port;
    QString m_startBlock;
    QString m_blockCount;
    QString m_folder;
    QString m_fileName;
    QString m_log;
    bool m_tickerRunning = false;
    int m_nextBlockIndex = 1; // index the next received block must have within its transfer
    std::function<void()> m_whileMessageOpen;
};
