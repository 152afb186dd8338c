#include "deviceaccess.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

QString systemLocation(const QString& name) {
    // A bare name such as ttyUSB0 lives in /dev; a name with a folder in it (/dev/ttyUSB0,
    // sub/link, ./link) is a path. QSerialPort would look for any relative name in /dev, so it
    // is given the path from the current folder.
    if (!name.contains(QLatin1Char('/')))
        return QLatin1String("/dev/") + name;
    return QFileInfo(name).isRelative() ? QFileInfo(name).absoluteFilePath() : name;
}

bool deviceExists(const QString& path) {
    return QFileInfo::exists(path);
}

bool mayReadAndWrite(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}
