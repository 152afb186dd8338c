#include "outcometext.h"

#include "commcontrol.h"
#include "entrytext.h"
#include "firstcontactwatch.h"

#include <QDir>
#include <QStringList>

namespace {

const QString CountMessage = QStringLiteral("Debe indicar el número de bloques a recibir.");
const QString FileNameMessage = QStringLiteral("Debe indicar un nombre de archivo válido.");

QString blockRangeText(const BlockRange& range) {
    return range.count == 1
               ? QStringLiteral("el bloque %1").arg(range.first)
               : QStringLiteral("los bloques %1 a %2").arg(range.first).arg(range.last());
}

// "105, 1890" or "2004 a 2047": ascending block numbers, consecutive ones as a range.
QString blockList(const QList<int>& blocks) {
    QStringList runs;
    for (const BlockRange& run : blockRuns(blocks))
        runs.append(run.count == 1 ? QString::number(run.first)
                                   : QStringLiteral("%1 a %2").arg(run.first).arg(run.last()));
    return runs.join(QStringLiteral(", "));
}

QString ledgerPathText(const DumpPlan::Refusal& refusal) {
    return QStringLiteral("No se puede escribir el registro de la descarga ") + refusal.path +
           QStringLiteral("\r\n\r\n") + windowDumpPathText(refusal.pathProblem);
}

// One text for one block, another for several: "%1" is the block list in both.
QString forBlocks(const QList<int>& blocks, const char* one, const char* several) {
    return QString::fromUtf8(blocks.size() == 1 ? one : several).arg(blockList(blocks));
}

QString useRepair(const QList<int>& blocks) {
    return blocks.size() == 1 ? QStringLiteral("Elija Modo: Reparar para leerlo otra vez.")
                              : QStringLiteral("Elija Modo: Reparar para leerlos otra vez.");
}

const QString UseVerify = QStringLiteral("Elija Modo: Verificar para compararlo con el flash.");
const QString UseNewDump = QStringLiteral("Elija Modo: Nueva descarga para leerlo entero.");
const QString UseAnotherFile =
    QStringLiteral("Elija Modo: Nueva descarga con otro nombre de archivo para leer este flash.");

// What a verification that reached its end found, and what to do about each finding.
EndNote verificationNote(const DumpOutcome& outcome) {
    if (outcome.verification.identical())
        return {QStringLiteral("Verificación: el archivo es idéntico al flash."), false};
    const DumpOutcome::Findings found = outcome.findings();
    QStringList lines;
    const auto say = [&](const QList<int>& blocks, const QString& text, const QString& next) {
        if (blocks.isEmpty())
            return;
        lines.append(text);
        lines.append(next);
    };
    say(found.flashDiffers,
        forBlocks(found.flashDiffers, "Verificación: difiere el bloque %1: el flash del "
                  "decodificador no es el del archivo (otro decodificador, o un flash cambiado).",
                  "Verificación: difieren los bloques %1: el flash del decodificador no es el del "
                  "archivo (otro decodificador, o un flash cambiado)."),
        UseAnotherFile);
    say(found.badRecordsDiffer,
        forBlocks(found.badRecordsDiffer,
                  "Verificación: difiere el bloque %1, que tenía la suma errónea.",
                  "Verificación: difieren los bloques %1, que tenían la suma errónea."),
        useRepair(found.badRecordsDiffer));
    say(found.badReads,
        forBlocks(found.badReads,
                  "Verificación: el bloque %1 llegó con suma errónea y no se pudo comparar.",
                  "Verificación: los bloques %1 llegaron con suma errónea y no se pudieron "
                  "comparar."),
        found.badReads.size() == 1
            ? QStringLiteral("Elija Modo: Verificar para compararlo otra vez.")
            : QStringLiteral("Elija Modo: Verificar para compararlos otra vez."));
    say(found.notInFile,
        forBlocks(found.notInFile, "Verificación: el bloque %1 no está en el archivo.",
                  "Verificación: los bloques %1 no están en el archivo."),
        found.notInFile.size() == 1 ? QStringLiteral("Elija Modo: Reanudar para leerlo.")
                                    : QStringLiteral("Elija Modo: Reanudar para leerlos."));
    return {lines.join(QStringLiteral("\r\n")), true};
}

// A plan that needs no loader: how the file stands, and what to do about it.
QString settledText(const DumpPlan& plan) {
    const QString file = plan.dumpPath();
    switch (*plan.settled) {
    case DumpPlan::Settled::NothingToDo:
        return plan.mode == DumpPlan::Mode::Repair
                   ? QStringLiteral("El archivo %1 tiene todos sus bloques con la suma "
                                    "correcta: no hay nada que reparar.")
                         .arg(file)
                   : QStringLiteral("El archivo %1 ya tiene los %2 bloques: no hay nada que "
                                    "reanudar.")
                         .arg(file)
                         .arg(plan.fileRange.count);
    case DumpPlan::Settled::BadBlocks:
        return QStringLiteral("El archivo %1 tiene todos sus bloques, pero con suma errónea: "
                              "%2.\r\n\r\n%3")
            .arg(file, blockList(plan.ledger->badBlocks), useRepair(plan.ledger->badBlocks));
    case DumpPlan::Settled::TotalMismatch:
        return QStringLiteral("El archivo %1 tiene todos sus bloques, pero el total del cargador "
                              "no coincide con ellos.\r\n\r\n%2")
            .arg(file, UseVerify);
    case DumpPlan::Settled::TotalUnchecked:
        return QStringLiteral("El archivo %1 tiene todos sus bloques, pero algunos se leyeron en "
                              "una sesión cuyo total no llegó.\r\n\r\n%2")
            .arg(file, UseVerify);
    case DumpPlan::Settled::FlashDiffers:
        return QStringLiteral("El archivo %1 no es del flash de este decodificador: la última "
                              "verificación encontró distintos los bloques %2. Leer de él "
                              "mezclaría dos flashes.\r\n\r\nElija Modo: Verificar con el "
                              "decodificador del que se leyó, o Nueva descarga con otro "
                              "nombre de archivo para leer este flash.")
            .arg(file, blockList(plan.ledger->verified->differingBlocks));
    }
    return {};
}

} // namespace

QString windowRefusalText(const DumpPlan& plan) {
    if (plan.settled)
        return settledText(plan);
    const QString file = plan.dumpPath();
    const DumpPlan::Refusal& refusal = *plan.refusal;
    // Without a usable ledger the file's blocks are unknown: it is read again whole. An operator
    // who meant to check this file is sent to another one, not to a new dump over it.
    const QString& startAgain = plan.mode == DumpPlan::Mode::Verify ? UseAnotherFile : UseNewDump;
    switch (refusal.kind) {
    case DumpPlan::Refusal::Kind::NoCount:
        return CountMessage;
    case DumpPlan::Refusal::Kind::Folder:
        return QStringLiteral("Debe indicar una ruta válida para el archivo.");
    case DumpPlan::Refusal::Kind::FileName:
        if (refusal.detail.isEmpty())
            return FileNameMessage;
        return FileNameMessage +
               QStringLiteral("\r\n\r\nEl nombre \"%1\" contiene una barra (%2): el archivo "
                              "va en la carpeta del camino, escriba solo su nombre.")
                   .arg(plan.request.fileName, QString(QDir::separator()));
    case DumpPlan::Refusal::Kind::Range:
        return (refusal.range == BlockBoxes::Problem::FirstBlock
                    ? QStringLiteral("Debe indicar un bloque inicial válido.")
                    : CountMessage) +
               QStringLiteral("\r\n\r\n") +
               windowBoxesText(refusal.range, plan.request.firstBlockText,
                               plan.request.blockCountText);
    case DumpPlan::Refusal::Kind::DumpPath:
        return QStringLiteral("No se puede crear el archivo ") + refusal.path +
               QStringLiteral("\r\n\r\n") + windowDumpPathText(refusal.pathProblem);
    case DumpPlan::Refusal::Kind::LedgerPath:
        return ledgerPathText(refusal);
    case DumpPlan::Refusal::Kind::NoLedger:
        return QStringLiteral("El archivo %1 no tiene registro (%2): no se sabe qué bloques "
                              "guarda.\r\n\r\n%3")
            .arg(file, refusal.path, startAgain);
    case DumpPlan::Refusal::Kind::LedgerUnreadable:
        return QStringLiteral("No se puede usar el registro del archivo %1.\r\n\r\n%2\r\n\r\n%3")
            .arg(file, refusal.detail, startAgain);
    case DumpPlan::Refusal::Kind::FileDoesNotMatch:
        return QStringLiteral("El archivo %1 no coincide con su registro.\r\n\r\n%2\r\n\r\n%3")
            .arg(file, refusal.detail, startAgain);
    case DumpPlan::Refusal::Kind::LedgerForAnotherRange:
        return QStringLiteral("El registro del archivo %1 es de %2, no de %3.\r\n\r\nElija el "
                              "rango del archivo, o Modo: Nueva descarga para leer este.")
            .arg(file, blockRangeText(refusal.ledgerRange), blockRangeText(refusal.requestedRange));
    case DumpPlan::Refusal::Kind::OutputClash:
        // The window writes only the dump and its ledger: the clash is with the port.
        return QStringLiteral("No se puede crear el archivo %1\r\n\r\nEs el dispositivo del "
                              "puerto serie (%2). Escriba otro nombre de archivo.")
            .arg(refusal.clash->entry.path, refusal.clash->other.path);
    case DumpPlan::Refusal::Kind::OutputPath:
        return QStringLiteral("No se puede crear el archivo ") + refusal.path +
               QStringLiteral("\r\n\r\n") + windowDumpPathText(refusal.pathProblem);
    }
    return {};
}

EndNote windowEndNote(const DumpOutcome& outcome) {
    QStringList lines;
    bool warning = false;
    if (outcome.mode == DumpPlan::Mode::Verify)
        return verificationNote(outcome);
    if (!outcome.ledger)
        return {};
    const Ledger& ledger = *outcome.ledger;
    const TransferSummary& summary = outcome.summary;
    const bool totalDiffers = summary.totalReceived && !summary.totalMatched();
    const QString totalLine =
        QStringLiteral("El total del cargador no coincide con lo recibido (recibido %1, "
                       "calculado %2).")
            .arg(summary.loaderTotal)
            .arg(summary.computedTotal);
    if (!ledger.badBlocks.isEmpty()) {
        lines.append(forBlocks(ledger.badBlocks, "Bloque con suma errónea: %1.",
                               "Bloques con suma errónea: %1."));
        if (totalDiffers)
            lines.append(totalLine);
        lines.append(useRepair(ledger.badBlocks));
        warning = true;
    } else if (ledger.outcome == Ledger::Outcome::TotalMismatch) {
        lines.append(totalDiffers ? totalLine
                                  : QStringLiteral("El total del cargador no coincide con los "
                                                   "bloques del archivo."));
        lines.append(UseVerify);
        warning = true;
    } else if (ledger.outcome == Ledger::Outcome::TotalUnchecked) {
        lines.append(QStringLiteral("Algunos bloques se leyeron en una sesión cuyo total no "
                                    "llegó."));
        lines.append(UseVerify);
        warning = true;
    } else if (outcome.mode != DumpPlan::Mode::NewDump &&
               ledger.outcome == Ledger::Outcome::Complete) {
        lines.append(QStringLiteral("El archivo está completo y comprobado."));
    }
    if (!outcome.keptAs.isEmpty())
        lines.append(windowKeptText(outcome.keptAs));
    return {lines.join(QStringLiteral("\r\n")), warning};
}

QString windowRepairStepText(int index, int steps, const BlockRange& done) {
    return QStringLiteral("Reparación, paso %1 de %2: leído otra vez %3.")
        .arg(index + 1)
        .arg(steps)
        .arg(blockRangeText(done));
}

QString windowNextPassText(const BlockRange& next, const QString& port) {
    return QStringLiteral("Por leer: %1.\r\n\r\nReinicie el decodificador si su cargador lo "
                          "necesita: se espera en %2.")
        .arg(blockRangeText(next), port);
}

QString windowCutShortText(const DumpPlan& plan, const DumpOutcome& outcome) {
    return QStringLiteral("El archivo %1 guarda %2 de %3 bloques.\r\n\r\nElija Modo: Reanudar "
                          "para leer el resto.")
        .arg(plan.dumpPath())
        .arg(outcome.recordsHeld)
        .arg(plan.fileRange.count);
}

QString windowNothingWrittenText(const QString& dumpPath) {
    return QStringLiteral("No se escribió nada: el archivo %1 queda como estaba.").arg(dumpPath);
}

QString windowLedgerWarningText(const DumpPlan::Refusal& problem) {
    return ledgerPathText(problem) +
           QStringLiteral("\r\n\r\nLa descarga sigue sin registro: Reanudar, Verificar y "
                          "Reparar no podrán usar el archivo.");
}

QString windowKeptText(const QString& keptAs) {
    return QStringLiteral("El archivo anterior se guardó como %1.").arg(keptAs);
}

QString windowDumpInUseText(const QString& dumpPath) {
    return QStringLiteral("Otra descarga está usando el archivo %1 (otra ventana o "
                          "decodump-cli).\r\n\r\nEspere a que termine, o escriba otro nombre de "
                          "archivo.")
        .arg(dumpPath);
}

QString windowNothingYetText(const QString& port) {
    return QStringLiteral("Nada del cargador en %1 s: compruebe la corriente del decodificador, "
                          "el cable y que esté en %2.")
        .arg(FirstContactWatch::SilenceMs / 1000)
        .arg(port);
}

QString windowNotLoaderText(const QString& port) {
    return QStringLiteral("Lo que llega por %1 no es texto del cargador: ¿es el puerto del "
                          "decodificador, y va a %2 baudios?")
        .arg(port)
        .arg(CommControl::BaudRate);
}

QString windowStopQuestion(const DumpPlan& plan) {
    const QString file = plan.dumpPath();
    switch (plan.mode) {
    case DumpPlan::Mode::Verify:
        return QStringLiteral("¿Detener la verificación?\r\n\r\nEl archivo %1 no cambia.")
            .arg(file);
    case DumpPlan::Mode::Repair:
        return QStringLiteral("¿Detener la reparación?\r\n\r\nEl archivo %1 guarda los bloques "
                              "ya leídos otra vez; Modo: Reparar lee los demás.")
            .arg(file);
    case DumpPlan::Mode::NewDump:
    case DumpPlan::Mode::Resume:
        break;
    }
    return QStringLiteral("¿Detener la descarga?\r\n\r\nEl archivo %1 guarda los bloques "
                          "recibidos; Modo: Reanudar lee el resto.")
        .arg(file);
}

QString windowProgressText(const ProgressMeter& progress, bool running) {
    if (progress.total() <= 0)
        return {};
    QString text = QStringLiteral("Progreso: %1 % (%2 de %3 %4)")
                       .arg(progress.percent())
                       .arg(progress.done())
                       .arg(progress.total())
                       .arg(progress.total() == 1 ? QStringLiteral("bloque")
                                                  : QStringLiteral("bloques"));
    if (running) {
        if (const std::optional<double> left = progress.secondsLeft())
            text += QStringLiteral(", quedan ") + clockDuration(*left);
    }
    return text;
}
