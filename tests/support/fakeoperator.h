#pragma once

#include "blockboxes.h"
#include "operatorside.h"
#include "portsession.h"
#include "transfersummary.h"

#include <QList>
#include <QStringList>

#include <functional>

// Operator side for unit tests: keeps the log, the captions and the messages, and disarms
// through the session as the window's "(ninguno)" entry does. Also records what the session
// reports about blocks and the end of each dialogue.
class FakeOperator : public OperatorSide {
public:
    struct Message {
        QString text;
        MessageIcon icon;
    };

    FakeOperator() = default;

    // The session this operator disarms and listens to; its dialogue is armed with the entries.
    void follow(PortSession& session) {
        m_session = &session;
        enterRange(startBlock, blockCount);
        QObject::connect(&session, &PortSession::blockReceived, &session,
                         [this](const ReceivedBlock& block) { blocks.append(block.index); });
        QObject::connect(&session, &PortSession::dialogueEnded, &session,
                         [this](const TransferSummary& summary) { ended.append(summary); });
    }

    // The entries as the window's boxes would hold them; each change arms the dialogue's next
    // pass with them, as a dump run does.
    void enterRange(const QString& start, const QString& count) {
        startBlock = start;
        blockCount = count;
        if (m_session)
            m_session->dialogue().setPass(
                {BlockBoxes::read(startBlock, blockCount).range, folder + fileName});
    }
    void enterFolder(const QString& text) {
        folder = text;
        enterRange(startBlock, blockCount);
    }

    QString log;
    QString startBlock = QStringLiteral("1984");
    QString blockCount = QStringLiteral("0064");
    QString folder;
    QString fileName = QStringLiteral("dump.bin");
    bool progressVisible = false;
    QStringList captions;
    QList<Message> messages;
    int disarms = 0;
    int portListEnabled = 0;
    QList<TransferSummary> ended;
    QList<int> blocks;
    // Runs inside showMessage, while the message would be open.
    std::function<void(const QString&)> whileMessageOpen;

    void appendLog(const QString& piece) override { log += piece; }
    void appendLogLine(const QString& text) override {
        log += (log.isEmpty() ? QString() : QStringLiteral("\r\n")) + text + QStringLiteral("\r\n");
    }
    void setProgress(const QString& caption) override {
        progressVisible = true;
        captions.append(caption);
    }
    void showMessage(const QString& text, MessageIcon icon) override {
        messages.append({text, icon});
        if (whileMessageOpen)
            whileMessageOpen(text);
    }
    void disarmPort() override {
        ++disarms;
        if (m_session)
            m_session->disarm();
    }
    void enablePortList() override { ++portListEnabled; }

private:
    PortSession* m_session = nullptr;
};
