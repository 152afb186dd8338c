#pragma once

class PortEnumerator;
class QTextStream;

// The serial devices the system reports, and the devices behind COM1 to COM4.
class PortListing {
public:
    static void print(QTextStream& out, const PortEnumerator& ports);
};
