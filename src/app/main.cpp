#include "principal_deco.h"
#include "qtcommcontrol.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(Principal_Deco::ApplicationTitle));
    QtCommControl port;
    Principal_Deco window(port);
    window.show();
    return QApplication::exec();
}
