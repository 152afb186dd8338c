#pragma once

#include <QString>

// Folders the tool looks for beside the running program. Run from where it was built, the
// program keeps everything beside itself. Installed (a read-only bin folder with the package's
// data in ../share/decodump), the samples come from the data folder and the dumps go to the
// user's home.

// Where Respuesta<n>.TXT are read from: Respuestas beside the program when that exists, else
// the installed package's Respuestas.
QString defaultResponsesFolder();

// The window's default output folder: Descarga beside the program, or ~/Descarga when the
// program is installed.
QString defaultOutputFolder();

// Whether the program runs from an installed package rather than from beside its own files.
bool runsInstalled();
