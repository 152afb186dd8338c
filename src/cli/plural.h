#pragma once

#include <QString>

// "1 block", "2 blocks": a count with its noun in the right number.
inline QString counted(qint64 count, const QString& noun) {
    return QString::number(count) + u' ' + noun + (count == 1 ? QString() : QStringLiteral("s"));
}
