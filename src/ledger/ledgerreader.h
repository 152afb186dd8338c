#pragma once

#include "ledger.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

class QJsonObject;
class QJsonValue;

// Reads a ledger from its JSON text and refuses, with the first problem found, anything that is
// not exactly a ledger of this format: bad JSON, an unknown format, a missing key, a value of
// the wrong type or range, or counts that contradict each other. Keys it does not know are
// ignored. A ledger is input from disk: nothing in it is trusted before it has been checked.
class LedgerReader {
public:
    explicit LedgerReader(QString fileName);

    std::optional<Ledger> read(QByteArrayView bytes);
    // "<file name>: <problem>" after a refusal.
    QString error() const { return m_error; }

private:
    bool readTop(const QJsonObject& top, Ledger& ledger);
    // The parts of the top object, in the order they are checked.
    bool readFormat(const QJsonObject& top);
    // The range, and the number of records the file holds (at most the range's blocks).
    bool readRange(const QJsonObject& top, Ledger& ledger, int& records);
    // One digest per record.
    bool readBlockDigests(const QJsonObject& top, int records, Ledger& ledger);
    // The bad blocks (among the records), the total, the outcome, the file's digest and times.
    bool readResults(const QJsonObject& top, int records, Ledger& ledger);
    bool readRuns(const QJsonObject& top, Ledger& ledger);
    // The latest verification, when there was one.
    bool readVerified(const QJsonObject& top, Ledger& ledger);
    bool readTool(const QJsonValue& value, Ledger::Tool& tool);
    bool readDevice(const QJsonValue& value, Ledger::Device& device);
    bool readRun(const QJsonValue& value, const QString& name, const Ledger& ledger,
                 Ledger::Run& run);
    bool readVerification(const QJsonValue& value, const Ledger& ledger,
                          Ledger::Verification& verification);
    bool checkConsistency(const Ledger& ledger);

    bool member(const QJsonObject& object, const QString& prefix, const QString& key,
                QJsonValue& value);
    bool object(const QJsonValue& value, const QString& name, QJsonObject& result);
    bool integer(const QJsonValue& value, const QString& name, qint64 minimum, qint64 maximum,
                 int& result);
    bool text(const QJsonValue& value, const QString& name, QString& result);
    bool boolean(const QJsonValue& value, const QString& name, bool& result);
    bool time(const QJsonValue& value, const QString& name, QDateTime& result);
    bool digest(const QJsonValue& value, const QString& name, QByteArray& result);
    bool usbId(const QJsonValue& value, const QString& name, std::optional<quint16>& result);
    bool banner(const QJsonValue& value, QString& result);
    bool blocks(const QJsonValue& value, const QString& name, qint64 first, qint64 last,
                QList<int>& result);
    bool total(const QJsonValue& value, const QString& name, std::optional<Ledger::Total>& result);
    bool outcome(const QJsonValue& value, const QString& name, Ledger::Outcome& result);

    bool fail(const QString& problem);

    QString m_fileName;
    QString m_error;
};
