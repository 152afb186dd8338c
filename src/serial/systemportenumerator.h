#pragma once

#include "portenumerator.h"

// The serial devices the system reports (QSerialPortInfo), in the order of their names.
class SystemPortEnumerator : public PortEnumerator {
public:
    QList<SerialDevice> devices() const override;
};
