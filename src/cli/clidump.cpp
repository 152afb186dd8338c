#include "clidump.h"

#include "plantext.h"
#include "programfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace {

bool sameFile(const QString& one, const QString& other) {
    const auto entry = [](const QString& path) {
        const QFileInfo info(QFileInfo(path).absoluteFilePath());
        const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
        return (folder.isEmpty() ? QDir::cleanPath(info.absolutePath()) : folder) +
               QLatin1Char('/') + info.fileName();
    };
    if (entry(one) == entry(other))
        return true;
    std::error_code error;
    return std::filesystem::equivalent(QFile::encodeName(one).toStdString(),
                                       QFile::encodeName(other).toStdString(), error);
}

} // namespace

QString writtenFileClash(const CliOptions& options, const QString& path, const QString& what) {
    const std::pair<const char*, QString> written[] = {{"--trace", options.tracePath},
                                                       {"--map", options.mapPath}};
    for (const auto& [option, file] : written) {
        if (!file.isEmpty() && sameFile(file, path))
            return QStringLiteral("%1 %2 is %3 (%4); name another file")
                .arg(QLatin1String(option), file, what, path);
    }
    return {};
}

CliDump CliDump::prepare(const CliOptions& options) {
    CliDump dump;
    DumpPlan::Request request;
    switch (options.mode) {
    case CliOptions::Mode::Dump:
        request.mode = options.resume ? DumpPlan::Mode::Resume : DumpPlan::Mode::NewDump;
        break;
    case CliOptions::Mode::Verify:
        request.mode = DumpPlan::Mode::Verify;
        break;
    case CliOptions::Mode::Repair:
        request.mode = DumpPlan::Mode::Repair;
        break;
    }
    request.firstBlockText = options.firstBlockText;
    request.blockCountText = options.blockCountText;

    // The path as the system will take it, so that messages name what is meant ("-o .." is the
    // parent folder, by its name).
    const QFileInfo output(QDir::cleanPath(QFileInfo(options.outputPath).absoluteFilePath()));
    const QString folder = output.absolutePath();
    request.folderText = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    request.fileName = output.fileName();
    dump.plan.request = request;

    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists()) {
        dump.problem = QStringLiteral("the output folder %1 does not exist").arg(folder);
        return dump;
    }
    if (!folderInfo.isDir()) {
        dump.problem = QStringLiteral("the output folder %1 is not a folder").arg(folder);
        return dump;
    }
    // Whether the loader will ask for response files shows only in the dialogue, which reads
    // them then; a dump through the keyword path needs none.
    dump.responsesFolder = options.responsesFolder.isEmpty()
                               ? defaultResponsesFolder()
                               : QFileInfo(options.responsesFolder).absoluteFilePath();
    // Never overwritten by the trace or the map.
    const std::pair<QString, QString> kept[] = {
        {request.folderText + request.fileName, QStringLiteral("the dump file")},
        {Ledger::pathFor(request.folderText + request.fileName),
         QStringLiteral("the dump's ledger")},
    };
    for (const auto& [path, what] : kept) {
        dump.problem = writtenFileClash(options, path, what);
        if (!dump.problem.isEmpty())
            return dump;
    }
    dump.plan = DumpPlan::prepare(request);
    if (!dump.plan.ok())
        dump.problem = cliRefusalText(dump.plan);
    return dump;
}
