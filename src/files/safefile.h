#pragma once

#include <QByteArrayView>
#include <QString>

class QFile;

// Reading and writing the files around a dump, which are input and output on disk like any
// other: whatever stands at a path may be a pipe, a device, a socket, a folder or a link. Nothing
// here ever blocks on what stands at a path, follows a link to write another file, or leaves a
// failed write unreported. Problems are said in English ("it is a pipe (FIFO), not a file").

// Opens an existing regular file for reading, following links, without ever blocking on what
// stands at the path (opening a FIFO for reading would wait for a writer). False, with *problem
// saying why, for anything else.
bool openRegularFile(QFile& file, const QString& path, QString* problem);

// Replaces the file at `path` by one holding exactly `bytes`: a new file in the same folder,
// every write and its flush to disk checked, then renamed over the path. A reader finds the
// old file or the new one, never a part; a link at the path is replaced as a link, never
// followed; a folder, pipe, socket or device there is refused. When anything fails the old file
// stays as it was and *problem says why.
bool replaceFile(const QString& path, QByteArrayView bytes, QString* problem);

// What stands at the path itself (a link is not followed), for a message: empty for a regular
// file, a link or nothing at all; otherwise "it is a folder", "it is a device, not a file", ...
QString notAFileReason(const QString& path);

// Creates the file at `path` for writing as it grows, each write reaching the file at once (a
// wire trace): a link at the path is replaced by the new file, never followed; an old regular
// file is emptied; a folder, pipe, device or socket is refused. Close it with closeWritten().
bool createGrowingFile(QFile& file, const QString& path, QString* problem);

// Flushes what was written to the disk and closes a file createGrowingFile() opened, each step
// checked: a full disk may show only here.
bool closeWritten(QFile& file, QString* problem);

// Writes every byte to the descriptor, going on after interruptions; false when it refuses them.
bool writeAll(int fd, QByteArrayView bytes);

// Renames `from` to `to` only when nothing stands at `to`: never replaces anything, even when
// another program makes a file there at the same moment.
enum class MoveResult { Moved, TargetTaken, Failed };
MoveResult moveWithoutReplacing(const QString& from, const QString& to, QString* problem);
