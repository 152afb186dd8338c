#pragma once

#include "portenumerator.h"

// The serial devices a test says are present; none until it adds some.
class FakePortEnumerator : public PortEnumerator {
public:
    QList<SerialDevice> present;

    QList<SerialDevice> devices() const override { return present; }
};
