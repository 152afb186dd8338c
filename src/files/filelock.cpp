#include "filelock.h"

#include <QFileInfo>

FileLock::~FileLock() {
    unlock();
}

QString FileLock::lockPathFor(const QString& dumpPath) {
    const QFileInfo dump(dumpPath);
    return dump.absolutePath() + QStringLiteral("/.") + dump.fileName() + QStringLiteral(".lock");
}
