#include "portnaming.h"

#include "deviceaccess.h"

#include <QtGlobal>

QString deviceForCommPort(int port) {
    const QByteArray variable = "DECODUMP_COM" + QByteArray::number(port);
    const QString mapped = qEnvironmentVariable(variable.constData());
    if (!mapped.isEmpty())
        return mapped;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString portDevice(int commPort, const QString& devicePath) {
    return systemLocation(devicePath.isEmpty() ? deviceForCommPort(commPort) : devicePath);
}
