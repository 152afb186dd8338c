#include "clidump.h"

#include "plantext.h"
#include "portnaming.h"
#include "programfolders.h"

#include <QDir>
#include <QFileInfo>

CliDump CliDump::prepare(const CliOptions& options) {
    CliDump dump;
    DumpPlan::Request request;
    switch (options.mode) {
    case CliOptions::Mode::Dump:
        request.mode = options.resume ? DumpPlan::Mode::Resume : DumpPlan::Mode::NewDump;
        break;
    case CliOptions::Mode::Verify:
        request.mode = DumpPlan::Mode::Verify;
        request.blockEntries = false;
        break;
    case CliOptions::Mode::Repair:
        request.mode = DumpPlan::Mode::Repair;
        request.blockEntries = false;
        break;
    }
    request.firstBlockText = options.firstBlockText;
    request.blockCountText = options.blockCountText;
    request.devicePath = portDevice(options.commPortNumber(), options.port);
    request.tracePath = options.tracePath;
    request.mapPath = options.mapPath;

    // The path as the system will take it, so that messages name what is meant ("-o .." is the
    // parent folder, by its name).
    const QFileInfo output(QDir::cleanPath(QFileInfo(options.outputPath).absoluteFilePath()));
    const QString folder = output.absolutePath();
    request.folderText = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    request.fileName = output.fileName();
    dump.plan.request = request;

    const QFileInfo folderInfo(folder);
    if (folderInfo.exists() && !folderInfo.isDir()) {
        dump.problem = QStringLiteral("the output folder %1 is not a folder").arg(folder);
        return dump;
    }
    // Whether the loader will ask for response files shows only in the dialogue, which reads
    // them then; a dump through the keyword path needs none.
    dump.responsesFolder = options.responsesFolder.isEmpty()
                               ? defaultResponsesFolder()
                               : QFileInfo(options.responsesFolder).absoluteFilePath();
    dump.plan = DumpPlan::prepare(request);
    if (!dump.plan.ok())
        dump.problem = cliRefusalText(dump.plan);
    return dump;
}
