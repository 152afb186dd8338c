#include "mapfile.h"

#include "blockmap.h"
#include "ledger.h"
#include "safefile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>

namespace {

// Wide enough for 64 cells, their row labels and the legend's words.
constexpr int ImageWidth = 600;

// "dump.bin — blocks 2000–2015 — 2024-05-01 12:34 UTC": the time is the ledger's "finished",
// when it was last written (the end of the latest run), so the picture's date is that of the
// states it shows.
QString title(const QString& dumpPath, const Ledger& ledger, const BlockMap& map) {
    const QString when =
        ledger.finished.isValid()
            ? ledger.finished.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"))
            : QStringLiteral("no date");
    return QStringLiteral("%1 — blocks %2–%3 — %4")
        .arg(QFileInfo(dumpPath).fileName(), map.number(ledger.range.first),
             map.number(ledger.range.last()), when);
}

} // namespace

bool writeMapFile(const QString& path, const QString& dumpPath, const Ledger& ledger,
                  QString* problem) {
    const BlockMap::Labels labels{QStringLiteral("pending"), QStringLiteral("received"),
                                  QStringLiteral("bad sum"), QStringLiteral("read again"),
                                  QStringLiteral("differs")};
    // Drawn in memory, then put in place whole: a full disk or a link at the path never leaves
    // a part of a picture, or one written through the link.
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    QImageWriter writer(&png, "png");
    QString why;
    const BlockMap map = BlockMap::fromLedger(ledger);
    if (!writer.write(map.image(ImageWidth, labels, title(dumpPath, ledger, map))))
        why = writer.errorString();
    else if (replaceFile(path, png.data(), &why))
        return true;
    *problem = QStringLiteral("cannot write the map %1: %2").arg(path, why);
    return false;
}
