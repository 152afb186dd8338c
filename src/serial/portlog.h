#pragma once

#include <QLoggingCategory>

// Port traffic and the port's opening, closing and loss. Off by default; switch it on with
// QT_LOGGING_RULES="decodump.port.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcPort)
