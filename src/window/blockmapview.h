#pragma once

#include "blockmap.h"

#include <QWidget>

// The block map in the window: painted as blocks come, each change repainting its own cell
// alone; a tooltip names the block (or the blocks) under the pointer and the cell's state.
class BlockMapView : public QWidget {
    Q_OBJECT
public:
    explicit BlockMapView(QWidget* parent = nullptr);

    // A new picture, painted whole.
    void show(const BlockMap& map);
    // One block's new state; only its cell (which it may share) is repainted.
    void set(qint64 block, BlockMap::State state);

    // The legend's and the tooltips' words.
    static BlockMap::Labels labels();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    BlockMap m_map;
};
