#pragma once

#include "commcontrol.h"
#include "operatorside.h"
#include "transfersummary.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

// Operator side for unit tests: keeps the log, the captions and the messages, and disarms by
// closing the port as the window's "(ninguno)" entry does.
class FakeOperator : public OperatorSide {
public:
    struct Message {
        QString text;
        int icon;
    };

    explicit FakeOperator(CommControl& port) : m_port(port) {}

    QString log;
    QString startBlock = QStringLiteral("1984");
    QString blockCount = QStringLiteral("0064");
    QString folder;
    QString fileName = QStringLiteral("dump.bin");
    bool progressVisible = false;
    QStringList captions;
    QList<Message> messages;
    int tickerStops = 0;
    int disarms = 0;
    int portListEnabled = 0;
    QList<TransferSummary> ended;
    QList<int> blocks;
    // Runs inside showMessage, while the message would be open.
    std::function<void(const QString&)> whileMessageOpen;

    void appendLog(const QString& piece) override { log += piece; }
    QString startBlockText() const override { return startBlock; }
    QString blockCountText() const override { return blockCount; }
    QString folderText() const override { return folder; }
    QString fileNameText() const override { return fileName; }
    void setProgress(const QString& caption) override {
        progressVisible = true;
        captions.append(caption);
    }
    void showMessage(const QString& text, int icon) override {
        messages.append({text, icon});
        if (whileMessageOpen)
            whileMessageOpen(text);
    }
    // The break-in ticker, when the test runs one.
    QPointer<QTimer> ticker;

    void stopTicker() override {
        ++tickerStops;
        if (ticker)
            ticker->stop();
    }
    void selectNoPort() override {
        ++disarms;
        m_port.setPortOpen(false);
        stopTicker();
        log += (log.isEmpty() ? QString() : QStringLiteral("\r\n")) +
               QStringLiteral("Puerto COM cerrado.\r\n");
    }
    void enablePortList() override { ++portListEnabled; }
    void blockReceived(int index, int, bool) override { blocks.append(index); }
    void dialogueEnded(const TransferSummary& summary) override { ended.append(summary); }

private:
    CommControl& m_port;
};
