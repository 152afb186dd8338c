#include "mapfile.h"

#include "blockmap.h"
#include "safefile.h"

#include <QBuffer>
#include <QImageWriter>

namespace {

// Wide enough for 64 cells of the largest pitch and the legend's words.
constexpr int ImageWidth = 600;

} // namespace

bool writeMapFile(const QString& path, const Ledger& ledger, QString* problem) {
    const BlockMap::Labels labels{QStringLiteral("pending"), QStringLiteral("received"),
                                  QStringLiteral("bad sum"), QStringLiteral("read again"),
                                  QStringLiteral("differs")};
    // Drawn in memory, then put in place whole: a full disk or a link at the path never leaves
    // a part of a picture, or one written through the link.
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    QImageWriter writer(&png, "png");
    QString why;
    if (!writer.write(BlockMap::fromLedger(ledger).image(ImageWidth, labels)))
        why = writer.errorString();
    else if (replaceFile(path, png.data(), &why))
        return true;
    *problem = QStringLiteral("cannot write the map %1: %2").arg(path, why);
    return false;
}
