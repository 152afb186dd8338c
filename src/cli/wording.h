#pragma once

#include <QString>

// How the command line's texts put counts and ranges.

// "1 block", "2 blocks": a count with its noun in the right number.
inline QString counted(qint64 count, const QString& noun) {
    return QString::number(count) + u' ' + noun + (count == 1 ? QString() : QStringLiteral("s"));
}

// "block 7" or "blocks 7 to 9".
inline QString blockRange(qint64 first, qint64 last) {
    return first == last ? QStringLiteral("block %1").arg(first)
                         : QStringLiteral("blocks %1 to %2").arg(first).arg(last);
}
