#pragma once

#include <QByteArray>

// Standard error (or another descriptor) as the operating system shows it. One implementation
// file per platform: terminal_unix.cpp and terminal_win.cpp.

// A reader that went away (a closed pipe, `| head`) must not stop a dump: writes to it just fail.
void ignoreBrokenPipes();

bool isTerminal(int fd);
// Width of the terminal in columns; 0 when it cannot be told.
int terminalColumns(int fd);
// Writes every byte, retrying after interruptions; false when the descriptor refuses them.
bool writeAll(int fd, const QByteArray& bytes);
