#pragma once

#include "blockrange.h"
#include "blocksize.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// The record kept beside a dump file (<dump>.json): what was read, from what, when, how each run
// that wrote into the file ended, and a digest of every record, so that a later run can tell
// which records of the file it may trust. docs/ledger.md describes every key.
//
// Block numbers are those asked of the loader; record k of the file holds block range.first + k.
class Ledger {
public:
    static constexpr int Format = 1;
    static constexpr int DigestSize = 32; // SHA-256
    // Far more than the ledger of any dump takes; a larger file is refused unread.
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

    // How a run ended; the ledger's own outcome describes the file after its latest run.
    enum class Outcome {
        Complete,      // every block arrived with a good sum and the totals matched
        BadSums,       // blocks whose sum failed are in the file
        TotalMismatch, // the loader's total differs from the computed one
        // Every record is there with a good sum, but some were read by a run whose total was
        // never received (a run cut short, then resumed): only a verification vouches for them.
        TotalUnchecked,
        // Every record is there, but the latest verification read blocks from the device that
        // differ from records the file vouched for: another decoder, or a changed flash.
        FlashDiffers,
        CutShort, // the port closed under the transfer, or records are missing
        DeviceLost,
        Timeout,
        Interrupted, // stopped by the operator, or still running when the ledger was written
        FileError,
    };
    enum class RunKind { Dump, Resume, Repair };

    struct Tool {
        QString name;
        QString version;
        bool operator==(const Tool&) const = default;
    };
    // USB fields stay empty for a device that is not a USB adapter; they are then left out.
    struct Device {
        QString path;
        std::optional<quint16> vid;
        std::optional<quint16> pid;
        std::optional<QString> serial;
        std::optional<QString> description;
        bool operator==(const Device&) const = default;
    };
    struct Total {
        int loader = 0;   // the byte the loader sent
        int computed = 0; // the sum modulo 256 of the data bytes received in the run
        bool match() const { return loader == computed; }
        bool operator==(const Total&) const = default;
    };
    struct Run {
        RunKind kind = RunKind::Dump;
        BlockRange range; // the blocks this run asked for
        int blocksWritten = 0;
        QDateTime started;
        QDateTime finished;
        std::optional<Total> total; // none when no total was received
        Outcome outcome = Outcome::Interrupted;
        bool operator==(const Run&) const = default;
    };
    struct Verification {
        QDateTime at;
        QList<int> differingBlocks; // ascending: read with a good sum, unlike their records
        // Ascending: read with a bad sum, or with no record in the file to compare with.
        QList<int> uncomparedBlocks{};
        bool identical() const { return differingBlocks.isEmpty() && uncomparedBlocks.isEmpty(); }
        bool operator==(const Verification&) const = default;
    };
    Tool tool;
    Device device;
    QString loaderBanner;           // already escaped, see escapeBytes()
    BlockRange range;               // of the whole file
    QList<int> badBlocks;           // ascending block numbers of records whose sum failed
    QList<QByteArray> blockDigests; // "block_sha256", raw: one per record of the file, in order
    std::optional<Total> total;     // the latest run's
    Outcome outcome = Outcome::Interrupted;
    QByteArray sha256; // of the whole dump file when the ledger was written
    QDateTime started;
    QDateTime finished;
    QList<Run> runs;
    std::optional<Verification> verified;

    bool operator==(const Ledger&) const = default;

    int records() const { return static_cast<int>(blockDigests.size()); }
    // The blocks still to be read: those whose sum failed and those not in the file yet, as
    // contiguous ranges in ascending order.
    QList<BlockRange> blocksToRead() const;

    // How the file stands whatever ended its latest run. Complete: every record is there, none
    // bad, and each is vouched for by a total: that of a run over it, checked against the
    // file's records of the run's range as they now stand (recordSums: the sum modulo 256 of
    // each record of the file), or an identical verification since the latest run.
    enum class Standing { Complete, Missing, FlashDiffers, BadSums, TotalMismatch, TotalUnchecked };
    Standing standing(const QList<quint8>& recordSums) const;
    // Whether the run's total is that of the file's records of its range as they now stand.
    bool runVouches(const Run& run, const QList<quint8>& recordSums) const;
    // The ledger's outcome after a run that ended with `runOutcome`: how that run ended when it
    // did not reach its total, else how the file stands.
    Outcome fileOutcome(Outcome runOutcome, const QList<quint8>& recordSums) const;
    // Whether the latest verification, since the latest run, found a record the file holds
    // with a good sum differing from the device: the device is not what the file was read from.
    bool flashDiffers() const;
    // A verification read the whole range again: it is kept with the ledger and decides how the
    // file stands (recordSums as for standing()). It makes no record bad: a repair reads again
    // only what failed its sum or is missing.
    void recordVerification(const Verification& verification, const QList<quint8>& recordSums);

    // The ledger as indented JSON; keys appear in alphabetical order.
    QByteArray toJson() const;
    // Reads a ledger. Anything that is not a ledger of this format, or that contradicts itself,
    // is refused: nothing is returned and *error names `fileName` and the problem.
    static std::optional<Ledger> parse(QByteArrayView bytes, const QString& fileName,
                                       QString* error);
    // Reads the ledger file; a file that cannot be read, is not a regular file or is larger than
    // MaxFileSize is refused like a bad one, without waiting on a pipe or reading a device.
    static std::optional<Ledger> load(const QString& ledgerPath, QString* error);
    // Writes a temporary file in the same folder and renames it over ledgerPath, so a reader
    // sees either the old ledger or the new one, never a part; a link there is replaced, never
    // followed. When it fails the old ledger stays as it was.
    bool writeAtomically(const QString& ledgerPath, QString* error) const;

    // <dump file>.json
    static QString pathFor(const QString& dumpPath);
    // This program's name and version.
    static Tool thisTool();
    // The current time as the ledger keeps it: UTC, whole seconds.
    static QDateTime now();
    // Loader output as printable ASCII: bytes 0x20..0x7E as they are except the backslash
    // (written \\), CR, LF and TAB as \r \n \t, every other byte as \xNN (lowercase hex).
    static QString escapeBytes(QByteArrayView bytes);

    static QString outcomeName(Outcome outcome);
    static std::optional<Outcome> outcomeFromName(QStringView name);
    static QString runKindName(RunKind kind);
    static std::optional<RunKind> runKindFromName(QStringView name);
};

// A USB vendor or product id as four lowercase hex digits (0403), as lsusb shows it and the
// ledger keeps it.
inline QString usbIdText(quint16 id) {
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}
