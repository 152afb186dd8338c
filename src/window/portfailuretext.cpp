#include "portfailuretext.h"

QString windowPortFailureText(const PortFailure& failure) {
    const QString& device = failure.device;
    switch (failure.kind) {
    case PortFailure::Kind::DoesNotExist:
        return QStringLiteral("El dispositivo %1 no existe. Conecte el adaptador serie o elija "
                              "otro puerto.")
            .arg(device);
    case PortFailure::Kind::PermissionDenied:
        return QStringLiteral("No hay permiso para leer y escribir en el dispositivo %1. El "
                              "usuario necesita acceso a él, por ejemplo como miembro del grupo "
                              "dialout (sudo usermod -aG dialout $USER y volver a iniciar la "
                              "sesión).")
            .arg(device);
    case PortFailure::Kind::Busy:
        return QStringLiteral("El dispositivo %1 está ocupado: lo usa otro programa. Cierre ese "
                              "programa o elija otro puerto.")
            .arg(device);
    case PortFailure::Kind::NotOpened:
        return QStringLiteral("El sistema no deja usar %1 como puerto serie (%2). Compruebe que "
                              "es un puerto serie o elija otro puerto.")
            .arg(device, failure.systemText);
    case PortFailure::Kind::Gone:
        return QStringLiteral("El dispositivo %1 ya no está en el sistema. Vuelva a conectar el "
                              "adaptador y elija el puerto otra vez.")
            .arg(device);
    case PortFailure::Kind::ReadFailed:
        return QStringLiteral("Falló la lectura del dispositivo %1. Compruebe el adaptador y "
                              "elija el puerto otra vez.")
            .arg(device);
    case PortFailure::Kind::WriteFailed:
        return QStringLiteral("Falló la escritura en el dispositivo %1. Compruebe el adaptador y "
                              "elija el puerto otra vez.")
            .arg(device);
    }
    return failure.technicalText();
}
