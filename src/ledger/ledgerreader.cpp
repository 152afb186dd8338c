#include "ledgerreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr qint64 BlockMin = std::numeric_limits<qint32>::min();
constexpr qint64 BlockMax = std::numeric_limits<qint32>::max();

QString quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

QString typeName(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a text");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("missing");
}

bool isLowerHex(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

bool isLowerHex(QStringView text) {
    for (const QChar c : text) {
        if (!isLowerHex(c))
            return false;
    }
    return true;
}

// True when the text is what Ledger::escapeBytes() makes: printable ASCII, every backslash
// starting \\, \r, \n, \t or \x and two lowercase hex digits.
bool isEscapedText(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 || c > 0x7E)
            return false;
        if (c != u'\\')
            continue;
        if (++i == text.size())
            return false;
        const char16_t escape = text[i].unicode();
        if (escape == u'x') {
            if (i + 2 >= text.size() || !isLowerHex(text[i + 1]) || !isLowerHex(text[i + 2]))
                return false;
            i += 2;
        } else if (escape != u'\\' && escape != u'r' && escape != u'n' && escape != u't') {
            return false;
        }
    }
    return true;
}

// A text from the file as a message shows it: escaped, and cut when long.
QString shown(const QString& text) {
    constexpr qsizetype Longest = 40;
    const QString escaped = Ledger::escapeBytes(text.left(Longest).toUtf8());
    return QLatin1Char('"') + escaped +
           (text.size() > Longest ? QStringLiteral("...\"") : QStringLiteral("\""));
}

QString rangeText(qint64 first, qint64 last) {
    return first > last ? QStringLiteral("none") : QStringLiteral("%1 to %2").arg(first).arg(last);
}

} // namespace

LedgerReader::LedgerReader(QString fileName) : m_fileName(std::move(fileName)) {}

std::optional<Ledger> LedgerReader::read(QByteArrayView bytes) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(QStringLiteral("not valid JSON (%1 at offset %2)")
                 .arg(parseError.errorString())
                 .arg(parseError.offset));
        return std::nullopt;
    }
    if (!document.isObject()) {
        fail(QStringLiteral("not a ledger: the JSON text is not an object"));
        return std::nullopt;
    }
    Ledger ledger;
    if (!readTop(document.object(), ledger) || !checkConsistency(ledger))
        return std::nullopt;
    return ledger;
}

bool LedgerReader::readTop(const QJsonObject& top, Ledger& ledger) {
    const QString none;
    QJsonValue value;
    int records = 0;
    return readFormat(top) && member(top, none, QStringLiteral("tool"), value) &&
           readTool(value, ledger.tool) && member(top, none, QStringLiteral("device"), value) &&
           readDevice(value, ledger.device) &&
           member(top, none, QStringLiteral("loader_banner"), value) &&
           banner(value, ledger.loaderBanner) && readRange(top, ledger, records) &&
           readBlockDigests(top, records, ledger) && readResults(top, records, ledger) &&
           readRuns(top, ledger) && readVerified(top, ledger);
}

bool LedgerReader::readFormat(const QJsonObject& top) {
    const QJsonValue value = top.value(QStringLiteral("format"));
    if (value.isUndefined())
        return fail(QStringLiteral("not a ledger: no \"format\""));
    int format = 0;
    if (!integer(value, QStringLiteral("format"), BlockMin, BlockMax, format))
        return false;
    if (format != Ledger::Format) {
        return fail(QStringLiteral("unknown ledger format %1 (this program reads format %2)")
                        .arg(format)
                        .arg(Ledger::Format));
    }
    return true;
}

bool LedgerReader::readRange(const QJsonObject& top, Ledger& ledger, int& records) {
    const QString none;
    QJsonValue value;
    // The range a dump can have been asked for: what the block boxes and --start/--count take.
    if (!member(top, none, QStringLiteral("first_block"), value) ||
        !integer(value, QStringLiteral("first_block"), 0, BlockRange::LargestFirst,
                 ledger.range.first) ||
        !member(top, none, QStringLiteral("block_count"), value) ||
        !integer(value, QStringLiteral("block_count"), 1, BlockRange::LargestCount,
                 ledger.range.count))
        return false;

    if (!member(top, none, QStringLiteral("records"), value) ||
        !integer(value, QStringLiteral("records"), 0, BlockMax, records))
        return false;
    if (records > ledger.range.count) {
        return fail(QStringLiteral("\"records\" is %1, more than the %2 blocks of the range")
                        .arg(records)
                        .arg(ledger.range.count));
    }
    return true;
}

bool LedgerReader::readBlockDigests(const QJsonObject& top, int records, Ledger& ledger) {
    QJsonValue value;
    if (!member(top, QString(), QStringLiteral("block_sha256"), value))
        return false;
    if (!value.isArray())
        return fail(QStringLiteral("\"block_sha256\" is %1, expected a list").arg(typeName(value)));
    const QJsonArray digests = value.toArray();
    if (digests.size() != records) {
        return fail(QStringLiteral("\"block_sha256\" holds %1 digests for %2 records")
                        .arg(digests.size())
                        .arg(records));
    }
    ledger.blockDigests.reserve(records);
    for (qsizetype i = 0; i < digests.size(); ++i) {
        QByteArray digest;
        if (!this->digest(digests.at(i), QStringLiteral("block_sha256[%1]").arg(i), digest))
            return false;
        ledger.blockDigests.append(digest);
    }
    return true;
}

bool LedgerReader::readResults(const QJsonObject& top, int records, Ledger& ledger) {
    const QString none;
    QJsonValue value;
    return member(top, none, QStringLiteral("bad_blocks"), value) &&
           blocks(value, QStringLiteral("bad_blocks"), ledger.range.first,
                  qint64(ledger.range.first) + records - 1, ledger.badBlocks) &&
           member(top, none, QStringLiteral("total"), value) &&
           total(value, QStringLiteral("total"), ledger.total) &&
           member(top, none, QStringLiteral("outcome"), value) &&
           outcome(value, QStringLiteral("outcome"), ledger.outcome) &&
           member(top, none, QStringLiteral("sha256"), value) &&
           digest(value, QStringLiteral("sha256"), ledger.sha256) &&
           member(top, none, QStringLiteral("started"), value) &&
           time(value, QStringLiteral("started"), ledger.started) &&
           member(top, none, QStringLiteral("finished"), value) &&
           time(value, QStringLiteral("finished"), ledger.finished);
}

bool LedgerReader::readRuns(const QJsonObject& top, Ledger& ledger) {
    QJsonValue value;
    if (!member(top, QString(), QStringLiteral("runs"), value))
        return false;
    if (!value.isArray())
        return fail(QStringLiteral("\"runs\" is %1, expected a list").arg(typeName(value)));
    const QJsonArray runs = value.toArray();
    for (qsizetype i = 0; i < runs.size(); ++i) {
        Ledger::Run run;
        if (!readRun(runs.at(i), QStringLiteral("runs[%1]").arg(i), ledger, run))
            return false;
        ledger.runs.append(run);
    }
    return true;
}

bool LedgerReader::readVerified(const QJsonObject& top, Ledger& ledger) {
    const QJsonValue value = top.value(QStringLiteral("verified"));
    if (value.isUndefined())
        return true;
    Ledger::Verification verification;
    if (!readVerification(value, ledger, verification))
        return false;
    ledger.verified = verification;
    return true;
}

bool LedgerReader::readTool(const QJsonValue& value, Ledger::Tool& tool) {
    const QString name = QStringLiteral("tool");
    QJsonObject object;
    QJsonValue member;
    return this->object(value, name, object) &&
           this->member(object, name, QStringLiteral("name"), member) &&
           text(member, QStringLiteral("tool.name"), tool.name) &&
           this->member(object, name, QStringLiteral("version"), member) &&
           text(member, QStringLiteral("tool.version"), tool.version);
}

bool LedgerReader::readDevice(const QJsonValue& value, Ledger::Device& device) {
    const QString name = QStringLiteral("device");
    QJsonObject object;
    QJsonValue member;
    if (!this->object(value, name, object) ||
        !this->member(object, name, QStringLiteral("path"), member) ||
        !text(member, QStringLiteral("device.path"), device.path) ||
        !usbId(object.value(QStringLiteral("vid")), QStringLiteral("device.vid"), device.vid) ||
        !usbId(object.value(QStringLiteral("pid")), QStringLiteral("device.pid"), device.pid))
        return false;
    const std::pair<const char*, std::optional<QString>*> optionalTexts[] = {
        {"serial", &device.serial},
        {"description", &device.description},
    };
    for (const auto& [key, field] : optionalTexts) {
        member = object.value(QLatin1String(key));
        if (member.isUndefined())
            continue;
        QString result;
        if (!text(member, QStringLiteral("device.") + QLatin1String(key), result))
            return false;
        *field = result;
    }
    return true;
}

bool LedgerReader::readRun(const QJsonValue& value, const QString& name, const Ledger& ledger,
                           Ledger::Run& run) {
    QJsonObject object;
    QJsonValue member;
    if (!this->object(value, name, object))
        return false;
    const QString prefix = name + QLatin1Char('.');

    QString kind;
    if (!this->member(object, name, QStringLiteral("kind"), member) ||
        !text(member, prefix + QStringLiteral("kind"), kind))
        return false;
    const std::optional<Ledger::RunKind> knownKind = Ledger::runKindFromName(kind);
    if (!knownKind) {
        return fail(QStringLiteral("%1 is %2, not a kind of run (dump, resume, repair)")
                        .arg(quoted(prefix + QStringLiteral("kind")), shown(kind)));
    }
    run.kind = *knownKind;

    if (!this->member(object, name, QStringLiteral("first_block"), member) ||
        !integer(member, prefix + QStringLiteral("first_block"), ledger.range.first,
                 qint64(ledger.range.first) + ledger.range.count, run.range.first) ||
        !this->member(object, name, QStringLiteral("block_count"), member) ||
        !integer(member, prefix + QStringLiteral("block_count"), 0,
                 qint64(ledger.range.first) + ledger.range.count - run.range.first,
                 run.range.count) ||
        !this->member(object, name, QStringLiteral("blocks_written"), member) ||
        !integer(member, prefix + QStringLiteral("blocks_written"), 0, run.range.count,
                 run.blocksWritten) ||
        !this->member(object, name, QStringLiteral("started"), member) ||
        !time(member, prefix + QStringLiteral("started"), run.started) ||
        !this->member(object, name, QStringLiteral("finished"), member) ||
        !time(member, prefix + QStringLiteral("finished"), run.finished) ||
        !this->member(object, name, QStringLiteral("total"), member) ||
        !total(member, prefix + QStringLiteral("total"), run.total) ||
        !this->member(object, name, QStringLiteral("outcome"), member) ||
        !outcome(member, prefix + QStringLiteral("outcome"), run.outcome))
        return false;
    return true;
}

bool LedgerReader::readVerification(const QJsonValue& value, const Ledger& ledger,
                                    Ledger::Verification& verification) {
    const QString name = QStringLiteral("verified");
    QJsonObject object;
    QJsonValue member;
    bool identical = false;
    if (!this->object(value, name, object) ||
        !this->member(object, name, QStringLiteral("at"), member) ||
        !time(member, QStringLiteral("verified.at"), verification.at) ||
        !this->member(object, name, QStringLiteral("identical"), member) ||
        !boolean(member, QStringLiteral("verified.identical"), identical) ||
        !this->member(object, name, QStringLiteral("differing_blocks"), member) ||
        !blocks(member, QStringLiteral("verified.differing_blocks"), ledger.range.first,
                ledger.range.last(), verification.differingBlocks))
        return false;
    // Ledgers written before blocks could go uncompared have no such list.
    member = object.value(QStringLiteral("uncompared_blocks"));
    if (!member.isUndefined() &&
        !blocks(member, QStringLiteral("verified.uncompared_blocks"), ledger.range.first,
                ledger.range.last(), verification.uncomparedBlocks))
        return false;
    if (identical != verification.identical()) {
        return fail(identical ? QStringLiteral("\"verified.identical\" is true but "
                                               "\"verified\" lists blocks")
                              : QStringLiteral("\"verified.identical\" is false but "
                                               "\"verified\" lists no block"));
    }
    return true;
}

bool LedgerReader::checkConsistency(const Ledger& ledger) {
    if (ledger.runs.isEmpty())
        return fail(QStringLiteral("\"runs\" is empty: no run wrote into the file"));
    if (ledger.total != ledger.runs.last().total)
        return fail(QStringLiteral("\"total\" differs from the total of the latest run"));
    // A total that did not match may vouch for the records again once they are repaired, and an
    // identical verification vouches for them whatever the totals said: only the lists tell
    // whether "complete" contradicts the ledger.
    if (ledger.outcome == Ledger::Outcome::Complete &&
        (ledger.records() != ledger.range.count || !ledger.badBlocks.isEmpty()))
        return fail(QStringLiteral("\"outcome\" is \"complete\" but records are missing or "
                                   "bad"));
    if (ledger.outcome == Ledger::Outcome::TotalUnchecked &&
        (ledger.records() != ledger.range.count || !ledger.badBlocks.isEmpty()))
        return fail(QStringLiteral("\"outcome\" is \"total_unchecked\" but records are missing "
                                   "or bad"));
    if (ledger.outcome == Ledger::Outcome::FlashDiffers && !ledger.flashDiffers())
        return fail(QStringLiteral("\"outcome\" is \"flash_differs\" but no verification found "
                                   "a record differing"));
    if (ledger.outcome == Ledger::Outcome::BadSums && ledger.badBlocks.isEmpty())
        return fail(QStringLiteral("\"outcome\" is \"bad_sums\" but \"bad_blocks\" is empty"));
    return true;
}

bool LedgerReader::member(const QJsonObject& object, const QString& prefix, const QString& key,
                          QJsonValue& value) {
    value = object.value(key);
    if (!value.isUndefined())
        return true;
    return fail(QStringLiteral("%1 is missing")
                    .arg(quoted(prefix.isEmpty() ? key : prefix + QLatin1Char('.') + key)));
}

bool LedgerReader::object(const QJsonValue& value, const QString& name, QJsonObject& result) {
    if (!value.isObject())
        return fail(
            QStringLiteral("%1 is %2, expected an object").arg(quoted(name), typeName(value)));
    result = value.toObject();
    return true;
}

bool LedgerReader::integer(const QJsonValue& value, const QString& name, qint64 minimum,
                           qint64 maximum, int& result) {
    minimum = std::max(minimum, BlockMin);
    maximum = std::min(maximum, BlockMax);
    const double number = value.toDouble();
    if (!value.isDouble() || !std::isfinite(number) || std::trunc(number) != number) {
        return fail(
            QStringLiteral("%1 is %2, expected a whole number")
                .arg(quoted(name), value.isDouble() ? QString::number(number) : typeName(value)));
    }
    if (number < double(minimum) || number > double(maximum)) {
        return fail(
            QStringLiteral("%1 is %2, expected %3")
                .arg(quoted(name), QString::number(number, 'g', 17),
                     QStringLiteral("a whole number from %1 to %2").arg(minimum).arg(maximum)));
    }
    result = static_cast<int>(number);
    return true;
}

bool LedgerReader::text(const QJsonValue& value, const QString& name, QString& result) {
    if (!value.isString())
        return fail(QStringLiteral("%1 is %2, expected a text").arg(quoted(name), typeName(value)));
    result = value.toString();
    return true;
}

bool LedgerReader::boolean(const QJsonValue& value, const QString& name, bool& result) {
    if (!value.isBool()) {
        return fail(
            QStringLiteral("%1 is %2, expected true or false").arg(quoted(name), typeName(value)));
    }
    result = value.toBool();
    return true;
}

bool LedgerReader::time(const QJsonValue& value, const QString& name, QDateTime& result) {
    QString timeText;
    if (!text(value, name, timeText))
        return false;
    // Only the exact form the ledger writes: what is read back is what would be written.
    const QDateTime parsed = QDateTime::fromString(timeText, Qt::ISODate);
    if (!parsed.isValid() || parsed.timeSpec() != Qt::UTC ||
        parsed.toString(Qt::ISODate) != timeText) {
        return fail(QStringLiteral("%1 is %2, expected a UTC time like 2024-05-01T12:34:56Z")
                        .arg(quoted(name), shown(timeText)));
    }
    result = parsed;
    return true;
}

bool LedgerReader::digest(const QJsonValue& value, const QString& name, QByteArray& result) {
    QString hex;
    if (!text(value, name, hex))
        return false;
    if (hex.size() != 2 * Ledger::DigestSize || !isLowerHex(hex)) {
        return fail(QStringLiteral("%1 is not a SHA-256 digest (64 lowercase hex digits)")
                        .arg(quoted(name)));
    }
    result = QByteArray::fromHex(hex.toLatin1());
    return true;
}

bool LedgerReader::usbId(const QJsonValue& value, const QString& name,
                         std::optional<quint16>& result) {
    if (value.isUndefined())
        return true;
    QString hex;
    if (!text(value, name, hex))
        return false;
    if (hex.size() != 4 || !isLowerHex(hex)) {
        return fail(QStringLiteral("%1 is %2, expected four lowercase hex digits")
                        .arg(quoted(name), shown(hex)));
    }
    result = static_cast<quint16>(hex.toUInt(nullptr, 16));
    return true;
}

bool LedgerReader::banner(const QJsonValue& value, QString& result) {
    const QString name = QStringLiteral("loader_banner");
    if (!text(value, name, result))
        return false;
    if (!isEscapedText(result)) {
        return fail(QStringLiteral("\"loader_banner\" holds a character that should have been "
                                   "escaped, or a malformed escape"));
    }
    return true;
}

bool LedgerReader::blocks(const QJsonValue& value, const QString& name, qint64 first, qint64 last,
                          QList<int>& result) {
    if (!value.isArray())
        return fail(QStringLiteral("%1 is %2, expected a list").arg(quoted(name), typeName(value)));
    const QJsonArray array = value.toArray();
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        int block = 0;
        const QString item = name + QStringLiteral("[%1]").arg(i);
        if (!integer(array.at(i), item, BlockMin, BlockMax, block))
            return false;
        if (block < first || block > last) {
            return fail(QStringLiteral("%1 is block %2, outside the blocks it may name (%3)")
                            .arg(quoted(item))
                            .arg(block)
                            .arg(rangeText(first, last)));
        }
        if (!result.isEmpty() && block <= result.last()) {
            return fail(QStringLiteral("%1 is not in ascending order (%2 after %3)")
                            .arg(quoted(name))
                            .arg(block)
                            .arg(result.last()));
        }
        result.append(block);
    }
    return true;
}

bool LedgerReader::total(const QJsonValue& value, const QString& name,
                         std::optional<Ledger::Total>& result) {
    if (value.isNull()) {
        result.reset();
        return true;
    }
    QJsonObject object;
    QJsonValue member;
    Ledger::Total total;
    bool match = false;
    const QString prefix = name + QLatin1Char('.');
    if (!this->object(value, name, object) ||
        !this->member(object, name, QStringLiteral("loader"), member) ||
        !integer(member, prefix + QStringLiteral("loader"), 0, 255, total.loader) ||
        !this->member(object, name, QStringLiteral("computed"), member) ||
        !integer(member, prefix + QStringLiteral("computed"), 0, 255, total.computed) ||
        !this->member(object, name, QStringLiteral("match"), member) ||
        !boolean(member, prefix + QStringLiteral("match"), match))
        return false;
    if (match != total.match()) {
        return fail(QStringLiteral("%1 is %2 for loader %3 and computed %4")
                        .arg(quoted(prefix + QStringLiteral("match")),
                             match ? QStringLiteral("true") : QStringLiteral("false"))
                        .arg(total.loader)
                        .arg(total.computed));
    }
    result = total;
    return true;
}

bool LedgerReader::outcome(const QJsonValue& value, const QString& name, Ledger::Outcome& result) {
    QString outcomeText;
    if (!text(value, name, outcomeText))
        return false;
    const std::optional<Ledger::Outcome> known = Ledger::outcomeFromName(outcomeText);
    if (!known) {
        return fail(
            QStringLiteral("%1 is %2, not a known outcome").arg(quoted(name), shown(outcomeText)));
    }
    result = *known;
    return true;
}

bool LedgerReader::fail(const QString& problem) {
    m_error = m_fileName + QStringLiteral(": ") + problem;
    return false;
}
