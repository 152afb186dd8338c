#pragma once

#include <QLoggingCategory>

// The dialogue's state changes: lines answered, transfer steps, how a dialogue ended. Off by
// default; switch it on with QT_LOGGING_RULES="decodump.dialogue.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcDialogue)
