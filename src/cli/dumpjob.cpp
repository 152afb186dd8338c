#include "dumpjob.h"

#include "clioptions.h"
#include "dialogue.h"
#include "dumppath.h"
#include "numeric.h"
#include "programfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

int wholeOrZero(const QString& text) {
    return wholeNumber(numericValue(text)).value_or(0);
}

} // namespace

DumpJob DumpJob::prepare(const CliOptions& options) {
    DumpJob job;
    job.firstBlockText = options.firstBlockText;
    job.blockCountText = options.blockCountText;
    job.requestedFirst = wholeOrZero(options.firstBlockText);
    job.requestedCount = wholeOrZero(options.blockCountText);

    // The path as the system will take it, so that messages name what is meant ("-o .." is the
    // parent folder, by its name).
    const QFileInfo output(QDir::cleanPath(QFileInfo(options.outputPath).absoluteFilePath()));
    const QString folder = output.absolutePath();
    job.folderText = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    job.fileName = output.fileName();

    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists()) {
        job.problem = QStringLiteral("the output folder %1 does not exist").arg(folder);
        return job;
    }
    if (!folderInfo.isDir()) {
        job.problem = QStringLiteral("the output folder %1 is not a folder").arg(folder);
        return job;
    }
    // Whether the loader will ask for response files shows only in the dialogue, which reads
    // them then; a dump through the keyword path needs none.
    job.responsesFolder = options.responsesFolder.isEmpty()
                              ? defaultResponsesFolder()
                              : QFileInfo(options.responsesFolder).absoluteFilePath();
    const DumpPath target = DumpPath::check(job.dumpPath(), options.resume);
    if (!target.ok()) {
        job.problem = QStringLiteral("cannot write the dump file %1: %2")
                          .arg(job.dumpPath(), target.englishReason());
        return job;
    }
    if (options.resume)
        job.planResume();
    return job;
}

int DumpJob::blockCount() const {
    return wholeOrZero(blockCountText);
}

bool DumpJob::planResume() {
    QFile file(dumpPath());
    if (!file.exists())
        return true;
    const qint64 size = file.size();
    const qint64 records = size / Dialogue::BlockSize;
    if (records >= requestedCount) {
        alreadyComplete = true;
        resumedRecords = requestedCount;
        return true;
    }
    resumedRecords = static_cast<int>(records);
    cutBytes = size - records * Dialogue::BlockSize;
    if (cutBytes > 0 && !file.resize(records * Dialogue::BlockSize)) {
        problem = QStringLiteral("cannot cut the partial record at the end of %1: %2")
                      .arg(dumpPath(), file.errorString());
        return false;
    }
    firstBlockText = fourDigitForm(requestedFirst + resumedRecords);
    blockCountText = fourDigitForm(requestedCount - resumedRecords);
    return true;
}
