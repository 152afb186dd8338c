#pragma once

#include "principal_deco.h"

#include <QList>
#include <QString>

#include <array>
#include <functional>

class BlockMapView;
class PortList;
class QComboBox;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;

// The window with its message boxes recorded instead of shown: each one counts as answered
// with OK at once. Also notes what the window looked like while the message was up, and
// reaches the window's controls by their object names.
class RecordingWindow : public Principal_Deco {
public:
    struct Message {
        QString text;
        int icon = 0;
        int selectedPort = -1;
        bool portOpen = false;
        QString log;
    };

    // The port list shows after COM4 the devices `ports` reports; none by default, so that the
    // serial devices of the machine running the tests play no part.
    explicit RecordingWindow(CommControl& port, const PortEnumerator* ports = nullptr);

    void presentMessage(const QString& text, MessageIcon icon) override;
    // Recorded like a message; answered with `yes` when stopAnswer says so.
    bool confirm(const QString& text, const QString& yes, const QString& no) override;
    bool stopAnswer = true;

    // The log as the widget shows it once the pending appends are in, with the CR LF line ends
    // the dialogue writes.
    QString logText();

    QList<Message> messages;
    // What the operator does while a message is up (after it has been recorded), e.g. closing
    // the window before answering it.
    std::function<void(const Message&)> whileOpen;

    // The controls, found by name once the window exists.
    QPushButton* Cmd_Salir;
    QPushButton* Cmd_Detener;
    QLabel* Lab_Aviso;
    QLabel* Lab_Estado;
    QTimer* Timer1;
    QLineEdit* Txt_Filename;
    QLineEdit* Txt_Path;
    QLineEdit* Txt_Blocks;
    QLineEdit* Txt_Start_Block;
    QGroupBox* Fra_Tipo;
    std::array<QRadioButton*, 5> Opt_Descargar{};
    PortList* Com_Puerto;
    CommControl& Serie1;
    QPlainTextEdit* Text1;
    QLabel* Lab_Filename;
    QLabel* Lab_Ruta;
    QLabel* Lab_Tamaño;
    QLabel* Label3;
    QLabel* Label2;
    QLabel* Lab_Progreso;
    QLabel* Label1;
    QLabel* Lab_Modo;
    QComboBox* Com_Modo;
    BlockMapView* blockMap;
};
