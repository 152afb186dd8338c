#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

class Ledger;

// Writes all of bytes to standard output. False when it could not, said on standard error: a
// full disk or a closed pipe must end the run with an error, not with success. (A QTextStream
// or stdio on stdout would drop a failed write without a word.)
bool printOut(const QByteArray& bytes);

// The ledger, or any JSON object, on standard output (--json), as printOut.
bool printJson(const Ledger& ledger);
bool printJson(const QJsonObject& object);

// What --json prints for a run that failed: why, its exit status, and the ledger if any.
QJsonObject errorJson(const QString& error, int exitStatus,
                      const std::optional<QJsonObject>& ledger = std::nullopt);
