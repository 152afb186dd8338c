#include "blockmapview.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

BlockMapView::BlockMapView(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted: nothing behind it need be drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

BlockMap::Labels BlockMapView::labels() {
    return {QStringLiteral("pendiente"), QStringLiteral("recibido"), QStringLiteral("suma errónea"),
            QStringLiteral("leído otra vez"), QStringLiteral("difiere")};
}

void BlockMapView::show(const BlockMap& map) {
    m_map = map;
    update();
}

void BlockMapView::set(qint64 block, BlockMap::State state) {
    if (m_map.state(block) == state || !m_map.set(block, state))
        return;
    update(m_map.cellRect(block, rect()));
}

void BlockMapView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    m_map.paint(painter, rect(), labels(), event->rect());
}

bool BlockMapView::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const std::optional<qint64> block = m_map.blockAt(help->pos(), rect());
    if (!block) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // A cell several blocks share names them all and the worst state among them.
    const BlockRange blocks = m_map.cellBlocks(*block, rect());
    const QString state = labels().at(int(m_map.worstOf(blocks)));
    QToolTip::showText(
        help->globalPos(),
        blocks.count == 1
            ? QStringLiteral("Bloque %1: %2").arg(blocks.first).arg(state)
            : QStringLiteral("Bloques %1–%2: %3").arg(blocks.first).arg(blocks.last()).arg(state),
        this, m_map.cellRect(*block, rect()));
    return true;
}
