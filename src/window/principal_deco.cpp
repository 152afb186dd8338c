#include "principal_deco.h"

#include "blockmapview.h"
#include "commcontrol.h"
#include "deviceaccess.h"
#include "dialoguelog.h"
#include "dumpplan.h"
#include "dumppresets.h"
#include "entrytext.h"
#include "ledger.h"
#include "numeric.h"
#include "outcometext.h"
#include "portfailuretext.h"
#include "portlist.h"
#include "portnaming.h"
#include "programfolders.h"
#include "systemportenumerator.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

constexpr int BlockBoxMaxLength = 4;
constexpr int NoPort = 0;
// The devices the system reports follow COM1 to COM4.
constexpr int FirstDeviceEntry = ComPortCount + 1;
// A device entry's name (ttyUSB0) beside its system location (the entry's data).
constexpr int DeviceNameRole = Qt::UserRole + 1;
constexpr int MinimumPixelSize = 9;
// The block map below the classic window: 32 rows of 64 cells (2048 blocks) and the legend.
constexpr int MapHeight = 232;
constexpr int MapMargin = 4;
// Below the map, the line that says how far the dump has come.
constexpr int ProgressLineHeight = 18;
// A dump that took longer than this was probably left running in the background: its end asks
// for the operator's attention.
constexpr qint64 LongRunMs = 5000;
// Laying out a paragraph of the log widget costs its whole length, so a run of markers that
// grows by one insertion per turn would cost the square of its length: once the last paragraph
// is this long, the widget continues in a new one.
constexpr int LongestLogParagraph = 1024;

QRect fromTwips(int left, int top, int width, int height) {
    constexpr int t = Principal_Deco::TwipsPerPixel;
    return {left / t, top / t, width / t, height / t};
}

template <typename Control> Control* place(Control* control, const char* name, const QRect& rect) {
    control->setObjectName(QString::fromUtf8(name));
    control->setGeometry(rect);
    return control;
}

// Whole numbers as plain digits; fractions (and wholes too large for 64 bits) in the shortest
// decimal form with the user's decimal separator, ASCII digits and "-", and no grouping. (Qt's
// locale formatting would also bring in the locale's own digits and minus sign, such as Arabic
// digits or U+2212.)
QString sizeText(double value) {
    constexpr double int64Limit = 9223372036854775808.0; // 2^63
    if (value == std::trunc(value) && std::fabs(value) < int64Limit)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'f', QLocale::FloatingPointShortest)
        .replace(u'.', QLocale().decimalPoint());
}

struct ModeEntry {
    const char* text;
    DumpPlan::Mode mode;
    const char* toolTip; // what picking a port then does to the file
};

const std::array<ModeEntry, 4>& modeEntries() {
    static const std::array<ModeEntry, 4> entries{{
        {"Nueva descarga", DumpPlan::Mode::NewDump,
         "Lee el rango entero en el archivo. Un archivo que ya estuviera con ese nombre se "
         "guarda aparte."},
        {"Reanudar", DumpPlan::Mode::Resume,
         "Lee solo los bloques que faltan en el archivo, según su registro. Lo que ya guarda no "
         "cambia."},
        {"Verificar", DumpPlan::Mode::Verify,
         "Lee el flash otra vez y lo compara con el archivo. El archivo no cambia."},
        {"Reparar", DumpPlan::Mode::Repair,
         "Lee otra vez los bloques con suma errónea y los escribe en su sitio del archivo."},
    }};
    return entries;
}

// A message box wider than its usual width (half the screen, at most 500 px) wraps its text at
// that width and breaks a word longer than it anywhere, which cuts a path in two. Such a word
// makes the text as wide as the word, up to three quarters of the screen. (A narrower word needs
// nothing: set on every text, a minimum would also stop the box from widening for a long line.)
void keepWordsWhole(QMessageBox& box, const QString& text) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    const QScreen* screen = box.screen();
    if (!label || !screen)
        return;
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")),
                                          Qt::SkipEmptyParts))
        widest = std::max(widest, metrics.horizontalAdvance(word));
    const int screenWidth = screen->availableGeometry().width();
    if (widest > std::min(screenWidth / 2, 500))
        label->setMinimumWidth(std::min(widest, screenWidth * 3 / 4));
}

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

} // namespace

Principal_Deco::Principal_Deco(CommControl& port, const PortEnumerator* ports, QWidget* parent)
    : QWidget(parent), Serie1(port),
      m_systemPorts(ports ? nullptr : std::make_unique<SystemPortEnumerator>()),
      m_ports(ports ? ports : m_systemPorts.get()), m_run(port, *this, this) {
    createControls();
    Form_Load();
}

Principal_Deco::~Principal_Deco() = default;

void Principal_Deco::createControls() {
    setObjectName(QStringLiteral("Principal_Deco"));
    setWindowTitle(QStringLiteral("Descarga Firmware Vemu v0.04 beta por Oskel"));
    setWindowIcon(QIcon(QStringLiteral(":/decodump/decodump.xpm")));
    // The classic window's area, and below it the block map.
    const QRect classic = fromTwips(0, 0, 6465, 6345);
    setFixedSize(classic.width(), classic.height() + MapHeight + ProgressLineHeight);
    // 8-point type at 96 dpi in a face of Windows' sans-serif proportions, so the captions fit
    // the boxes laid out in twips.
    QFont small = font();
    small.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma"),
                       QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                       QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    small.setPixelSize(11);
    setFont(small);

    Cmd_Salir = place(new QPushButton(QStringLiteral("Salir"), this), "Cmd_Salir",
                      fromTwips(5220, 1800, 1155, 435));

    Txt_Filename = place(new QLineEdit(this), "Txt_Filename", fromTwips(900, 5910, 2535, 315));
    Txt_Path = place(new QLineEdit(this), "Txt_Path", fromTwips(900, 5550, 5475, 315));
    Txt_Blocks = place(new QLineEdit(QStringLiteral("0000"), this), "Txt_Blocks",
                       fromTwips(4260, 900, 555, 315));
    Txt_Start_Block = place(new QLineEdit(QStringLiteral("0000"), this), "Txt_Start_Block",
                            fromTwips(4260, 570, 555, 315));
    for (QLineEdit* box : {Txt_Blocks, Txt_Start_Block}) {
        box->setMaxLength(BlockBoxMaxLength);
        box->setEnabled(false);
    }

    Fra_Tipo = place(new QGroupBox(QStringLiteral("Descargar ..."), this), "Fra_Tipo",
                     fromTwips(120, 480, 2775, 1755));
    // The control array: the group's id of each button is its index.
    Opt_Descargar = new QButtonGroup(this);
    Opt_Descargar->setObjectName(QStringLiteral("Opt_Descargar"));
    static constexpr std::array<int, 5> optionTops{270, 540, 810, 1080, 1380};
    for (int index = static_cast<int>(DumpPresets.size()) - 1; index >= 0; --index) {
        auto* option = new QRadioButton(QString::fromUtf8(DumpPresets.at(index).caption), Fra_Tipo);
        place(option, "Opt_Descargar", fromTwips(120, optionTops.at(index), 1755, 255));
        Opt_Descargar->addButton(option, index);
    }

    Com_Puerto = place(new PortList(this), "Com_Puerto", fromTwips(2160, 90, 1395, 315));

    Serie1.setObjectName(QStringLiteral("Serie1"));

    Text1 = place(new QPlainTextEdit(this), "Text1", fromTwips(60, 2310, 6315, 3165));
    Text1->setReadOnly(true);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Lab_Filename = place(new QLabel(QStringLiteral("Nombre :"), this), "Lab_Filename",
                         fromTwips(60, 5970, 735, 195));
    Lab_Ruta = place(new QLabel(QStringLiteral("Camino:"), this), "Lab_Ruta",
                     fromTwips(60, 5610, 735, 195));
    Lab_Tamaño = place(new QLabel(QStringLiteral("(0 Kb)"), this), "Lab_Tamaño",
                       fromTwips(4920, 960, 1155, 195));
    Label3 = place(new QLabel(QStringLiteral("Bloques :"), this), "Label3",
                   fromTwips(3000, 960, 1155, 195));
    Label2 = place(new QLabel(QStringLiteral("Bloque inicial :"), this), "Label2",
                   fromTwips(3000, 630, 1155, 195));
    Lab_Progreso = place(new QLabel(QStringLiteral("0000"), this), "Lab_Progreso",
                         fromTwips(4320, 150, 1080, 195));
    // Its text changes with every block: filling its own background keeps the window beneath it
    // from repainting each time.
    Lab_Progreso->setAutoFillBackground(true);
    Lab_Progreso->setVisible(false);
    Label1 = place(new QLabel(QStringLiteral("Selecciona el puerto serie:"), this), "Label1",
                   fromTwips(120, 150, 1875, 195));

    createAddedControls(classic);
    arrangeTabOrder();
    fitCaptions();

    // Widget updates of the log are coalesced: one insertion per turn of the event loop.
    m_logFlush = new QTimer(this);
    m_logFlush->setSingleShot(true);
    m_logFlush->setInterval(0);

    connectHandlers();
}

// The controls the classic window did not have: the mode, the block map and the progress line
// below the classic area, the way out while armed and the advice above it.
void Principal_Deco::createAddedControls(const QRect& classic) {
    // What picking a port does with the file: beside the file name, where the row had room.
    Lab_Modo = place(new QLabel(QStringLiteral("&Modo:"), this), "Lab_Modo",
                     fromTwips(3555, 5970, 600, 195));
    Com_Modo = place(new QComboBox(this), "Com_Modo", fromTwips(4200, 5910, 2175, 315));
    // Each entry carries its mode: the list's order is only what the operator sees.
    for (const ModeEntry& entry : modeEntries()) {
        Com_Modo->addItem(QString::fromUtf8(entry.text), int(entry.mode));
        Com_Modo->setItemData(Com_Modo->count() - 1, QString::fromUtf8(entry.toolTip),
                              Qt::ToolTipRole);
    }
    Lab_Modo->setBuddy(Com_Modo);
    m_blockMap = place(
        new BlockMapView(this), "blockMap",
        QRect(MapMargin, classic.height(), classic.width() - 2 * MapMargin, MapHeight - MapMargin));
    Lab_Estado = place(new QLabel(this), "Lab_Estado",
                       QRect(MapMargin, classic.height() + MapHeight,
                             classic.width() - 2 * MapMargin, ProgressLineHeight - MapMargin));

    // The way out while a port is armed, beside Salir (which is locked then), and the advice
    // above it when the loader does not answer.
    Cmd_Detener = place(new QPushButton(QStringLiteral("Detener"), this), "Cmd_Detener",
                        fromTwips(3960, 1800, 1155, 435));
    Cmd_Detener->setEnabled(false);
    Cmd_Detener->setToolTip(QStringLiteral("Cierra el puerto y deja de esperar al cargador (Esc). "
                                           "Una descarga a medias pide confirmación."));
    Lab_Aviso = place(new QLabel(this), "Lab_Aviso", fromTwips(3000, 1200, 3375, 600));
    Lab_Aviso->setWordWrap(true);
    Lab_Aviso->setVisible(false);
}

void Principal_Deco::connectHandlers() {
    connect(m_logFlush, &QTimer::timeout, this, &Principal_Deco::flushLogToWidget);
    // The ledger beside each dump is written silently; only a failure to write it is told,
    // after the dump's own end message.
    connect(&m_run.session(), &PortSession::dialogueEnded, this,
            [this](const TransferSummary& summary) {
                if (!summary.ledgerError.isEmpty())
                    showMessage(
                        QStringLiteral("No se puede escribir el registro de la descarga.\r\n\r\n") +
                            summary.ledgerError,
                        MessageIcon::Exclamation);
            });
    connect(&m_run, &DumpRun::passArmed, this, &Principal_Deco::onPassArmed);
    connect(&m_run, &DumpRun::nextPass, this, [this](int index) {
        showMessage(windowNextPassText(m_run.plan().passes.at(index).range, m_armedPortName),
                    MessageIcon::Information);
    });
    connect(&m_run, &DumpRun::finished, this, &Principal_Deco::onRunFinished);
    connect(&m_run.session(), &PortSession::blockReceived, this, &Principal_Deco::onBlockReceived);
    connect(Cmd_Salir, &QPushButton::clicked, this, &Principal_Deco::Cmd_Salir_Click);
    connect(Cmd_Detener, &QPushButton::clicked, this, &Principal_Deco::Cmd_Detener_Click);
    connect(&m_run.session(), &PortSession::transferStarted, this,
            &Principal_Deco::onTransferStarted);
    connect(&m_run.session(), &PortSession::loaderSilent, this,
            [this] { showHint(windowNothingYetText(m_armedPortName)); });
    connect(&m_run.session(), &PortSession::notLoaderText, this,
            [this] { showHint(windowNotLoaderText(m_armedPortName)); });
    connect(Com_Puerto, &QComboBox::currentIndexChanged, this, &Principal_Deco::Com_Puerto_Click);
    connect(Com_Puerto, &PortList::aboutToShowPopup, this, &Principal_Deco::refreshPortList);
    connect(Opt_Descargar, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked)
            return;
        makeTabStop(id);
        Opt_Descargar_Click(id);
    });
    connect(Txt_Blocks, &QLineEdit::textChanged, this, &Principal_Deco::Txt_Blocks_Change);
}

void Principal_Deco::fitCaptions() {
    // Where the face found is wider than Windows' own, the type shrinks until every caption fits.
    QList<QWidget*> captioned{Label1, Label2, Label3, Lab_Tamaño, Lab_Ruta, Lab_Filename};
    for (QAbstractButton* option : Opt_Descargar->buttons())
        captioned.append(option);
    const auto tooWide = [](const QWidget* control) {
        return control->sizeHint().width() > control->width();
    };
    QFont type = font();
    while (type.pixelSize() > MinimumPixelSize &&
           std::any_of(captioned.begin(), captioned.end(), tooWide)) {
        type.setPixelSize(type.pixelSize() - 1);
        setFont(type);
    }
}

void Principal_Deco::arrangeTabOrder() {
    // Focus-taking controls by tab index; labels and the frame take no focus.
    const std::array<QWidget*, 14> order{Text1,
                                         Com_Puerto,
                                         Opt_Descargar->button(0),
                                         Opt_Descargar->button(1),
                                         Opt_Descargar->button(2),
                                         Opt_Descargar->button(3),
                                         Opt_Descargar->button(4),
                                         Txt_Start_Block,
                                         Txt_Blocks,
                                         Txt_Path,
                                         Txt_Filename,
                                         Cmd_Detener,
                                         Cmd_Salir,
                                         Com_Modo};
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void Principal_Deco::makeTabStop(int preset) {
    // The presets are one stop in the tab order, on the selected one; the arrow keys move
    // between them. (Qt would stop at whichever had the focus last, at first the top one.)
    for (QAbstractButton* option : Opt_Descargar->buttons())
        option->setFocusPolicy(Opt_Descargar->id(option) == preset ? Qt::StrongFocus
                                                                   : Qt::ClickFocus);
}

void Principal_Deco::Form_Load() {
    // Installed, the program's folder is read-only: dumps go to the user's own folder, which
    // is made here so that the default passes the folder check.
    if (runsInstalled())
        QDir().mkpath(defaultOutputFolder());
    Txt_Path->setText(QDir::toNativeSeparators(defaultOutputFolder()));

    {
        // Adding the first entry to an empty list would select it on its own; the list starts
        // with no selection so that selecting "(ninguno)" below is a change.
        const QSignalBlocker quiet(Com_Puerto);
        Com_Puerto->addItem(QStringLiteral("(ninguno)"));
        for (int port = 1; port <= ComPortCount; ++port)
            Com_Puerto->addItem(QStringLiteral("COM") + QString::number(port));
        Com_Puerto->setCurrentIndex(-1);
        refreshPortList();
    }

    Com_Puerto->setCurrentIndex(NoPort);
    Opt_Descargar->button(DefaultPresetIndex)->setChecked(true);
    // The first key the operator presses goes to the port list; a Space on the exit button
    // would end the program.
    Com_Puerto->setFocus();
}

void Principal_Deco::Form_Unload() {
    Com_Puerto->setCurrentIndex(NoPort);
}

void Principal_Deco::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Principal_Deco::keyPressEvent(QKeyEvent* event) {
    // Esc reaches the window from whichever control has the focus (none of them takes it).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        Cmd_Detener_Click();
    else
        QWidget::keyPressEvent(event);
}

void Principal_Deco::Cmd_Salir_Click() {
    close();
}

void Principal_Deco::Cmd_Detener_Click() {
    if (Com_Puerto->currentIndex() == NoPort)
        return;
    if (m_run.transferUnderWay() &&
        !confirm(windowStopQuestion(m_run.plan()), QStringLiteral("Detener"),
                 QStringLiteral("Seguir")))
        return;
    // While the question was up the dump may have ended on its own.
    if (Com_Puerto->currentIndex() == NoPort)
        return;
    if (m_run.running())
        m_run.stop(DumpRun::StopReason::Interrupted);
    else
        Com_Puerto->setCurrentIndex(NoPort);
}

void Principal_Deco::Com_Puerto_Click() {
    m_run.session().closePort();

    const int port = Com_Puerto->currentIndex();
    if (port == NoPort) {
        m_run.session().disarm();
    } else if (!armSelectedPort(port)) {
        return;
    }
    applyLockRule();
}

bool Principal_Deco::armSelectedPort(int port) {
    // COMn by its number; a device the system reported by its own location and name.
    const bool comEntry = port < FirstDeviceEntry;
    const QString devicePath = comEntry ? QString() : Com_Puerto->itemData(port).toString();
    const QString portName = comEntry ? QStringLiteral("COM") + QString::number(port)
                                      : Com_Puerto->itemData(port, DeviceNameRole).toString();

    // The entries, then what stands at the dump's path (a file the dump may replace) and at its
    // ledger's path (nothing the ledger could not replace); neither may be the port's device.
    DumpPlan::Request request;
    request.mode = DumpPlan::Mode(Com_Modo->currentData().toInt());
    request.folderText = Txt_Path->text();
    request.fileName = Txt_Filename->text();
    request.firstBlockText = Txt_Start_Block->text();
    request.blockCountText = Txt_Blocks->text();
    request.devicePath = portDevice(comEntry ? port : 0, devicePath);
    const DumpPlan plan = DumpPlan::prepare(request);
    // The box shows the folder checked, the one the dump goes to.
    if (plan.folderChecked())
        Txt_Path->setText(plan.request.folderText);
    if (!plan.ok() || plan.settled) {
        // A file with nothing left to do is good news, not an error.
        const bool nothingToDo = plan.settled == DumpPlan::Settled::NothingToDo;
        return refuse(windowRefusalText(plan),
                      nothingToDo ? MessageIcon::Information : MessageIcon::Critical);
    }
    if (plan.ledgerWarning)
        showMessage(windowLedgerWarningText(*plan.ledgerWarning), MessageIcon::Exclamation);
    // A verification or a repair reads the range its ledger gives, and the boxes show it.
    if (plan.mode == DumpPlan::Mode::Verify || plan.mode == DumpPlan::Mode::Repair) {
        Txt_Start_Block->setText(fourDigitForm(plan.fileRange.first));
        Txt_Blocks->setText(fourDigitForm(plan.fileRange.count));
    }

    Serie1.setDevicePath(devicePath);
    if (comEntry)
        Serie1.setCommPort(port);
    m_armedEntry = port;
    m_armedPortName = portName;
    if (const std::optional<DumpRun::StartFailure> failure = m_run.start(plan, portName)) {
        if (failure->kind == DumpRun::StartFailure::Kind::DumpInUse)
            return refuse(windowDumpInUseText(plan.dumpPath()));
        showMessage(QStringLiteral("No se puede abrir el ") + portName +
                        QStringLiteral("\r\n\r\n") + failure->detail,
                    MessageIcon::Critical);
        Com_Puerto->setCurrentIndex(NoPort);
        return true;
    }
    Com_Puerto->setEnabled(false);
    return true;
}

bool Principal_Deco::refuse(const QString& message, MessageIcon icon) {
    showMessage(message, icon);
    Com_Puerto->setCurrentIndex(NoPort);
    return false;
}

void Principal_Deco::applyLockRule() {
    const std::array<QWidget*, 7> lockSet{Fra_Tipo,     Txt_Start_Block, Txt_Blocks, Txt_Path,
                                          Txt_Filename, Cmd_Salir,       Com_Modo};
    // The selection is read afresh for each control: a nested run may have changed it.
    for (QWidget* control : lockSet)
        control->setEnabled(Com_Puerto->currentIndex() == NoPort);
    const bool armed = Com_Puerto->currentIndex() != NoPort;
    Cmd_Detener->setEnabled(armed);
    if (!armed)
        showHint({});
}

void Principal_Deco::Opt_Descargar_Click(int Index) {
    const DumpPreset& preset = DumpPresets.at(Index);
    Txt_Start_Block->setEnabled(preset.blocksEditable);
    Txt_Blocks->setEnabled(preset.blocksEditable);
    Txt_Start_Block->setText(QString::fromUtf8(preset.firstBlock));
    Txt_Blocks->setText(QString::fromUtf8(preset.blockCount));
    Txt_Filename->setText(QString::fromUtf8(preset.fileName));
}

void Principal_Deco::Txt_Blocks_Change() {
    Lab_Tamaño->setText(QStringLiteral("(") + sizeText(numericValue(Txt_Blocks->text())) +
                        QStringLiteral(" Kb)"));
}

void Principal_Deco::refreshPortList() {
    QStringList behindComEntries;
    for (int port = 1; port <= ComPortCount; ++port) {
        const QString device = deviceForCommPort(port);
        Com_Puerto->setItemData(port, device, Qt::ToolTipRole);
        behindComEntries.append(canonicalDevice(systemLocation(device)));
    }
    // A device entry in use stays as it is (the list is locked while a port is armed anyway).
    if (Com_Puerto->currentIndex() >= FirstDeviceEntry)
        return;
    // Rebuilding the entries after the selection leaves the selection alone: nothing is armed.
    const QSignalBlocker quiet(Com_Puerto);
    while (Com_Puerto->count() > FirstDeviceEntry)
        Com_Puerto->removeItem(Com_Puerto->count() - 1);
    for (const SerialDevice& device : m_ports->devices()) {
        if (behindComEntries.contains(canonicalDevice(device.systemLocation)))
            continue;
        const QString shown = device.description.isEmpty()
                                  ? device.name
                                  : device.name + QStringLiteral(" — ") + device.description;
        Com_Puerto->addItem(shown, device.systemLocation);
        const int entry = Com_Puerto->count() - 1;
        Com_Puerto->setItemData(entry, device.name, DeviceNameRole);
        Com_Puerto->setItemData(entry, device.systemLocation, Qt::ToolTipRole);
    }
    // The open list is as wide as its longest entry; the closed box keeps its size.
    Com_Puerto->view()->setMinimumWidth(
        Com_Puerto->view()->sizeHintForColumn(0) +
        Com_Puerto->view()->verticalScrollBar()->sizeHint().width());
}

void Principal_Deco::setResponsesFolder(const QString& folder) {
    m_run.session().dialogue().setResponsesFolder(folder);
}

void Principal_Deco::appendLogLine(const QString& text) {
    const QString lineEnd = QStringLiteral("\r\n");
    appendLog(m_logEmpty ? text + lineEnd : lineEnd + text + lineEnd);
}

void Principal_Deco::appendLog(const QString& piece) {
    m_logEmpty = m_logEmpty && piece.isEmpty();
    m_logPending.append(piece);
    if (!m_logFlush->isActive())
        m_logFlush->start();
}

void Principal_Deco::flushLogToWidget() {
    // The dialogue only ever writes CR as part of CR LF; the widget breaks lines on LF alone.
    m_logPending.remove(u'\r');
    QScrollBar* bar = Text1->verticalScrollBar();
    const bool followingEnd = bar->value() == bar->maximum();
    QTextCursor end(Text1->document());
    end.movePosition(QTextCursor::End);
    if (end.block().length() > LongestLogParagraph)
        end.insertBlock();
    end.insertText(m_logPending);
    m_logPending.clear();
    if (followingEnd)
        bar->setValue(bar->maximum());
}

OperatorSide::Message Principal_Deco::endMessage(const TransferSummary& summary) const {
    Message message = OperatorSide::endMessage(summary);
    const DumpPlan& plan = m_run.plan();
    const qsizetype firstLineEnd = message.text.indexOf(QStringLiteral("\r\n"));
    const QString facts = firstLineEnd < 0 ? QString() : message.text.mid(firstLineEnd);
    if (!m_run.conclusion()) {
        // A repair's loader dialogue before its last one: a step of the repair, not its end.
        const int index = m_run.passIndex();
        if (m_run.running() && index + 1 < plan.passes.size())
            message.text = windowRepairStepText(index, int(plan.passes.size()),
                                                plan.passes.at(index).range) +
                           facts;
        return message;
    }
    const EndNote note = windowEndNote(*m_run.conclusion());
    if (note.lines.isEmpty())
        return message;
    // The note says how the whole file stands, which takes in what this transfer's facts say.
    message.text = message.text.left(firstLineEnd < 0 ? message.text.size() : firstLineEnd) +
                   QStringLiteral("\r\n") + note.lines;
    message.icon = note.warning ? MessageIcon::Exclamation : MessageIcon::Information;
    return message;
}

void Principal_Deco::onPassArmed(int index) {
    if (index == 0) {
        const DumpPlan& plan = m_run.plan();
        // A file the run goes on with starts from what its ledger says of it.
        const bool keepsFile = plan.mode == DumpPlan::Mode::Verify ||
                               plan.mode == DumpPlan::Mode::Repair || plan.resumes();
        if (keepsFile)
            m_blockMap->show(BlockMap::fromLedger(*plan.ledger));
        else
            m_mapOnHold = BlockMap(plan.fileRange);
        // Counted over the whole file: the blocks no loader dialogue of this run asks for are
        // already there.
        int asked = 0;
        for (const DumpPlan::Pass& pass : plan.passes)
            asked += pass.range.count;
        m_progress.start(plan.fileRange.count, plan.fileRange.count - asked);
        m_runClock.start();
        showProgressLine();
        return;
    }
    // The next loader dialogue of a repair: armed again on the same entry, locked as before.
    {
        const QSignalBlocker quiet(Com_Puerto);
        Com_Puerto->setCurrentIndex(m_armedEntry);
    }
    Com_Puerto->setEnabled(false);
    applyLockRule();
}

void Principal_Deco::onTransferStarted() {
    showHint({});
    if (m_mapOnHold) {
        m_blockMap->show(*m_mapOnHold);
        m_mapOnHold.reset();
    }
    // The pace is the transfer's own: the wait for the loader does not count.
    m_progress.start(m_progress.total(), m_progress.done());
    m_blocksThisRun = 0;
    showProgressLine();
}

void Principal_Deco::showProgressLine() {
    Lab_Estado->setText(windowProgressText(m_progress, m_run.running()));
}

void Principal_Deco::showHint(const QString& text) {
    Lab_Aviso->setText(text);
    Lab_Aviso->setVisible(!text.isEmpty());
}

void Principal_Deco::onBlockReceived(const ReceivedBlock& block) {
    m_progress.reach(++m_blocksThisRun);
    showProgressLine();
    BlockMap::Facts facts;
    facts.inFile = true;
    facts.sumOk = block.sumOk();
    facts.readAgain = m_run.plan().mode == DumpPlan::Mode::Repair;
    facts.differs = block.differs;
    facts.uncompared = block.uncompared;
    m_blockMap->set(block.block, BlockMap::stateOf(facts));
}

void Principal_Deco::onRunFinished(const DumpOutcome& outcome) {
    // A dump the device cut short can be continued: the operator is told how; one that never
    // began left the file as it was. The end message of a dump that reached its end has said
    // where an old file went; any other end says it here.
    const DumpPlan& plan = m_run.plan();
    m_mapOnHold.reset();
    showProgressLine();
    if (outcome.transferStarted && m_runClock.elapsed() > LongRunMs)
        QApplication::alert(this);
    // The job is done: the next decoder starts with a new dump rather than a refusal.
    if (outcome.complete())
        Com_Modo->setCurrentIndex(Com_Modo->findData(int(DumpPlan::Mode::NewDump)));
    QStringList notes;
    const bool operatorStopped = outcome.ending == DumpOutcome::Ending::Interrupted;
    if (outcome.ending == DumpOutcome::Ending::DeviceLost || operatorStopped) {
        if (outcome.resumable())
            notes.append(windowCutShortText(plan, outcome));
        else if (!outcome.transferStarted && !operatorStopped)
            notes.append(windowNothingWrittenText(plan.dumpPath()));
    }
    if (outcome.ending != DumpOutcome::Ending::Finished && !outcome.keptAs.isEmpty())
        notes.append(windowKeptText(outcome.keptAs));
    if (!notes.isEmpty())
        showMessage(notes.join(QStringLiteral("\r\n\r\n")), MessageIcon::Information);
}

void Principal_Deco::setProgress(const QString& caption) {
    Lab_Progreso->setText(caption);
    Lab_Progreso->setVisible(true);
}

void Principal_Deco::showMessage(const QString& text, MessageIcon icon) {
    // Appends wait for the event loop; the operator reads the message against the whole log.
    flushLogToWidget();
    presentMessage(text, icon);
}

bool Principal_Deco::confirm(const QString& text, const QString& yes, const QString& no) {
    flushLogToWidget();
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(ApplicationTitle), shown,
                    QMessageBox::NoButton, this);
    keepWordsWhole(box, shown);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(no, QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == yesButton;
}

void Principal_Deco::presentMessage(const QString& text, MessageIcon icon) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // In the debug log too, where a support session or a test under wine reads what was shown.
    qCDebug(lcDialogue) << "message:" << shown;
    QMessageBox box(boxIcon(icon), QString::fromUtf8(ApplicationTitle), shown, QMessageBox::Ok,
                    this);
    keepWordsWhole(box, shown);
    box.exec();
}

QString Principal_Deco::portFailureText(const PortFailure& failure) const {
    return windowPortFailureText(failure);
}

QString Principal_Deco::pathProblemText(const DumpPath& problem) const {
    return windowDumpPathText(problem);
}

// The window disarms the way the operator does: by choosing no port.
void Principal_Deco::disarmPort() {
    Com_Puerto->setCurrentIndex(NoPort);
}

void Principal_Deco::enablePortList() {
    Com_Puerto->setEnabled(true);
}
