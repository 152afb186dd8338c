#pragma once

#include <QString>

struct TransferSummary;

// Everything the dialogue needs from the operator's side. The window, the command line and the
// tests each implement it, so all of them drive the same dialogue code.
class OperatorSide {
public:
    // Message box icon codes.
    static constexpr int IconCritical = 16;
    static constexpr int IconExclamation = 48;
    static constexpr int IconInformation = 64;

    virtual ~OperatorSide() = default;

    // Appends the piece to the log as it stands (CR LF included).
    virtual void appendLog(const QString& piece) = 0;

    virtual QString startBlockText() const = 0;
    virtual QString blockCountText() const = 0;
    virtual QString folderText() const = 0;
    virtual QString fileNameText() const = 0;

    // Makes the progress label visible and sets its caption.
    virtual void setProgress(const QString& caption) = 0;

    // A modal message: returns when the operator has closed it. Lines are separated by CR LF.
    virtual void showMessage(const QString& text, int icon) = 0;

    virtual void stopTicker() = 0;
    // Selects port entry 0, "(ninguno)": runs the port-selection handler at once, which closes
    // the port, stops the ticker, logs and unlocks the entry controls.
    virtual void selectNoPort() = 0;
    virtual void enablePortList() = 0;

    // Progress and outcome for front ends that want more than the caption; no-ops by default.
    virtual void blockReceived(int /*index*/, int /*count*/, bool /*sumOk*/) {}
    // The dialogue ended by itself: the total exchange finished, or a transfer was cut short,
    // or the device went away, or a file failed. Called last, after the disarm.
    virtual void dialogueEnded(const TransferSummary& /*summary*/) {}
};
