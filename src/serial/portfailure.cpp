#include "portfailure.h"

QString PortFailure::technicalText() const {
    QString what;
    switch (kind) {
    case Kind::DoesNotExist:
        what = QStringLiteral("does not exist");
        break;
    case Kind::PermissionDenied:
        what = QStringLiteral("permission denied");
        break;
    case Kind::Busy:
        what = QStringLiteral("busy");
        break;
    case Kind::NotOpened:
        what = QStringLiteral("not opened");
        break;
    case Kind::Gone:
        what = QStringLiteral("gone");
        break;
    case Kind::ReadFailed:
        what = QStringLiteral("read failed");
        break;
    case Kind::WriteFailed:
        what = QStringLiteral("write failed");
        break;
    }
    return device + QStringLiteral(": ") + what +
           (systemText.isEmpty() ? QString() : QStringLiteral(" (") + systemText + u')');
}
