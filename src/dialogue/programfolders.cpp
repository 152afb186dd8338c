#include "programfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString besideProgram(const QString& name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

QString packageDataFolder() {
    return QDir::cleanPath(besideProgram(QStringLiteral("../share/decodump")));
}

} // namespace

bool runsInstalled() {
    return !QFileInfo(besideProgram(QStringLiteral("Respuestas"))).isDir() &&
           QFileInfo(packageDataFolder()).isDir();
}

QString defaultResponsesFolder() {
    return runsInstalled() ? packageDataFolder() + QStringLiteral("/Respuestas")
                           : besideProgram(QStringLiteral("Respuestas"));
}

QString defaultOutputFolder() {
    return runsInstalled() ? QDir::homePath() + QStringLiteral("/Descarga")
                           : besideProgram(QStringLiteral("Descarga"));
}
