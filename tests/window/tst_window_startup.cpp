#include "fakecommcontrol.h"
#include "fakeportenumerator.h"
#include "portlist.h"
#include "portnaming.h"
#include "blockmapview.h"
#include "recordingwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <ctime>

// The window as start-up leaves it: controls, layout, focus order, port list and log.
class TestWindowStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controls_data();
    void controls();
    void logHoldsOneLine();
    void portListEntries_data();
    void portListEntries();
    void portTooltipsNameDevices();
    void presetTwoSelected();
    void tickerStoppedAndPortClosed();
    void windowFrame();
    void captionsFit_data();
    void captionsFit();
    void tabOrder();
    void tabEntersPresetsOnSelected_data();
    void tabEntersPresetsOnSelected();
    void strayInputChangesNothing_data();
    void strayInputChangesNothing();
    void blockBoxesTakeFourCharacters_data();
    void blockBoxesTakeFourCharacters();
    void logAppendIsLinear();
    void logWidgetShowsLineBreaks();
};

namespace {

QString defaultFolder() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Descarga");
}

// What an operator may do by mistake right after start-up.
enum class StrayInput { WheelNotch, SpaceAtStart };

QWidget* control(RecordingWindow& window, const QString& name) {
    if (name.startsWith(QStringLiteral("Opt_Descargar")))
        return window.Opt_Descargar.at(name.back().digitValue());
    return window.findChild<QWidget*>(name);
}

QString shownText(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* box = qobject_cast<QLineEdit*>(widget))
        return box->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        return frame->title();
    if (auto* list = qobject_cast<QComboBox*>(widget))
        return list->currentText();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* log = qobject_cast<QPlainTextEdit*>(widget))
        return log->toPlainText();
    return {};
}

} // namespace

Q_DECLARE_METATYPE(StrayInput)

void TestWindowStartup::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QRect>("geometry");

    const auto row = [](const char* name, const char* kind, const QString& text, bool enabled,
                        bool visible, QRect geometry) {
        QTest::newRow(name) << QString::fromUtf8(name) << QString::fromLatin1(kind) << text
                            << enabled << visible << geometry;
    };
    // Geometry in pixels: twips / 15; the option buttons relative to the frame.
    row("Cmd_Salir", "QPushButton", "Salir", true, true, {348, 120, 77, 29});
    row("Txt_Filename", "QLineEdit", "BL_128.bin", true, true, {60, 394, 169, 21});
    row("Txt_Path", "QLineEdit", defaultFolder(), true, true, {60, 370, 365, 21});
    row("Txt_Blocks", "QLineEdit", "0128", false, true, {284, 60, 37, 21});
    row("Txt_Start_Block", "QLineEdit", "1920", false, true, {284, 38, 37, 21});
    row("Fra_Tipo", "QGroupBox", "Descargar ...", true, true, {8, 32, 185, 117});
    row("Opt_Descargar4", "QRadioButton", "Libre", true, true, {8, 92, 117, 17});
    row("Opt_Descargar3", "QRadioButton", "Firmware (1 Mg)", true, true, {8, 72, 117, 17});
    row("Opt_Descargar2", "QRadioButton", "Bootloader 128 Kb", true, true, {8, 54, 117, 17});
    row("Opt_Descargar1", "QRadioButton", "Bootloader 64 Kb", true, true, {8, 36, 117, 17});
    row("Opt_Descargar0", "QRadioButton", "Todo (2 Mg)", true, true, {8, 18, 117, 17});
    row("Com_Puerto", "QComboBox", "(ninguno)", true, true, {144, 6, 93, 21});
    row("Text1", "QPlainTextEdit", "Puerto COM cerrado.\n", true, true, {4, 154, 421, 211});
    row("Lab_Filename", "QLabel", "Nombre :", true, true, {4, 398, 49, 13});
    row("Lab_Ruta", "QLabel", "Camino:", true, true, {4, 374, 49, 13});
    row("Lab_Tamaño", "QLabel", "(128 Kb)", true, true, {328, 64, 77, 13});
    row("Label3", "QLabel", "Bloques :", true, true, {200, 64, 77, 13});
    row("Label2", "QLabel", "Bloque inicial :", true, true, {200, 42, 77, 13});
    row("Lab_Progreso", "QLabel", "0000", true, false, {288, 10, 72, 13});
    row("Label1", "QLabel", "Selecciona el puerto serie:", true, true, {8, 10, 125, 13});
    // Beside the file name; the mnemonic Alt+M reaches the list.
    row("Lab_Modo", "QLabel", "&Modo:", true, true, {237, 398, 40, 13});
    row("Com_Modo", "QComboBox", "Nueva descarga", true, true, {280, 394, 145, 21});
}

void TestWindowStartup::controls() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(QRect, geometry);

    FakeCommControl port;
    RecordingWindow window(port);
    QWidget* widget = control(window, name);
    QVERIFY(widget);
    QVERIFY2(widget->inherits(kind.toLatin1().constData()), widget->metaObject()->className());
    QTRY_COMPARE(shownText(widget), text);
    QCOMPARE(widget->isEnabled(), enabled);
    QCOMPARE(widget->isVisibleTo(&window), visible);
    QCOMPARE(widget->geometry(), geometry);
    QVERIFY(window.messages.isEmpty());
}

void TestWindowStartup::logHoldsOneLine() {
    FakeCommControl port;
    RecordingWindow window(port);
    QCOMPARE(window.logText(), QStringLiteral("Puerto COM cerrado.\r\n"));
    QTRY_COMPARE(window.Text1->toPlainText(), QStringLiteral("Puerto COM cerrado.\n"));
    QVERIFY(window.Text1->isReadOnly());
    QCOMPARE(window.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

using Devices = QList<SerialDevice>;

// The entries after COM4 follow the devices present each time the list opens, without arming
// anything; a device already behind a COMn entry is not listed again.
void TestWindowStartup::portListEntries_data() {
    QTest::addColumn<Devices>("atStart");
    QTest::addColumn<Devices>("atOpening");
    QTest::addColumn<QString>("com1");      // $DECODUMP_COM1; %LINK% is a link to /dev/null
    QTest::addColumn<QStringList>("after"); // the entries after COM4 once the list has opened
    const SerialDevice ftdi{"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", {}, {}, {}, {}};
    const SerialDevice acm{"ttyACM0", "/dev/ttyACM0", {}, {}, {}, {}, {}};
    const SerialDevice null{"null", "/dev/null", "Behind a link", {}, {}, {}, {}};
    const QString ftdiEntry = QStringLiteral("ttyUSB0 — FT232R USB UART");
    QTest::newRow("none") << Devices{} << Devices{} << QString() << QStringList{};
    QTest::newRow("plugged in after start-up")
        << Devices{acm} << Devices{acm, ftdi} << QString() << QStringList{"ttyACM0", ftdiEntry};
    QTest::newRow("pulled out") << Devices{acm, ftdi} << Devices{ftdi} << QString()
                                << QStringList{ftdiEntry};
    QTest::newRow("behind COM1") << Devices{} << Devices{ftdi, acm} << "/dev/ttyUSB0"
                                 << QStringList{"ttyACM0"};
    QTest::newRow("behind COM1 through a link")
        << Devices{} << Devices{null, acm} << "%LINK%" << QStringList{"ttyACM0"};
}

void TestWindowStartup::portListEntries() {
    QFETCH(Devices, atStart);
    QFETCH(Devices, atOpening);
    QFETCH(QString, com1);
    QFETCH(QStringList, after);
    QTemporaryDir dir;
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), dir.filePath(QStringLiteral("link"))));
    qputenv("DECODUMP_COM1", com1.replace(QStringLiteral("%LINK%"), dir.filePath("link")).toUtf8());
    FakeCommControl port;
    FakePortEnumerator ports;
    ports.present = atStart;
    RecordingWindow window(port, &ports);
    window.show();
    ports.present = atOpening;
    window.Com_Puerto->showPopup();
    window.Com_Puerto->hidePopup();
    qunsetenv("DECODUMP_COM1");

    QStringList entries;
    for (int i = 0; i < window.Com_Puerto->count(); ++i)
        entries << window.Com_Puerto->itemText(i);
    QCOMPARE(entries, QStringList({"(ninguno)", "COM1", "COM2", "COM3", "COM4"}) + after);
    for (int i = 5; i < window.Com_Puerto->count(); ++i)
        QVERIFY(window.Com_Puerto->itemData(i, Qt::ToolTipRole).toString().startsWith("/dev/"));
    QCOMPARE(window.Com_Puerto->currentIndex(), 0);
    QCOMPARE(window.logText(), QStringLiteral("Puerto COM cerrado.\r\n"));
    QCOMPARE(port.openCount(), 0);
    QVERIFY(!window.Com_Puerto->isEditable());
}

void TestWindowStartup::portTooltipsNameDevices() {
    qputenv("DECODUMP_COM2", "/dev/pts/startup-test");
    FakeCommControl port;
    RecordingWindow window(port);
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(window.Com_Puerto->itemData(n, Qt::ToolTipRole).toString(), deviceForCommPort(n));
    QCOMPARE(window.Com_Puerto->itemData(2, Qt::ToolTipRole).toString(),
             QStringLiteral("/dev/pts/startup-test"));

    // The tooltips follow the mapping each time the list opens.
    qputenv("DECODUMP_COM2", "/dev/pts/changed");
    window.show();
    window.Com_Puerto->showPopup();
    QCOMPARE(window.Com_Puerto->itemData(2, Qt::ToolTipRole).toString(),
             QStringLiteral("/dev/pts/changed"));
    window.Com_Puerto->hidePopup();
    qunsetenv("DECODUMP_COM2");
}

void TestWindowStartup::presetTwoSelected() {
    FakeCommControl port;
    RecordingWindow window(port);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(window.Opt_Descargar.at(i)->isChecked(), i == 2);
}

void TestWindowStartup::tickerStoppedAndPortClosed() {
    FakeCommControl port;
    RecordingWindow window(port);
    QVERIFY(!window.Timer1->isActive());
    QCOMPARE(window.Timer1->interval(), 500);
    QVERIFY(!window.Timer1->isSingleShot());
    QVERIFY(!port.PortOpen());
    QCOMPARE(port.openCount(), 0);
    QCOMPARE(&window.Serie1, static_cast<CommControl*>(&port));
}

void TestWindowStartup::windowFrame() {
    FakeCommControl port;
    RecordingWindow window(port);
    QCOMPARE(window.windowTitle(), QStringLiteral("Descarga Firmware Vemu v0.04 beta por Oskel"));
    // The classic window's 6465 by 6345 twips, and the block map below them.
    QCOMPARE(window.size().width(), 431);
    QVERIFY(window.size().height() >= 423 + 32 * 6);
    QCOMPARE(window.blockMap->geometry().top(), 423);
    QCOMPARE(window.objectName(), QStringLiteral("Principal_Deco"));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.windowIcon().pixmap(32, 32).size(), QSize(32, 32));
}

void TestWindowStartup::captionsFit_data() {
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"Label1", "Label2", "Label3", "Lab_Tamaño", "Lab_Ruta", "Lab_Filename", "Opt_Descargar0",
          "Opt_Descargar1", "Opt_Descargar2", "Opt_Descargar3", "Opt_Descargar4", "Lab_Modo"})
        QTest::newRow(name) << QString::fromUtf8(name);
}

void TestWindowStartup::captionsFit() {
    QFETCH(QString, name);
    FakeCommControl port;
    RecordingWindow window(port);
    QWidget* widget = control(window, name);
    QVERIFY2(widget->sizeHint().width() <= widget->width(),
             qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                            .arg(shownText(widget))
                            .arg(widget->sizeHint().width())
                            .arg(widget->width())));
}

void TestWindowStartup::tabOrder() {
    FakeCommControl port;
    RecordingWindow window(port);
    // The presets are one stop, on the selected one.
    const QList<QWidget*> expected{
        window.Text1,      window.Com_Puerto, window.Opt_Descargar[2], window.Txt_Start_Block,
        window.Txt_Blocks, window.Txt_Path,   window.Txt_Filename,     window.Cmd_Detener,
        window.Cmd_Salir,  window.Com_Modo};
    QList<QWidget*> chain;
    QWidget* widget = window.Text1;
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            chain << widget;
        widget = widget->nextInFocusChain();
    } while (widget != window.Text1 && chain.size() <= expected.size());
    QCOMPARE(chain, expected);
}

void TestWindowStartup::tabEntersPresetsOnSelected_data() {
    QTest::addColumn<int>("preset");
    QTest::addColumn<QString>("next"); // where the next Tab goes
    for (int preset = 0; preset < 4; ++preset)
        QTest::addRow("preset %d", preset) << preset << QStringLiteral("Txt_Path");
    QTest::newRow("free preset") << 4 << QStringLiteral("Txt_Start_Block");
}

void TestWindowStartup::tabEntersPresetsOnSelected() {
    QFETCH(int, preset);
    QFETCH(QString, next);
    FakeCommControl port;
    RecordingWindow window(port);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.Opt_Descargar.at(preset)->setChecked(true);
    window.Com_Puerto->setFocus();
    QTest::keyClick(window.Com_Puerto, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window.Opt_Descargar.at(preset));
    QTest::keyClick(window.Opt_Descargar.at(preset), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), next);
}

void TestWindowStartup::strayInputChangesNothing_data() {
    QTest::addColumn<StrayInput>("input");
    QTest::newRow("wheel notch over the port list") << StrayInput::WheelNotch;
    QTest::newRow("Space at start-up") << StrayInput::SpaceAtStart;
}

void TestWindowStartup::strayInputChangesNothing() {
    QFETCH(StrayInput, input);
    FakeCommControl port;
    RecordingWindow window(port);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    if (input == StrayInput::WheelNotch) {
        const QPointF inside(window.Com_Puerto->rect().center());
        QWheelEvent notch(inside, window.Com_Puerto->mapToGlobal(inside), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window.Com_Puerto, &notch);
    } else {
        // To whichever control has the focus, as the keyboard would.
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Space);
        window.Com_Puerto->hidePopup();
    }

    QCOMPARE(window.Com_Puerto->currentIndex(), 0);
    QCOMPARE(window.logText(), QStringLiteral("Puerto COM cerrado.\r\n"));
    QVERIFY(window.isVisible());
    QVERIFY(!port.PortOpen());
    QVERIFY(window.messages.isEmpty());
    QCOMPARE(QApplication::focusWidget(), window.Com_Puerto);
}

void TestWindowStartup::blockBoxesTakeFourCharacters_data() {
    QTest::addColumn<QString>("box");
    QTest::newRow("first block") << QStringLiteral("Txt_Start_Block");
    QTest::newRow("block count") << QStringLiteral("Txt_Blocks");
}

void TestWindowStartup::blockBoxesTakeFourCharacters() {
    QFETCH(QString, box);
    FakeCommControl port;
    RecordingWindow window(port);
    window.Opt_Descargar[4]->click();
    auto* edit = window.findChild<QLineEdit*>(box);
    QVERIFY(edit->isEnabled());
    QCOMPARE(edit->maxLength(), 4);
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("12345"));
    QCOMPARE(edit->text(), QStringLiteral("1234"));
}

void TestWindowStartup::logAppendIsLinear() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.show();
    constexpr int appends = 100000;
    const std::clock_t start = std::clock();
    for (int i = 0; i < appends; ++i)
        window.appendLog(QStringLiteral("o"));
    const QString expected = QStringLiteral("Puerto COM cerrado.\n") + QString(appends, u'o');
    QTRY_COMPARE(window.Text1->toPlainText().size(), expected.size());
    const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    QVERIFY2(seconds < 1.0, qPrintable(QStringLiteral("%1 s of CPU").arg(seconds)));
    QCOMPARE(window.Text1->toPlainText(), expected);
}

void TestWindowStartup::logWidgetShowsLineBreaks() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.appendLog(QStringLiteral("oo\r"));
    window.appendLog(QStringLiteral("\nRecibiendo info...\r\n"));
    QTRY_COMPARE(window.Text1->toPlainText(),
                 QStringLiteral("Puerto COM cerrado.\noo\nRecibiendo info...\n"));
}

QTEST_MAIN(TestWindowStartup)
#include "tst_window_startup.moc"
