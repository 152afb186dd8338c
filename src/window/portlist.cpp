#include "portlist.h"

PortList::PortList(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
}

void PortList::showPopup() {
    Q_EMIT aboutToShowPopup();
    QComboBox::showPopup();
}
