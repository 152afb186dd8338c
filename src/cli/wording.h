#pragma once

#include "blockrange.h"

#include <QList>
#include <QString>
#include <QStringList>

// How the command line's texts put counts and ranges.

// "1 block", "2 blocks": a count with its noun in the right number.
inline QString counted(qint64 count, const QString& noun) {
    return QString::number(count) + u' ' + noun + (count == 1 ? QString() : QStringLiteral("s"));
}

// "block 7" or "blocks 7 to 9".
inline QString blockRange(const BlockRange& range) {
    return range.count == 1 ? QStringLiteral("block %1").arg(range.first)
                            : QStringLiteral("blocks %1 to %2").arg(range.first).arg(range.last());
}

// "2004 to 2047, 2050": ascending block numbers, each run of consecutive ones as a range.
inline QString blockRunsText(const QList<int>& blocks) {
    QStringList runs;
    for (const BlockRange& run : blockRuns(blocks))
        runs.append(run.count == 1 ? QString::number(run.first)
                                   : QStringLiteral("%1 to %2").arg(run.first).arg(run.last()));
    return runs.join(QStringLiteral(", "));
}
