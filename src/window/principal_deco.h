#pragma once

#include "blockmap.h"
#include "dumprun.h"
#include "operatorside.h"
#include "progressmeter.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class BlockMapView;
class CommControl;
class QComboBox;
class PortEnumerator;
class PortList;
class QButtonGroup;
class QCloseEvent;
class QKeyEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRect;
class QRadioButton;
class QTimer;

// The operator window. Its controls carry the names the rest of the tool knows them by (also as
// object names); their handlers are thin and hand the loader's side of the work to the port
// session it owns. Construction creates the controls and runs Form_Load, so a new window is
// ready to show.
class Principal_Deco : public QWidget, public OperatorSide {
    Q_OBJECT
public:
    // Caption of every message box.
    static constexpr const char* ApplicationTitle = "decodump";
    static constexpr int TwipsPerPixel = 15;

    // Talks through the given port, which must outlive the window. The port list offers, after
    // COM1 to COM4, the serial devices that `ports` reports (which must outlive the window too),
    // by default those the system reports.
    explicit Principal_Deco(CommControl& port, const PortEnumerator* ports = nullptr,
                            QWidget* parent = nullptr);
    ~Principal_Deco() override;

    // Folder of the response files; defaults to Respuestas beside the program.
    void setResponsesFolder(const QString& folder);

    // Handlers.
    void Form_Load();
    void Form_Unload();
    void Cmd_Salir_Click();
    // The way out while a port is armed (also Esc): disarms as the end of a dump does; during a
    // transfer only once the operator has confirmed, and the file keeps what it received.
    void Cmd_Detener_Click();
    void Com_Puerto_Click();
    void Opt_Descargar_Click(int Index);
    void Txt_Blocks_Change();

    // OperatorSide
    void appendLog(const QString& piece) override;
    void appendLogLine(const QString& text) override;
    Message endMessage(const TransferSummary& summary) const override;
    void setProgress(const QString& caption) override;
    // Shows the log as it stands, then the message.
    void showMessage(const QString& text, MessageIcon icon) final;
    QString portFailureText(const PortFailure& failure) const override;
    QString pathProblemText(const DumpPath& problem) const override;
    void disarmPort() override;
    void enablePortList() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Puts the message in front of the operator: a modal box.
    virtual void presentMessage(const QString& text, MessageIcon icon);
    // The log's appends reach the widget from the event loop, many at once; this shows what is
    // still waiting now.
    void flushLogToWidget();
    // Asks the operator a question with two answers; true for `yes`.
    virtual bool confirm(const QString& text, const QString& yes, const QString& no);

private:
    void createControls();
    void createAddedControls(const QRect& classic);
    void connectHandlers();
    void arrangeTabOrder();
    void makeTabStop(int preset);
    void fitCaptions();
    // Checks the entries and opens the selected port. False when a check refused them: the
    // selection is then back at "(ninguno)" and the caller's run ends.
    bool armSelectedPort(int port);
    bool refuse(const QString& message, MessageIcon icon = MessageIcon::Critical);
    void onPassArmed(int index);
    void onBlockReceived(const ReceivedBlock& block);
    void onRunFinished(const DumpOutcome& outcome);
    void onTransferStarted();
    void showProgressLine();
    // Advice beside the controls while the port waits for the loader; empty hides it.
    void showHint(const QString& text);
    void applyLockRule();
    // The entries after COM4 follow the devices present; every entry's tooltip names its device.
    void refreshPortList();

    // Controls, in the order the window creates them. The ticker Timer1 belongs to the session.
    QPushButton* Cmd_Salir = nullptr;
    QLineEdit* Txt_Filename = nullptr;
    QLineEdit* Txt_Path = nullptr;
    QLineEdit* Txt_Blocks = nullptr;
    QLineEdit* Txt_Start_Block = nullptr;
    QGroupBox* Fra_Tipo = nullptr;
    QButtonGroup* Opt_Descargar = nullptr;
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
    QLabel* Lab_Modo = nullptr;
    QComboBox* Com_Modo = nullptr;
    BlockMapView* m_blockMap = nullptr;
    QPushButton* Cmd_Detener = nullptr;
    QLabel* Lab_Aviso = nullptr;
    QLabel* Lab_Estado = nullptr;

    std::unique_ptr<PortEnumerator> m_systemPorts;
    const PortEnumerator* m_ports = nullptr;
    QTimer* m_logFlush = nullptr;
    bool m_logEmpty = true;
    QString m_logPending;
    int m_armedEntry = 0; // the port list's entry the run is armed on
    QString m_armedPortName; // and its port's short name (COM1, ttyUSB0)
    ProgressMeter m_progress;
    QElapsedTimer m_runClock;
    int m_blocksThisRun = 0;
    // A new dump's empty map waits for its transfer: until the loader is asked for a block the
    // file, and so its map, is as it was.
    std::optional<BlockMap> m_mapOnHold;
    DumpRun m_run;
};
