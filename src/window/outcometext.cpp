#include "outcometext.h"

#include "entrytext.h"

#include <QStringList>

namespace {

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

const QString UseVerify = QStringLiteral("Elija Modo: Verificar para compararlo con el flash.");
const QString UseRepair = QStringLiteral("Elija Modo: Reparar para leerlos otra vez.");
const QString UseNewDump = QStringLiteral("Elija Modo: Nueva descarga para leerlo entero.");

} // namespace

QString windowRefusalText(const DumpPlan& plan) {
    const QString file = plan.dumpPath();
    if (plan.settled) {
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
                .arg(file, blockList(plan.ledger->badBlocks), UseRepair);
        case DumpPlan::Settled::TotalMismatch:
            return QStringLiteral(
                       "El archivo %1 tiene todos sus bloques, pero el total del cargador "
                       "no coincide con ellos.\r\n\r\n%2")
                .arg(file, UseVerify);
        case DumpPlan::Settled::TotalUnchecked:
            return QStringLiteral(
                       "El archivo %1 tiene todos sus bloques, pero algunos se leyeron en "
                       "una sesión cuyo total no llegó.\r\n\r\n%2")
                .arg(file, UseVerify);
        }
    }
    const DumpPlan::Refusal& refusal = *plan.refusal;
    switch (refusal.kind) {
    case DumpPlan::Refusal::Kind::DumpPath:
        return QStringLiteral("No se puede crear el archivo ") + refusal.path +
               QStringLiteral("\r\n\r\n") + windowDumpPathText(refusal.pathProblem);
    case DumpPlan::Refusal::Kind::LedgerPath:
        return QStringLiteral("No se puede escribir el registro de la descarga ") + refusal.path +
               QStringLiteral("\r\n\r\n") + windowDumpPathText(refusal.pathProblem);
    case DumpPlan::Refusal::Kind::NoLedger:
        return QStringLiteral("El archivo %1 no tiene registro (%2): no se sabe qué bloques "
                              "guarda.\r\n\r\n%3")
            .arg(file, refusal.path, UseNewDump);
    case DumpPlan::Refusal::Kind::LedgerUnreadable:
        return QStringLiteral("No se puede usar el registro del archivo %1.\r\n\r\n%2\r\n\r\n%3")
            .arg(file, refusal.detail, UseNewDump);
    case DumpPlan::Refusal::Kind::FileDoesNotMatch:
        return QStringLiteral("El archivo %1 no coincide con su registro.\r\n\r\n%2\r\n\r\n%3")
            .arg(file, refusal.detail, UseNewDump);
    case DumpPlan::Refusal::Kind::LedgerForAnotherRange:
        return QStringLiteral("El registro del archivo %1 es de %2, no de %3.\r\n\r\nElija el "
                              "rango del archivo, o Modo: Nueva descarga para leer este.")
            .arg(file, blockRangeText(refusal.ledgerRange), blockRangeText(refusal.requestedRange));
    }
    return {};
}

EndNote windowEndNote(const DumpOutcome& outcome) {
    QStringList lines;
    bool warning = false;
    if (outcome.mode == DumpPlan::Mode::Verify) {
        if (outcome.differingBlocks.isEmpty()) {
            lines.append(QStringLiteral("Verificación: el archivo es idéntico al flash."));
        } else {
            lines.append(QStringLiteral("Verificación: difieren los bloques %1.")
                             .arg(blockList(outcome.differingBlocks)));
            lines.append(UseRepair);
            warning = true;
        }
        return {lines.join(QStringLiteral("\r\n")), warning};
    }
    if (!outcome.ledger)
        return {};
    const Ledger& ledger = *outcome.ledger;
    if (!ledger.badBlocks.isEmpty()) {
        lines.append(
            QStringLiteral("Bloques con suma errónea: %1.").arg(blockList(ledger.badBlocks)));
        lines.append(UseRepair);
        warning = true;
    } else if (ledger.outcome == Ledger::Outcome::TotalMismatch) {
        lines.append(QStringLiteral("El total del cargador no coincide con los bloques del "
                                    "archivo."));
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
    return {lines.join(QStringLiteral("\r\n")), warning};
}

QString windowNextPassText(const BlockRange& done, const BlockRange& next, const QString& port) {
    return QStringLiteral("Leído otra vez: %1. Por leer: %2.\r\n\r\nReinicie el decodificador si "
                          "su cargador lo necesita: se espera en %3.")
        .arg(blockRangeText(done), blockRangeText(next), port);
}

QString windowCutShortText(const DumpPlan& plan, const DumpOutcome& outcome) {
    return QStringLiteral("El archivo %1 guarda %2 de %3 bloques.\r\n\r\nElija Modo: Reanudar "
                          "para leer el resto.")
        .arg(plan.dumpPath())
        .arg(outcome.recordsHeld)
        .arg(plan.fileRange.count);
}
