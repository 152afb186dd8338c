#pragma once

#include "dialogue.h"
#include "operatorside.h"

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class CommControl;
class PortList;
class QButtonGroup;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;

// The operator window. Its controls carry the names the rest of the tool knows them by; their
// handlers are thin and hand the loader's side of the work to the Dialogue it owns.
// Construction creates the controls and runs Form_Load, so a new window is ready to show.
class Principal_Deco : public QWidget, public OperatorSide {
    Q_OBJECT
public:
    // Caption of every message box.
    static constexpr const char* ApplicationTitle = "decodump";
    static constexpr int TwipsPerPixel = 15;

    // Talks through the real serial ports.
    explicit Principal_Deco(QWidget* parent = nullptr);
    // Talks through the given port, which must outlive the window (tests pass a fake).
    explicit Principal_Deco(CommControl& port, QWidget* parent = nullptr);
    ~Principal_Deco() override;

    // The log exactly as appended, CR LF included.
    QString logText() const { return m_log; }

    Dialogue& dialogue() { return m_dialogue; }

    // Handlers.
    void Form_Load();
    void Form_Unload();
    void Cmd_Salir_Click();
    void Com_Puerto_Click();
    void Opt_Descargar_Click(int Index);
    void Txt_Blocks_Change();

    // OperatorSide
    void appendLog(const QString& piece) override;
    QString startBlockText() const override;
    QString blockCountText() const override;
    QString folderText() const override;
    QString fileNameText() const override;
    void setProgress(const QString& caption) override;
    void showMessage(const QString& text, int icon) override;
    void stopTicker() override;
    void selectNoPort() override;
    void enablePortList() override;

    // Controls, in the order the window creates them.
    QPushButton* Cmd_Salir = nullptr;
    QTimer* Timer1 = nullptr;
    QLineEdit* Txt_Filename = nullptr;
    QLineEdit* Txt_Path = nullptr;
    QLineEdit* Txt_Blocks = nullptr;
    QLineEdit* Txt_Start_Block = nullptr;
    QGroupBox* Fra_Tipo = nullptr;
    std::array<QRadioButton*, 5> Opt_Descargar{};
    PortList* Com_Puerto = nullptr;
    CommControl& Serie1;
    QPlainTextEdit* Text1 = nullptr;
    QLabel* Lab_Filename = nullptr;
    QLabel* Lab_Ruta = nullptr;
    QLabel* Lab_Tamaño = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Lab_Progreso = nullptr;
    QLabel* Label1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Principal_Deco(std::unique_ptr<CommControl> ownedPort, CommControl* port, QWidget* parent);

    void createControls();
    void arrangeTabOrder();
    void fitCaptions();
    void appendSeparatedLine(const QString& text);
    // Checks the entries and opens the selected port. False when a check refused them: the
    // selection is then back at "(ninguno)" and the caller's run ends.
    bool armSelectedPort(int port);
    bool refuse(const QString& message);
    void applyLockRule();
    void refreshPortTooltips();
    void flushLogToWidget();

    std::unique_ptr<CommControl> m_ownedPort;
    QButtonGroup* m_presetGroup = nullptr;
    QTimer* m_logFlush = nullptr;
    QString m_log;
    QString m_logPending;
    Dialogue m_dialogue;
};
