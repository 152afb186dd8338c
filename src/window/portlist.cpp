#include "portlist.h"

PortList::PortList(QWidget* parent) : QComboBox(parent) {}

void PortList::showPopup() {
    Q_EMIT aboutToShowPopup();
    QComboBox::showPopup();
}
