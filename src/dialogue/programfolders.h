#pragma once

#include <QString>

// Folders the tool looks for beside the running program.

// Where Respuesta<n>.TXT are read from: <program folder>/Respuestas.
QString defaultResponsesFolder();

// The window's default output folder: <program folder>/Descarga.
QString defaultOutputFolder();
