#include "portlist.h"

#include <QWheelEvent>

PortList::PortList(QWidget* parent) : QComboBox(parent) {}

void PortList::showPopup() {
    Q_EMIT aboutToShowPopup();
    QComboBox::showPopup();
}

void PortList::wheelEvent(QWheelEvent* event) {
    // Left to the window, which scrolls nothing either.
    event->ignore();
}
