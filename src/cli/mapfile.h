#pragma once

#include <QString>

class Ledger;

// decodump-cli --map: the picture of the dump's blocks as its ledger describes them, written as
// a PNG image. False, with *problem, when the file could not be written.
bool writeMapFile(const QString& path, const Ledger& ledger, QString* problem);
