#include "standardoutput.h"

#include "console.h"
#include "ledger.h"

#include <QFile>
#include <QJsonDocument>

bool printOut(const QByteArray& bytes) {
    QFile out;
    if (out.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) &&
        out.write(bytes) == bytes.size())
        return true;
    Console().printLine(
        QStringLiteral("error: standard output could not be written: %1").arg(out.errorString()));
    return false;
}

bool printJson(const Ledger& ledger) {
    return printOut(ledger.toJson());
}

bool printJson(const QJsonObject& object) {
    return printOut(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

QJsonObject errorJson(const QString& error, int exitStatus,
                      const std::optional<QJsonObject>& ledger) {
    QJsonObject object{{QStringLiteral("error"), error},
                       {QStringLiteral("exit_status"), exitStatus}};
    if (ledger)
        object.insert(QStringLiteral("ledger"), *ledger);
    return object;
}
