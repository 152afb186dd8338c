#pragma once

#include "dumppath.h"
#include "portfailure.h"

#include <QString>

struct TransferSummary;

// Message box icon codes.
enum class MessageIcon { Critical = 16, Exclamation = 48, Information = 64 };

// Everything the dialogue needs from the operator's side: the log, the progress caption, message
// boxes, the words for failures and the port list (the entries come with the dialogue's pass). The
// window, the command line and the tests each implement it, so all of them drive the same dialogue
// code.
class OperatorSide {
public:
    virtual ~OperatorSide() = default;

    // Appends the piece to the log as it stands (CR LF included).
    virtual void appendLog(const QString& piece) = 0;
    // Appends the text as a line of its own: CR LF before it unless the log is empty, CR LF after.
    virtual void appendLogLine(const QString& text) = 0;

    // Makes the progress label visible and sets its caption.
    virtual void setProgress(const QString& caption) = 0;

    // A modal message: returns when the operator has closed it. Lines are separated by CR LF.
    virtual void showMessage(const QString& text, MessageIcon icon) = 0;

    struct Message {
        QString text;
        MessageIcon icon;
    };
    // The message that ends a transfer which reached the loader's total: "Descarga finalizada.",
    // and when something went wrong, what (the total, the blocks whose sum failed). A front end
    // that knows more of the dump may say more after that.
    virtual Message endMessage(const TransferSummary& summary) const;

    // What went wrong with the port, and what stands in the way of the dump file (after the
    // dialogue's own words naming the file), in the front end's language. By default the
    // system's technical text.
    virtual QString portFailureText(const PortFailure& failure) const {
        return failure.technicalText();
    }
    virtual QString pathProblemText(const DumpPath& problem) const { return problem.systemText; }

    // Disarms at once, as the operator's choice of no port does (the window selects port entry
    // 0, "(ninguno)"): closes the port, stops the ticker, logs, and unlocks the entry controls.
    virtual void disarmPort() = 0;
    virtual void enablePortList() = 0;
};
