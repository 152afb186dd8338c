#pragma once

#include <QByteArray>
#include <QString>

// Writes all of bytes to standard output. False, with the reason, when it could not: a full disk
// or a closed pipe must end the run with an error, not with success. (A QTextStream or stdio on
// stdout would drop a failed write without a word.)
bool writeStandardOutput(const QByteArray& bytes, QString* reason);

// The message for a failed write, as standard error shows it.
QString standardOutputError(const QString& reason);
