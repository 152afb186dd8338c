#pragma once

#include <QString>

// Why a device could not be opened, or why it stopped working while open. The serial adapter
// tells what happened and to which device; putting it into words is the business of each front
// end, in its operator's language.
struct PortFailure {
    enum class Kind {
        DoesNotExist,     // no such device
        PermissionDenied, // this user may not read and write it
        Busy,             // another program holds it
        NotOpened,        // any other reason, in systemText
        Gone,             // while open: the device left the system (an adapter pulled out)
        ReadFailed,       // while open: reading from it failed
        WriteFailed,      // while open: writing to it failed or it refused the data
    };

    Kind kind = Kind::NotOpened;
    QString device;     // as the system names it (/dev/ttyUSB0, COM5)
    QString systemText; // the system's own reason, where it gave one

    // Whether the device was lost while open, rather than not opened at all.
    bool lost() const {
        return kind == Kind::Gone || kind == Kind::ReadFailed || kind == Kind::WriteFailed;
    }
    // Terse and technical, for debug logs and for a port no front end gave its wording.
    QString technicalText() const;
};
