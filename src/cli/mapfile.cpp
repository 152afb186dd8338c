#include "mapfile.h"

#include "blockmap.h"

#include <QImageWriter>

namespace {

// Wide enough for 64 cells of the largest pitch and the legend's words.
constexpr int ImageWidth = 600;

} // namespace

bool writeMapFile(const QString& path, const Ledger& ledger, QString* problem) {
    const BlockMap::Labels labels{QStringLiteral("pending"), QStringLiteral("received"),
                                  QStringLiteral("bad sum"), QStringLiteral("read again"),
                                  QStringLiteral("differs")};
    QImageWriter writer(path, "png");
    if (writer.write(BlockMap::fromLedger(ledger).image(ImageWidth, labels)))
        return true;
    *problem = QStringLiteral("cannot write the map %1: %2").arg(path, writer.errorString());
    return false;
}
