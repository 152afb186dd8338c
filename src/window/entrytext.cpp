#include "entrytext.h"

QString windowDumpPathText(const DumpPath& problem) {
    switch (problem.problem) {
    case DumpPath::Problem::None:
        return {};
    case DumpPath::Problem::Folder:
        return QStringLiteral("Es una carpeta.");
    case DumpPath::Problem::Device:
        return QStringLiteral("Es un dispositivo, no un archivo.");
    case DumpPath::Problem::Pipe:
        return QStringLiteral("Es una tubería (FIFO), no un archivo.");
    case DumpPath::Problem::Socket:
        return QStringLiteral("Es un socket, no un archivo.");
    case DumpPath::Problem::Unwritable:
        return problem.systemText;
    case DumpPath::Problem::LinkInLockedFolder:
        return QStringLiteral("Es un enlace simbólico que no se puede reemplazar en esta carpeta.");
    case DumpPath::Problem::OldFileNotKept:
        return QStringLiteral("El archivo que hay no se puede guardar con otro nombre en su "
                              "carpeta (%1).")
            .arg(problem.systemText);
    }
    return {};
}

QString windowBoxesText(BlockBoxes::Problem problem, const QString& firstBlockText,
                        const QString& countText) {
    switch (problem) {
    case BlockBoxes::Problem::None:
        return {};
    case BlockBoxes::Problem::FirstBlock:
        return QStringLiteral("El bloque inicial \"%1\" no es un número entero de 0 a %2.")
            .arg(firstBlockText)
            .arg(BlockRange::LargestFirst);
    case BlockBoxes::Problem::Count:
        return QStringLiteral("El número de bloques \"%1\" no es un número entero de 1 a %2.")
            .arg(countText)
            .arg(BlockRange::LargestCount);
    }
    return {};
}
