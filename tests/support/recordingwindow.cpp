#include "recordingwindow.h"

#include "blockmapview.h"
#include "commcontrol.h"
#include "fakeportenumerator.h"
#include "portlist.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

const FakePortEnumerator NoDevices;

template <typename Control> Control* named(const QObject& window, const char* name) {
    auto* control = window.findChild<Control*>(QString::fromUtf8(name));
    Q_ASSERT(control);
    return control;
}

} // namespace

RecordingWindow::RecordingWindow(CommControl& port, const PortEnumerator* ports)
    : Principal_Deco(port, ports ? ports : &NoDevices),
      Cmd_Salir(named<QPushButton>(*this, "Cmd_Salir")),
      Cmd_Detener(named<QPushButton>(*this, "Cmd_Detener")),
      Lab_Aviso(named<QLabel>(*this, "Lab_Aviso")), Lab_Estado(named<QLabel>(*this, "Lab_Estado")),
      Timer1(named<QTimer>(*this, "Timer1")),
      Txt_Filename(named<QLineEdit>(*this, "Txt_Filename")),
      Txt_Path(named<QLineEdit>(*this, "Txt_Path")),
      Txt_Blocks(named<QLineEdit>(*this, "Txt_Blocks")),
      Txt_Start_Block(named<QLineEdit>(*this, "Txt_Start_Block")),
      Fra_Tipo(named<QGroupBox>(*this, "Fra_Tipo")),
      Com_Puerto(named<PortList>(*this, "Com_Puerto")), Serie1(port),
      Text1(named<QPlainTextEdit>(*this, "Text1")),
      Lab_Filename(named<QLabel>(*this, "Lab_Filename")),
      Lab_Ruta(named<QLabel>(*this, "Lab_Ruta")), Lab_Tamaño(named<QLabel>(*this, "Lab_Tamaño")),
      Label3(named<QLabel>(*this, "Label3")), Label2(named<QLabel>(*this, "Label2")),
      Lab_Progreso(named<QLabel>(*this, "Lab_Progreso")), Label1(named<QLabel>(*this, "Label1")),
      Lab_Modo(named<QLabel>(*this, "Lab_Modo")), Com_Modo(named<QComboBox>(*this, "Com_Modo")),
      blockMap(named<BlockMapView>(*this, "blockMap")) {
    const auto* group = named<QButtonGroup>(*this, "Opt_Descargar");
    for (int index = 0; index < static_cast<int>(Opt_Descargar.size()); ++index)
        Opt_Descargar.at(index) = qobject_cast<QRadioButton*>(group->button(index));
}

QString RecordingWindow::logText() {
    flushLogToWidget();
    return Text1->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

bool RecordingWindow::confirm(const QString& text, const QString& yes, const QString& no) {
    presentMessage(text + QStringLiteral(" [%1 / %2]").arg(yes, no), MessageIcon::Information);
    return stopAnswer;
}

void RecordingWindow::presentMessage(const QString& text, MessageIcon icon) {
    messages.append(
        {text, static_cast<int>(icon), Com_Puerto->currentIndex(), Serie1.PortOpen(), logText()});
    if (whileOpen) {
        // A copy: the hook may raise further messages, which grow the list.
        const Message shown = messages.last();
        whileOpen(shown);
    }
}
