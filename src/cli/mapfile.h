#pragma once

#include <QString>

class Ledger;

// decodump-cli --map: the picture of the dump's blocks as its ledger describes them, written as
// a PNG image under a title naming the dump file, its blocks and when the ledger was last
// written. False, with *problem, when the file could not be written.
bool writeMapFile(const QString& path, const QString& dumpPath, const Ledger& ledger,
                  QString* problem);
