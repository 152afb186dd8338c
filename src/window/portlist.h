#pragma once

#include <QComboBox>

// The pick-only port list. Tells when its popup is about to open, so the entries can follow the
// devices present at that moment. A mouse wheel turned over it changes nothing: picking a port
// arms it, which only a deliberate choice may do.
class PortList : public QComboBox {
    Q_OBJECT
public:
    explicit PortList(QWidget* parent = nullptr);

    void showPopup() override;

protected:
    void wheelEvent(QWheelEvent* event) override;

Q_SIGNALS:
    void aboutToShowPopup();
};
