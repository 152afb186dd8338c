#include "principal_deco.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(Principal_Deco::ApplicationTitle));
    Principal_Deco window;
    window.show();
    return QApplication::exec();
}
