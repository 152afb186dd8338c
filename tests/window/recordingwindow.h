#pragma once

#include "principal_deco.h"

#include <QList>
#include <QString>

#include <functional>

// The window with its message boxes recorded instead of shown: each one counts as answered
// with OK at once. Also notes what the window looked like while the message was up.
class RecordingWindow : public Principal_Deco {
public:
    struct Message {
        QString text;
        int icon = 0;
        int selectedPort = -1;
        bool portOpen = false;
        QString log;
    };

    explicit RecordingWindow(CommControl& port) : Principal_Deco(port) {}

    void showMessage(const QString& text, int icon) override;

    QList<Message> messages;
    // What the operator does while a message is up (after it has been recorded), e.g. closing
    // the window before answering it.
    std::function<void(const Message&)> whileOpen;
};
