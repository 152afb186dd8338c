#include "operatorside.h"

#include "transfersummary.h"

OperatorSide::Message OperatorSide::endMessage(const TransferSummary& summary) const {
    const QString ended = QStringLiteral("Descarga finalizada.");
    if (summary.totalMatched() && summary.badSumBlocks.isEmpty())
        return {ended, MessageIcon::Information};
    // Only what went wrong, each once: a total that matches says nothing about a block's sum.
    QString text = ended;
    const qsizetype bad = summary.badSumBlocks.size();
    if (bad == 1)
        text += QStringLiteral("\r\n1 bloque llegó con suma errónea.");
    else if (bad > 1)
        text += QStringLiteral("\r\n%1 bloques llegaron con suma errónea.").arg(bad);
    if (!summary.totalMatched())
        text += QStringLiteral("\r\nEl total del cargador no coincide con lo recibido "
                               "(recibido %1, calculado %2).")
                    .arg(summary.loaderTotal)
                    .arg(summary.computedTotal);
    return {text, MessageIcon::Exclamation};
}
