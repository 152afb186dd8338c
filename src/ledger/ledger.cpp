#include "ledger.h"

#include "ledgerreader.h"
#include "safefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<Ledger::Outcome, const char*>, 10> OutcomeNames{{
    {Ledger::Outcome::Complete, "complete"},
    {Ledger::Outcome::BadSums, "bad_sums"},
    {Ledger::Outcome::TotalMismatch, "total_mismatch"},
    {Ledger::Outcome::TotalUnchecked, "total_unchecked"},
    {Ledger::Outcome::FlashDiffers, "flash_differs"},
    {Ledger::Outcome::CutShort, "cut_short"},
    {Ledger::Outcome::DeviceLost, "device_lost"},
    {Ledger::Outcome::Timeout, "timeout"},
    {Ledger::Outcome::Interrupted, "interrupted"},
    {Ledger::Outcome::FileError, "file_error"},
}};

constexpr std::array<std::pair<Ledger::RunKind, const char*>, 3> RunKindNames{{
    {Ledger::RunKind::Dump, "dump"},
    {Ledger::RunKind::Resume, "resume"},
    {Ledger::RunKind::Repair, "repair"},
}};

QString timeText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

QJsonValue totalJson(const std::optional<Ledger::Total>& total) {
    if (!total)
        return QJsonValue::Null;
    return QJsonObject{
        {QStringLiteral("loader"), total->loader},
        {QStringLiteral("computed"), total->computed},
        {QStringLiteral("match"), total->match()},
    };
}

QJsonArray blockArray(const QList<int>& blocks) {
    QJsonArray array;
    for (const int block : blocks)
        array.append(block);
    return array;
}

QJsonObject deviceJson(const Ledger::Device& device) {
    QJsonObject object{{QStringLiteral("path"), device.path}};
    if (device.vid)
        object.insert(QStringLiteral("vid"), usbIdText(*device.vid));
    if (device.pid)
        object.insert(QStringLiteral("pid"), usbIdText(*device.pid));
    if (device.serial)
        object.insert(QStringLiteral("serial"), *device.serial);
    if (device.description)
        object.insert(QStringLiteral("description"), *device.description);
    return object;
}

QJsonObject runJson(const Ledger::Run& run) {
    return QJsonObject{
        {QStringLiteral("kind"), Ledger::runKindName(run.kind)},
        {QStringLiteral("first_block"), run.range.first},
        {QStringLiteral("block_count"), run.range.count},
        {QStringLiteral("blocks_written"), run.blocksWritten},
        {QStringLiteral("started"), timeText(run.started)},
        {QStringLiteral("finished"), timeText(run.finished)},
        {QStringLiteral("total"), totalJson(run.total)},
        {QStringLiteral("outcome"), Ledger::outcomeName(run.outcome)},
    };
}

} // namespace

QList<BlockRange> Ledger::blocksToRead() const {
    QList<BlockRange> ranges;
    const auto add = [&](int first, int count) {
        if (!ranges.isEmpty() && qint64(ranges.last().first) + ranges.last().count == first)
            ranges.last().count += count;
        else
            ranges.append({first, count});
    };
    for (const int block : badBlocks)
        add(block, 1);
    if (records() < range.count)
        add(range.first + records(), range.count - records());
    return ranges;
}

Ledger::Standing Ledger::standing(const QList<quint8>& recordSums) const {
    if (records() < range.count)
        return Standing::Missing;
    if (flashDiffers())
        return Standing::FlashDiffers;
    if (!badBlocks.isEmpty())
        return Standing::BadSums;
    if (verified && verified->identical())
        return Standing::Complete;
    QList<bool> vouched(records(), false);
    QList<bool> mismatched(records(), false);
    for (const Run& run : runs) {
        if (!run.total)
            continue;
        const bool consistent = runVouches(run, recordSums);
        const qint64 from = qint64(run.range.first) - range.first;
        const qint64 to = std::min<qint64>(from + run.range.count, records());
        for (qint64 record = std::max<qint64>(from, 0); record < to; ++record) {
            if (consistent)
                vouched[record] = true;
            else
                mismatched[record] = true;
        }
    }
    Standing result = Standing::Complete;
    for (int record = 0; record < records(); ++record) {
        if (vouched.at(record))
            continue;
        if (mismatched.at(record))
            return Standing::TotalMismatch;
        result = Standing::TotalUnchecked;
    }
    return result;
}

bool Ledger::runVouches(const Run& run, const QList<quint8>& recordSums) const {
    const qint64 from = qint64(run.range.first) - range.first;
    const qint64 to = from + run.range.count;
    if (!run.total || from < 0 || to > recordSums.size() || to > records())
        return false;
    int sum = 0;
    for (qint64 record = from; record < to; ++record)
        sum += recordSums.at(record);
    return sum % 256 == run.total->loader;
}

Ledger::Outcome Ledger::fileOutcome(Outcome runOutcome, const QList<quint8>& recordSums) const {
    if (runOutcome != Outcome::Complete && runOutcome != Outcome::BadSums &&
        runOutcome != Outcome::TotalMismatch)
        return runOutcome;
    switch (standing(recordSums)) {
    case Standing::Complete:
        return Outcome::Complete;
    case Standing::Missing:
        return Outcome::CutShort;
    case Standing::FlashDiffers:
        return Outcome::FlashDiffers;
    case Standing::BadSums:
        return Outcome::BadSums;
    case Standing::TotalMismatch:
        return Outcome::TotalMismatch;
    case Standing::TotalUnchecked:
        return Outcome::TotalUnchecked;
    }
    return Outcome::CutShort;
}

bool Ledger::flashDiffers() const {
    if (!verified)
        return false;
    return std::any_of(verified->differingBlocks.begin(), verified->differingBlocks.end(),
                       [this](int block) {
                           return qint64(block) - range.first < records() &&
                                  !std::binary_search(badBlocks.begin(), badBlocks.end(), block);
                       });
}

void Ledger::recordVerification(const Verification& verification, const QList<quint8>& recordSums) {
    verified = verification;
    outcome = fileOutcome(Outcome::Complete, recordSums);
}

QByteArray Ledger::toJson() const {
    QJsonArray digests;
    for (const QByteArray& digest : blockDigests)
        digests.append(QString::fromLatin1(digest.toHex()));
    QJsonArray runArray;
    for (const Run& run : runs)
        runArray.append(runJson(run));

    QJsonObject object{
        {QStringLiteral("format"), Format},
        {QStringLiteral("tool"), QJsonObject{{QStringLiteral("name"), tool.name},
                                             {QStringLiteral("version"), tool.version}}},
        {QStringLiteral("device"), deviceJson(device)},
        {QStringLiteral("loader_banner"), loaderBanner},
        {QStringLiteral("first_block"), range.first},
        {QStringLiteral("block_count"), range.count},
        {QStringLiteral("records"), records()},
        {QStringLiteral("bad_blocks"), blockArray(badBlocks)},
        {QStringLiteral("block_sha256"), digests},
        {QStringLiteral("total"), totalJson(total)},
        {QStringLiteral("outcome"), outcomeName(outcome)},
        {QStringLiteral("sha256"), QString::fromLatin1(sha256.toHex())},
        {QStringLiteral("started"), timeText(started)},
        {QStringLiteral("finished"), timeText(finished)},
        {QStringLiteral("runs"), runArray},
    };
    if (verified) {
        object.insert(
            QStringLiteral("verified"),
            QJsonObject{
                {QStringLiteral("at"), timeText(verified->at)},
                {QStringLiteral("identical"), verified->identical()},
                {QStringLiteral("differing_blocks"), blockArray(verified->differingBlocks)},
                {QStringLiteral("uncompared_blocks"), blockArray(verified->uncomparedBlocks)},
            });
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<Ledger> Ledger::parse(QByteArrayView bytes, const QString& fileName, QString* error) {
    LedgerReader reader(fileName);
    std::optional<Ledger> ledger = reader.read(bytes);
    if (!ledger && error)
        *error = reader.error();
    return ledger;
}

std::optional<Ledger> Ledger::load(const QString& ledgerPath, QString* error) {
    const auto refuse = [&](const QString& problem) {
        if (error)
            *error = ledgerPath + QStringLiteral(": cannot read the ledger: ") + problem;
        return std::nullopt;
    };
    QFile file;
    QString problem;
    if (!openRegularFile(file, ledgerPath, &problem))
        return refuse(problem);
    if (file.size() > MaxFileSize) {
        if (error)
            *error =
                ledgerPath + QStringLiteral(": %1 bytes, larger than any ledger").arg(file.size());
        return std::nullopt;
    }
    // At most one byte more than allowed: a file that grows while it is read is still refused.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(file.errorString());
    if (bytes.size() > MaxFileSize)
        return refuse(QStringLiteral("larger than any ledger"));
    return parse(bytes, ledgerPath, error);
}

bool Ledger::writeAtomically(const QString& ledgerPath, QString* error) const {
    QString problem;
    if (!replaceFile(ledgerPath, toJson(), &problem)) {
        if (error)
            *error = ledgerPath + QStringLiteral(": cannot write the ledger: ") + problem;
        return false;
    }
    return true;
}

QString Ledger::pathFor(const QString& dumpPath) {
    return dumpPath + QStringLiteral(".json");
}

Ledger::Tool Ledger::thisTool() {
    return {QCoreApplication::applicationName(), QStringLiteral(DECODUMP_VERSION)};
}

QDateTime Ledger::now() {
    const QDateTime time = QDateTime::currentDateTimeUtc();
    return time.addMSecs(-time.time().msec());
}

QString Ledger::escapeBytes(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<quint8>(c);
        if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (byte == '\r')
            text += QStringLiteral("\\r");
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (byte == '\t')
            text += QStringLiteral("\\t");
        else if (byte >= 0x20 && byte <= 0x7E)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString Ledger::outcomeName(Outcome outcome) {
    for (const auto& [value, name] : OutcomeNames) {
        if (value == outcome)
            return QString::fromLatin1(name);
    }
    return {};
}

std::optional<Ledger::Outcome> Ledger::outcomeFromName(QStringView name) {
    for (const auto& [value, text] : OutcomeNames) {
        if (name == QLatin1String(text))
            return value;
    }
    return std::nullopt;
}

QString Ledger::runKindName(RunKind kind) {
    for (const auto& [value, name] : RunKindNames) {
        if (value == kind)
            return QString::fromLatin1(name);
    }
    return {};
}

std::optional<Ledger::RunKind> Ledger::runKindFromName(QStringView name) {
    for (const auto& [value, text] : RunKindNames) {
        if (name == QLatin1String(text))
            return value;
    }
    return std::nullopt;
}
