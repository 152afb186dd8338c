#pragma once

#include <QComboBox>

// The pick-only port list. Tells when its popup is about to open, so the entries' tooltips can
// name the devices they stand for at that moment.
class PortList : public QComboBox {
    Q_OBJECT
public:
    explicit PortList(QWidget* parent = nullptr);

    void showPopup() override;

Q_SIGNALS:
    void aboutToShowPopup();
};
