#include "programfolders.h"

#include <QCoreApplication>

QString defaultResponsesFolder() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Respuestas");
}

QString defaultOutputFolder() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Descarga");
}
