#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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

// "2004 to 2047, 2050": ascending block numbers, each run of consecutive ones as a range.
inline QString blockRuns(const QList<int>& blocks) {
    QStringList runs;
    for (qsizetype i = 0; i < blocks.size();) {
        qsizetype last = i;
        while (last + 1 < blocks.size() && qint64(blocks.at(last + 1)) == blocks.at(last) + 1)
            ++last;
        runs.append(last == i ? QString::number(blocks.at(i))
                              : QStringLiteral("%1 to %2").arg(blocks.at(i)).arg(blocks.at(last)));
        i = last + 1;
    }
    return runs.join(QStringLiteral(", "));
}

// Why a file that holds every record with a good sum is still not complete: a total of a run
// over it did not match the records, or some were read by a run whose total never came.
inline QString totalsNotVouchingText(const QString& dumpPath, bool mismatch) {
    return mismatch ? QStringLiteral("%1: records complete, but the loader's total did not match "
                                     "them: use --verify")
                          .arg(dumpPath)
                    : QStringLiteral("%1: records complete, total never checked: use --verify")
                          .arg(dumpPath);
}
