#include "deviceaccess.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

QString systemLocation(const QString& name) {
    // A bare name such as ttyUSB0 lives in /dev; a name with a folder in it is a path.
    if (!name.startsWith(QLatin1Char('/')) && !name.startsWith(QLatin1String("./")) &&
        !name.startsWith(QLatin1String("../")))
        return QLatin1String("/dev/") + name;
    return name;
}

bool deviceExists(const QString& path) {
    return QFileInfo::exists(path);
}

bool mayReadAndWrite(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}
