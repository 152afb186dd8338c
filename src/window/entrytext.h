#pragma once

#include "blockboxes.h"
#include "dumppath.h"

#include <QString>

// The window's words, in Spanish, for what stands at a path where the dump or its ledger goes
// ("Es una carpeta."), and for block boxes that give no range the transfer can read.
QString windowDumpPathText(const DumpPath& problem);
QString windowBoxesText(BlockBoxes::Problem problem, const QString& firstBlockText,
                        const QString& countText);
