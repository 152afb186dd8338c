#include "safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// Windows has no FIFOs at a file path and its links are rare; QSaveFile writes a temporary file
// beside the target and renames it over the target when every write succeeded.

bool openRegularFile(QFile& file, const QString& path, QString* problem) {
    const QString reason = notAFileReason(path);
    if (!reason.isEmpty() || QFileInfo(path).isDir()) {
        *problem = reason.isEmpty() ? QStringLiteral("it is a folder") : reason;
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return false;
    }
    return true;
}

QString notAFileReason(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (info.exists() && !info.isFile() && !info.isSymLink())
        return QStringLiteral("it is a device, not a file");
    return {};
}

bool replaceFile(const QString& path, QByteArrayView bytes, QString* problem) {
    const QString reason = notAFileReason(path);
    if (!reason.isEmpty()) {
        *problem = reason;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), bytes.size()) != bytes.size() || !file.commit()) {
        *problem = file.errorString();
        return false;
    }
    return true;
}
