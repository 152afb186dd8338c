#pragma once

#include <QByteArray>

class PortEnumerator;

// The serial devices the system reports, and the devices behind COM1 to COM4: as lines for the
// operator, or as one JSON object for a program. Both are UTF-8, ready for standard output.
//
// Device names, descriptions and the COM entries' devices come from the system and the
// environment. Printed raw, a control character among them would act on the operator's
// terminal (an escape sequence moving the cursor, a line break forging a line), so none is
// printed as such: the lines show it escaped, the JSON encodes it.
class PortListing {
public:
    static QByteArray text(const PortEnumerator& ports);
    static QByteArray json(const PortEnumerator& ports);
};
