#include "dumppath.h"

#include "fspath.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

DumpPath withProblem(DumpPath::Problem problem, const QString& systemText = {}) {
    DumpPath result;
    result.problem = problem;
    result.systemText = systemText;
    return result;
}

// Whether a new file can be made (and so an old entry removed) in the file's folder; probed by
// making one, since permissions alone do not tell (read-only mounts, ACLs).
DumpPath probeFolder(const QString& path) {
    QFile probe(path);
    if (!probe.open(QIODevice::ReadWrite | QIODevice::NewOnly))
        return withProblem(DumpPath::Problem::Unwritable, probe.errorString());
    probe.close();
    probe.remove();
    return {};
}

// What no file can be written as: a folder, a device, a pipe or a socket.
DumpPath notAFile(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory:
        return withProblem(DumpPath::Problem::Folder);
    case fs::file_type::block:
    case fs::file_type::character:
        return withProblem(DumpPath::Problem::Device);
    case fs::file_type::fifo:
        return withProblem(DumpPath::Problem::Pipe);
    case fs::file_type::socket:
        return withProblem(DumpPath::Problem::Socket);
    default:
        return {};
    }
}

} // namespace

DumpPath DumpPath::check(const QString& path, Use use) {
    std::error_code error;
    const fs::file_type type = fs::symlink_status(toFsPath(path), error).type();
    if (const DumpPath refused = notAFile(type); !refused.ok())
        return refused;
    const QString folder = QFileInfo(path).absolutePath();
    switch (type) {
    case fs::file_type::not_found:
        return probeFolder(path);
    case fs::file_type::symlink:
        // Replaced by removing it, which needs the folder's permission; resuming into a link
        // would write wherever it points.
        if (use == Use::KeepRecords)
            return withProblem(Problem::LinkInLockedFolder);
        return QFileInfo(folder).isWritable() ? DumpPath{}
                                              : withProblem(Problem::LinkInLockedFolder);
    case fs::file_type::regular: {
        // What a new dump replaces is kept under another name beside it, which takes a new entry
        // in the folder.
        if (use == Use::NewDump && QFileInfo(path).size() > 0) {
            const DumpPath probe = probeFolder(
                folder + QStringLiteral("/.decodump-%1.probe")
                             .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
            return probe.ok() ? DumpPath{} : withProblem(Problem::OldFileNotKept, probe.systemText);
        }
        QFile existing(path);
        if (existing.open(QIODevice::ReadWrite))
            return {};
        // A write-protected old file is still replaced when its folder lets it be removed.
        if (use != Use::KeepRecords && QFileInfo(folder).isWritable())
            return {};
        return withProblem(Problem::Unwritable, existing.errorString());
    }
    default:
        return withProblem(Problem::Unwritable, QString::fromStdString(error.message()));
    }
}

DumpPath DumpPath::checkLedger(const QString& ledgerPath) {
    std::error_code error;
    return notAFile(fs::symlink_status(toFsPath(ledgerPath), error).type());
}
