#pragma once

#include "portenumerator.h"

// The serial devices the system reports (Qt SerialPort on Linux; the registry and SetupAPI on
// Windows), in the order of their names (COM2 before COM10).
class SystemPortEnumerator : public PortEnumerator {
public:
    QList<SerialDevice> devices() const override;
};
