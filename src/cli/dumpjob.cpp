#include "dumpjob.h"

#include "clioptions.h"
#include "dialogue.h"
#include "numeric.h"
#include "programfolders.h"

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

    const QFileInfo output(options.outputPath);
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
    if (options.resume && !job.planResume())
        return job;
    if (job.alreadyComplete)
        return job;
    if (job.checkWritable())
        job.checkResponses(options.responsesFolder);
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

bool DumpJob::checkWritable() {
    // Found out now rather than once the loader has started sending.
    QFile probe(dumpPath());
    const bool existed = probe.exists();
    if (existed && QFileInfo(probe).isDir()) {
        problem = QStringLiteral("cannot write the dump file %1: it is a folder").arg(dumpPath());
        return false;
    }
    if (!probe.open(existed ? QIODevice::ReadWrite : QIODevice::ReadWrite | QIODevice::NewOnly)) {
        problem = QStringLiteral("cannot write the dump file %1: %2")
                      .arg(dumpPath(), probe.errorString());
        return false;
    }
    probe.close();
    if (!existed)
        probe.remove();
    return true;
}

bool DumpJob::checkResponses(const QString& given) {
    responsesFolder =
        given.isEmpty() ? defaultResponsesFolder() : QFileInfo(given).absoluteFilePath();
    if (QFileInfo(responsesFolder).isDir())
        return true;
    problem =
        QStringLiteral("the response folder %1 does not exist (name one with --responses DIR)")
            .arg(responsesFolder);
    return false;
}
