#pragma once

#include "blockrange.h"
#include "dumppath.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// Where the blocks of a transfer go. The dialogue hands each block over as it arrives; what
// becomes of it (a new dump file, the rest of a resumed one, a repaired record, a comparison
// with the file) is the sink's rule, one home for each.
class BlockSink {
public:
    // Why the blocks could not go where they go: what stands at the path, or the system's reason
    // (Unwritable); each front end words it.
    struct Failure {
        bool created = false; // false: the file could not be made or opened; true: not written
        DumpPath problem;
    };
    // What became of a block.
    struct Stored {
        std::optional<int> record; // the record of the file it now stands in; none: not written
        std::optional<Failure> failure;
        bool differs = false;    // a comparison: it differs from its record
        bool uncompared = false; // a comparison: no trustworthy read, or no record, to compare
    };

    virtual ~BlockSink() = default;

    // Before anything is asked of the loader: whether the blocks can go to the file at all.
    // Checking changes nothing that exists.
    virtual std::optional<Failure> check(const QString& dumpPath) = 0;
    // The loader has been asked for the first block of `range`: the file is opened (for a new
    // dump, the old one replaced).
    virtual std::optional<Failure> open(const QString& dumpPath, const BlockRange& range) = 0;
    // Block `index` of the range (0 for its first) arrived with `data`, its sum good or not.
    virtual Stored store(int index, QByteArrayView data, bool sumOk) = 0;
    // The transfer is over, however it ended.
    virtual void close() = 0;
};
