#pragma once

#include "dialogue.h"
#include "transfersummary.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class CommControl;
class OperatorSide;

// Arming and disarming, for every front end: opens the port with the settings of the line
// phase, logs it, runs the break-in ticker and zeroes the total; closes it again; and reports
// the end of each dialogue exactly once. Owns the dialogue and the ticker.
class PortSession : public QObject {
    Q_OBJECT
public:
    static constexpr int BreakInIntervalMs = 500;

    PortSession(CommControl& port, OperatorSide& operatorSide, QObject* parent = nullptr);
    ~PortSession() override;

    Dialogue& dialogue() { return m_dialogue; }
    const Dialogue& dialogue() const { return m_dialogue; }
    bool tickerRunning() const { return m_ticker.isActive(); }

    // Opens the port as it is set up (CommPort, or the adapter's device) and arms it: logs that
    // it waits on portName, starts the break-in ticker and zeroes the total. portName is how the
    // texts name the port ("COM1", "/dev/ttyUSB0"). When the port cannot be opened nothing is
    // armed or logged, and the reason is returned.
    std::optional<QString> arm(const QString& portName);
    // Closes the port if it is open; a running transfer ends there.
    void closePort();
    // Closes the port if it is open, stops the ticker and logs that the port is closed.
    void disarm();

Q_SIGNALS:
    void transferStarted();
    void blockRequested(int index, int count);
    void blockReceived(int index, int count, bool sumOk);
    // Once per arming at most, after the disarm that ended the dialogue.
    void dialogueEnded(const TransferSummary& summary);

private:
    void onDialogueEnded(const TransferSummary& summary);

    CommControl& m_port;
    OperatorSide& m_op;
    QTimer m_ticker;
    Dialogue m_dialogue;
    bool m_endReported = true;
};
