#pragma once

#include <QByteArrayView>
#include <QString>

class QFile;

// Reading and replacing the files that stand beside a dump (its ledger), which are input from
// disk like any other: whatever stands at the path may be a pipe, a device or a link.

// Opens an existing regular file for reading, following links, without ever blocking on what
// stands at the path (opening a FIFO for reading would wait for a writer). False, with *problem
// saying why in English ("it is a pipe (FIFO), not a file"), for anything else.
bool openRegularFile(QFile& file, const QString& path, QString* problem);

// Replaces the file at `path` by one holding exactly `bytes`: a new file in the same folder,
// every write and its flush to disk checked, then renamed over the path. A reader finds the
// old file or the new one, never a part; a link at the path is replaced as a link, never
// followed; a folder, pipe, socket or device there is refused. When anything fails the old file
// stays as it was and *problem says why in English.
bool replaceFile(const QString& path, QByteArrayView bytes, QString* problem);

// What stands at the path, for a message: empty for a regular file, a link or nothing at all;
// otherwise "it is a folder", "it is a device, not a file", ...
QString notAFileReason(const QString& path);
