#include "standardoutput.h"

#include <QFile>

bool writeStandardOutput(const QByteArray& bytes, QString* reason) {
    QFile out;
    if (out.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) &&
        out.write(bytes) == bytes.size())
        return true;
    *reason = out.errorString();
    return false;
}

QString standardOutputError(const QString& reason) {
    return QStringLiteral("error: standard output could not be written: %1").arg(reason);
}
