#pragma once

#include <QString>
#include <QtGlobal>

// The blocks the operator asked for, read from the first-block and count texts as the
// transfer reads them: each made a whole number (halves to even), the first block from 0 and
// the count from 1, the last block within 32 bits. Anything else is refused before arming.
class BlockRange {
public:
    enum class Problem { None, FirstBlock, Count, LastBlock };

    static BlockRange read(const QString& firstBlockText, const QString& countText);

    bool ok() const { return problem == Problem::None; }
    // Why the range is refused, in the window's language.
    QString spanishReason() const;

    Problem problem = Problem::None;
    qint32 first = 0;
    qint32 count = 0;
    qint32 last = 0;

private:
    QString m_firstBlockText;
    QString m_countText;
};
