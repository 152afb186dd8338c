#include "operatorside.h"

#include "transfersummary.h"

OperatorSide::Message OperatorSide::endMessage(const TransferSummary& summary) const {
    if (summary.totalMatched() && summary.badSumBlocks.isEmpty())
        return {QStringLiteral("Descarga finalizada."), MessageIcon::Information};
    const QString total = summary.totalMatched()
                              ? QStringLiteral("El total coincide")
                              : QStringLiteral("El total no coincide (recibido %1, calculado %2)")
                                    .arg(summary.loaderTotal)
                                    .arg(summary.computedTotal);
    const qsizetype bad = summary.badSumBlocks.size();
    return {QStringLiteral("Descarga finalizada.\r\n%1; %2 %3 con suma errónea.")
                .arg(total)
                .arg(bad)
                .arg(bad == 1 ? QStringLiteral("bloque") : QStringLiteral("bloques")),
            MessageIcon::Exclamation};
}
