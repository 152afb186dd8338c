#include "portfailuretext.h"

QString cliPortFailureText(const PortFailure& failure) {
    switch (failure.kind) {
    case PortFailure::Kind::DoesNotExist:
        return QStringLiteral("no such device; connect the serial adapter or pick another port "
                              "(--list-ports shows them)");
    case PortFailure::Kind::PermissionDenied:
        return QStringLiteral("permission denied; the user needs read and write access to the "
                              "device, for instance as a member of the dialout group (sudo "
                              "usermod -aG dialout $USER, then log in again)");
    case PortFailure::Kind::Busy:
        return QStringLiteral("the device is busy: another program is using it");
    case PortFailure::Kind::NotOpened:
        return QStringLiteral("%1; check that it is a serial port").arg(failure.systemText);
    case PortFailure::Kind::Gone:
        return QStringLiteral("the device left the system (adapter unplugged?)");
    case PortFailure::Kind::ReadFailed:
        return QStringLiteral("reading from the device failed");
    case PortFailure::Kind::WriteFailed:
        return QStringLiteral("writing to the device failed");
    }
    return failure.technicalText();
}
