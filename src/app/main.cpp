#include "platformcommcontrol.h"
#include "principal_deco.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Answered before the application object exists, so it needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("decodump %s\n", DECODUMP_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(Principal_Deco::ApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral(DECODUMP_VERSION));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.decodump.decodump"));
    PlatformCommControl port;
    Principal_Deco window(port);
    window.show();
    return QApplication::exec();
}
