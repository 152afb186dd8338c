#include "fakecommcontrol.h"
#include "fakeportenumerator.h"
#include "filelock.h"
#include "portlist.h"
#include "qtcommcontrol.h"
#include "recordingwindow.h"
#include "testlocale.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

// Port selection: the entry checks in their order, opening, locking, disarming and closing.
class TestWindowArming : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void countCheck_data();
    void countCheck();
    void folderCheck_data();
    void folderCheck();
    void defaultFolderIsNotCreated();
    void separatorAppendedOnce();
    void fileNameCheck_data();
    void fileNameCheck();
    void countCheckComesFirst();
    void loaderAsksForRange_data();
    void loaderAsksForRange();
    void failedOpen();
    void openFailureOfDevice_data();
    void openFailureOfDevice();
    void arming_data();
    void arming();
    void operatorPicksPort();
    void tickerSendsBreakIn();
    void disarmAtTransferEnd();
    void closingWhileArmed_data();
    void closingWhileArmed();
    void closingWhileDisarmed();
    void progressLabel();
    void messageBoxShowsTitleAndIcon_data();
    void messageBoxShowsTitleAndIcon();

private:
    QTemporaryDir m_dir;
};

namespace {

const QString CountMessage = QStringLiteral("Debe indicar el número de bloques a recibir.");
const QString FolderMessage = QStringLiteral("Debe indicar una ruta válida para el archivo.");
const QString WithoutLedger = QStringLiteral("\r\n\r\nLa descarga sigue sin registro: Reanudar, "
                                             "Verificar y Reparar no podrán usar el archivo.");
const QString FileMessage = QStringLiteral("Debe indicar un nombre de archivo válido.");
const QString Closed = QStringLiteral("Puerto COM cerrado.");
const QString StartLog = Closed + QStringLiteral("\r\n");
// Start-up's line, then the separated line of a disarm.
const QString LogAfterOneDisarm = StartLog + QStringLiteral("\r\n") + StartLog;

QList<QWidget*> lockSet(RecordingWindow& window) {
    return {window.Fra_Tipo, window.Txt_Start_Block, window.Txt_Blocks,
            window.Txt_Path, window.Txt_Filename,    window.Cmd_Salir};
}

void verifyDisarmed(RecordingWindow& window, FakeCommControl& port) {
    QCOMPARE(window.Com_Puerto->currentIndex(), 0);
    QVERIFY(window.Com_Puerto->isEnabled());
    QVERIFY(!port.PortOpen());
    QVERIFY(!window.Timer1->isActive());
    for (QWidget* control : lockSet(window))
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
}

} // namespace

void TestWindowArming::initTestCase() {
    verifyTestLocale();
    QVERIFY(m_dir.isValid());
    QFile file(m_dir.filePath(QStringLiteral("existing.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("fifo")));
    QCOMPARE(mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("fifo/BL_128.bin"))), 0600), 0);
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("ledgerfifo")));
    QCOMPARE(mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("ledgerfifo/BL_128.bin.json"))),
                    0600),
             0);
    // COM2's device, under the dump's name.
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("portlink")));
    QVERIFY(QFile::link(QStringLiteral("/dev/ttyS1"), m_dir.filePath("portlink/BL_128.bin")));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("held")));
}

void TestWindowArming::countCheck_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("refusal"); // empty: armed
    const QString limits =
        QStringLiteral("\r\n\r\nEl número de bloques \"%1\" no es un número entero "
                       "de 1 a 9999.");
    QTest::newRow("zeros") << "0000"
                           << "0000" << CountMessage;
    QTest::newRow("empty") << "0000"
                           << "" << CountMessage;
    QTest::newRow("letters") << "0000"
                             << "abcd" << CountMessage;
    QTest::newRow("minus zero") << "0000"
                                << "-0" << CountMessage;
    QTest::newRow("negative") << "0000"
                              << "-5" << CountMessage + limits.arg("-5");
    QTest::newRow("fraction rounding to 0") << "0000"
                                            << "0.5" << CountMessage + limits.arg("0.5");
    QTest::newRow("fraction rounding to 2") << "0000"
                                            << "1.5" << QString();
    // Four digits: a ledger could not record more, nor a resume read it again.
    QTest::newRow("count beyond four digits") << "0000"
                                              << "1E4" << CountMessage + limits.arg("1E4");
    // Refused before anything is sized by it: the block map never takes memory in proportion.
    QTest::newRow("count of two thousand million") << "0000"
                                                   << "2E9" << CountMessage + limits.arg("2E9");
    QTest::newRow("largest count") << "0000"
                                   << "9999" << QString();
    const QString firstBlockMessage = QStringLiteral("Debe indicar un bloque inicial válido.");
    QTest::newRow("first block beyond 32 bits")
        << "9E99"
        << "1"
        << firstBlockMessage + QStringLiteral("\r\n\r\nEl bloque inicial \"9E99\" no es un "
                                              "número entero de 0 a 9999.");
    QTest::newRow("negative first block")
        << "-1"
        << "1"
        << firstBlockMessage + QStringLiteral("\r\n\r\nEl bloque inicial \"-1\" no es un "
                                              "número entero de 0 a 9999.");
    QTest::newRow("digits then letters") << "0000"
                                         << "7abc" << QString();
    QTest::newRow("preset count") << "0000"
                                  << "0064" << QString();
}

void TestWindowArming::countCheck() {
    QFETCH(QString, start);
    QFETCH(QString, count);
    QFETCH(QString, refusal);
    FakeCommControl port;
    RecordingWindow window(port);
    window.Opt_Descargar[4]->click();
    window.Txt_Start_Block->setText(start);
    window.Txt_Blocks->setText(count);
    window.Txt_Path->setText(m_dir.path());

    window.Com_Puerto->setCurrentIndex(1);
    QCOMPARE(port.PortOpen(), refusal.isEmpty());
    if (refusal.isEmpty()) {
        QVERIFY(window.messages.isEmpty());
        return;
    }
    QCOMPARE(window.messages.size(), 1);
    QCOMPARE(window.messages[0].text, refusal);
    QCOMPARE(window.messages[0].icon, 16);
    QCOMPARE(window.messages[0].selectedPort, 1);
    QCOMPARE(window.messages[0].log, StartLog);
    QCOMPARE(window.logText(), LogAfterOneDisarm);
    // A zero count is refused first; a range only after the folder has been checked.
    QCOMPARE(window.Txt_Path->text(), m_dir.path() + (refusal == CountMessage ? "" : "/"));
    QCOMPARE(port.openCount(), 0);
    verifyDisarmed(window, port);
}

void TestWindowArming::folderCheck_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("afterwards"); // the folder text after arming
    QTest::addColumn<QString>("refusal");    // empty: armed
    const QString dir = m_dir.path();
    const QString cannotCreate =
        QStringLiteral("No se puede crear el archivo %1BL_128.bin\r\n\r\n");
    QTest::newRow("existing folder") << dir << dir + "/" << QString();
    QTest::newRow("ends in separator") << dir + "/" << dir + "/" << QString();
    QTest::newRow("trailing spaces") << dir + "  " << dir + "/" << QString();
    QTest::newRow("leading spaces") << "  " + dir << dir + "/" << QString();
    QTest::newRow("spaces after the separator") << dir + "/   " << dir + "/" << QString();
    QTest::newRow("existing file: the dump cannot go below it")
        << dir + "/existing.bin" << dir + "/existing.bin/"
        << cannotCreate.arg(dir + "/existing.bin/") +
               QString::fromLocal8Bit(std::strerror(ENOTDIR));
    // A new dump goes ahead without its ledger, once the operator has been told.
    QTest::newRow("a pipe where the ledger goes")
        << dir + "/ledgerfifo" << dir + "/ledgerfifo/"
        << QStringLiteral("No se puede escribir el registro de la descarga %1/ledgerfifo/"
                          "BL_128.bin.json\r\n\r\nEs una tubería (FIFO), no un archivo.")
                   .arg(dir) +
               WithoutLedger;
    QTest::newRow("a pipe where the dump goes")
        << dir + "/fifo" << dir + "/fifo/"
        << cannotCreate.arg(dir + "/fifo/") +
               QStringLiteral("Es una tubería (FIFO), no un archivo.");
    // The system's own words for what stops a file from being made there.
    QFile procProbe(QStringLiteral("/proc/BL_128.bin"));
    QVERIFY(!procProbe.open(QIODevice::ReadWrite | QIODevice::NewOnly));
    QTest::newRow("folder where no file can be made")
        << "/proc"
        << "/proc/" << cannotCreate.arg("/proc/") + procProbe.errorString();
    QTest::newRow("the port's device where the dump goes")
        << dir + "/portlink" << dir + "/portlink/"
        << cannotCreate.arg(dir + "/portlink/") +
               QStringLiteral("Es el dispositivo del puerto serie (/dev/ttyS1). Escriba otro "
                              "nombre de archivo.");
    QTest::newRow("another run holds the dump")
        << dir + "/held" << dir + "/held/"
        << QStringLiteral("Otra descarga está usando el archivo %1/held/BL_128.bin (otra ventana "
                          "o decodump-cli).\r\n\r\nEspere a que termine, o escriba otro nombre de "
                          "archivo.")
               .arg(dir);
    QTest::newRow("missing folder") << dir + "/missing" << dir + "/missing" << FolderMessage;
    QTest::newRow("missing below separator")
        << dir + "/missing/" << dir + "/missing/" << FolderMessage;
    QTest::newRow("trailing tab") << dir + "\t" << dir + "\t" << FolderMessage;
    QTest::newRow("empty") << ""
                           << "" << FolderMessage;
    QTest::newRow("spaces only") << "   "
                                 << "   " << FolderMessage;
}

void TestWindowArming::folderCheck() {
    QFETCH(QString, folder);
    QFETCH(QString, afterwards);
    QFETCH(QString, refusal);
    FakeCommControl port;
    RecordingWindow window(port);
    window.Txt_Path->setText(folder);
    FileLock otherRun;
    QString problem;
    if (folder.endsWith(QStringLiteral("/held")))
        QCOMPARE(otherRun.lock(folder + QStringLiteral("/BL_128.bin"), &problem),
                 FileLock::Result::Locked);

    window.Com_Puerto->setCurrentIndex(2);
    QCOMPARE(window.Txt_Path->text(), afterwards);
    if (refusal.isEmpty() || refusal.endsWith(WithoutLedger)) {
        QCOMPARE(window.messages.size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty()) {
            QCOMPARE(window.messages[0].text, refusal);
            QCOMPARE(window.messages[0].icon, 48);
        }
        QVERIFY(port.PortOpen());
        return;
    }
    QCOMPARE(window.messages.size(), 1);
    QCOMPARE(window.messages[0].text, refusal);
    QCOMPARE(window.messages[0].icon, 16);
    QCOMPARE(window.logText(), LogAfterOneDisarm);
    verifyDisarmed(window, port);
}

void TestWindowArming::defaultFolderIsNotCreated() {
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/Descarga");
    if (QFileInfo::exists(folder))
        QSKIP("the default output folder exists beside the test program");
    FakeCommControl port;
    RecordingWindow window(port);
    QCOMPARE(window.Txt_Path->text(), folder);
    window.Com_Puerto->setCurrentIndex(1);
    QCOMPARE(window.messages.size(), 1);
    QCOMPARE(window.messages[0].text, FolderMessage);
    QVERIFY(!QFileInfo::exists(folder));
    verifyDisarmed(window, port);
}

void TestWindowArming::separatorAppendedOnce() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.Txt_Path->setText(m_dir.path());
    window.Com_Puerto->setCurrentIndex(1);
    QVERIFY(port.PortOpen());
    window.disarmPort();
    window.enablePortList();
    window.Com_Puerto->setCurrentIndex(1);
    QVERIFY(port.PortOpen());
    QCOMPARE(window.Txt_Path->text(), m_dir.path() + "/");
}

void TestWindowArming::fileNameCheck_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("reason"); // after the message, when it gives one
    QTest::newRow("empty") << "" << false << QString();
    QTest::newRow("spaces") << "   " << false << QString();
    QTest::newRow("name") << "dump.bin" << true << QString();
    QTest::newRow("name with spaces around") << " dump.bin " << true << QString();
    QTest::newRow("a path out of the folder")
        << "../../x.bin" << false << "El nombre \"../../x.bin\" contiene una barra (/)";
}

void TestWindowArming::fileNameCheck() {
    QFETCH(QString, fileName);
    QFETCH(bool, accepted);
    QFETCH(QString, reason);
    FakeCommControl port;
    RecordingWindow window(port);
    window.Txt_Path->setText(m_dir.path());
    window.Txt_Filename->setText(fileName);

    window.Com_Puerto->setCurrentIndex(3);
    QCOMPARE(port.PortOpen(), accepted);
    // The separator stays whether or not the file name passes.
    QCOMPARE(window.Txt_Path->text(), m_dir.path() + "/");
    QCOMPARE(window.Txt_Filename->text(), fileName);
    if (accepted) {
        QVERIFY(window.messages.isEmpty());
        return;
    }
    QCOMPARE(window.messages.size(), 1);
    const QString text = window.messages[0].text;
    QVERIFY2(reason.isEmpty() ? text == FileMessage
                              : text.startsWith(FileMessage + "\r\n\r\n") && text.contains(reason),
             qPrintable(text));
    QCOMPARE(window.messages[0].icon, 16);
    verifyDisarmed(window, port);
}

void TestWindowArming::countCheckComesFirst() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.Opt_Descargar[4]->click();
    window.Txt_Path->setText(m_dir.path() + "/missing");
    window.Txt_Filename->clear();
    window.Com_Puerto->setCurrentIndex(1);
    QCOMPARE(window.messages.size(), 1);
    QCOMPARE(window.messages[0].text, CountMessage);
    QCOMPARE(window.Txt_Path->text(), m_dir.path() + "/missing");
    QCOMPARE(window.logText(), LogAfterOneDisarm);
}

void TestWindowArming::loaderAsksForRange_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QByteArray>("answers");
    QTest::newRow("fractions round to even") << "7.5"
                                             << "2.5" << QByteArray("00080002");
    QTest::newRow("comma ends the number") << "7,5"
                                           << "3,5" << QByteArray("00070003");
}

void TestWindowArming::loaderAsksForRange() {
    QFETCH(QString, first);
    QFETCH(QString, count);
    QFETCH(QByteArray, answers);
    FakeCommControl port;
    RecordingWindow window(port);
    window.Opt_Descargar[4]->click();
    window.Txt_Start_Block->setText(first);
    window.Txt_Blocks->setText(count);
    window.Txt_Path->setText(m_dir.path());
    window.Com_Puerto->setCurrentIndex(1);
    QVERIFY(port.PortOpen());
    port.push("REQDATA_START_BLOCK\nREQDATA_BLOCK\n");
    QCOMPARE(port.sent(), answers);
}

void TestWindowArming::failedOpen() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.Txt_Path->setText(m_dir.path());
    port.failNextOpen(QStringLiteral("Permiso denegado"));
    QSignalSpy closed(&port, &CommControl::closed);

    window.Com_Puerto->setCurrentIndex(2);
    QCOMPARE(window.messages.size(), 1);
    QCOMPARE(window.messages[0].text,
             QStringLiteral("No se puede abrir el COM2\r\n\r\nPermiso denegado"));
    QCOMPARE(window.messages[0].icon, 16);
    QCOMPARE(window.messages[0].selectedPort, 2);
    QCOMPARE(window.messages[0].log, StartLog);
    QVERIFY(!window.messages[0].portOpen);
    QCOMPARE(window.logText(), LogAfterOneDisarm);
    QCOMPARE(port.CommPort(), 2);
    QCOMPARE(closed.count(), 0);
    verifyDisarmed(window, port);

    // The operator can pick a port again at once.
    window.Com_Puerto->setCurrentIndex(2);
    QVERIFY(port.PortOpen());
    QCOMPARE(window.messages.size(), 1);
}

void TestWindowArming::openFailureOfDevice_data() {
    QTest::addColumn<QString>("device");  // %DIR% stands for a scratch folder
    QTest::addColumn<int>("entry");       // COM2, or the device listed after COM4
    QTest::addColumn<QString>("message"); // how it starts
    QTest::newRow("missing") << "/nonexistent/ttyS9" << 2
                             << "No se puede abrir el COM2\r\n\r\nEl dispositivo "
                                "/nonexistent/ttyS9 no existe. Conecte el adaptador serie o "
                                "elija otro puerto.";
    QTest::newRow("not a serial port")
        << "%DIR%/existing.bin" << 2
        << "No se puede abrir el COM2\r\n\r\nEl sistema no deja usar %DIR%/existing.bin como "
           "puerto serie (";
    QTest::newRow("a listed device gone")
        << "/nonexistent/ttyUSB9" << 5
        << "No se puede abrir el ttyUSB9\r\n\r\nEl dispositivo /nonexistent/ttyUSB9 no existe.";
}

void TestWindowArming::openFailureOfDevice() {
    QFETCH(QString, device);
    QFETCH(int, entry);
    QFETCH(QString, message);
    device.replace(QStringLiteral("%DIR%"), m_dir.path());
    message.replace(QStringLiteral("%DIR%"), m_dir.path());
    QtCommControl port;
    FakePortEnumerator devices;
    if (entry == 2)
        qputenv("DECODUMP_COM2", QFile::encodeName(device));
    else
        devices.present = {{"ttyUSB9", device, {}, {}, {}, {}, {}}};
    RecordingWindow window(port, &devices);
    window.Txt_Path->setText(m_dir.path());
    window.Com_Puerto->setCurrentIndex(entry);
    qunsetenv("DECODUMP_COM2");
    QCOMPARE(window.messages.size(), 1);
    QVERIFY2(window.messages[0].text.startsWith(message), qPrintable(window.messages[0].text));
    QVERIFY(!port.PortOpen());
    QCOMPARE(window.Com_Puerto->currentIndex(), 0);
}

void TestWindowArming::arming_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("devicePath"); // empty: the one COMn stands for
    for (int n = 1; n <= 4; ++n)
        QTest::addRow("COM%d", n) << n << QStringLiteral("COM%1").arg(n) << QString();
    QTest::newRow("a device after COM4") << 6 << "ttyUSB1"
                                         << "/dev/ttyUSB1";
}

void TestWindowArming::arming() {
    QFETCH(int, port);
    QFETCH(QString, name);
    QFETCH(QString, devicePath);
    FakeCommControl fake;
    FakePortEnumerator devices;
    devices.present = {{"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", {}, {}, {}, {}},
                       {"ttyUSB1", "/dev/ttyUSB1", {}, {}, {}, {}, {}}};
    RecordingWindow window(fake, &devices);
    window.Txt_Path->setText(m_dir.path());

    // A first dialogue leaves its total behind; a second one a partial line and the block count
    // sent, and the receive threshold of a transfer.
    window.Opt_Descargar[4]->setChecked(true);
    window.Txt_Blocks->setText(QStringLiteral("1"));
    window.Com_Puerto->setCurrentIndex(port);
    const QByteArray data = QByteArray(1023, '\0') + char(90);
    fake.push("REQDATA_BLOCK\nack\n" + data + char(90) + QByteArray(7, '\0') + char(90));
    QCOMPARE(window.messages.size(), 1);
    window.Com_Puerto->setCurrentIndex(port);
    fake.push("REQDATA_BLOCK\nREQ");
    window.Com_Puerto->setCurrentIndex(0);
    fake.setRThreshold(0);

    window.Com_Puerto->setCurrentIndex(port);
    QCOMPARE(window.messages.size(), 1);
    QVERIFY(fake.PortOpen());
    QCOMPARE(fake.devicePath(), devicePath);
    if (devicePath.isEmpty())
        QCOMPARE(fake.CommPort(), port);
    QVERIFY(window.logText().endsWith(
        QStringLiteral("\r\nPuerto COM cerrado.\r\n\r\nEn espera %1\r\n").arg(name)));
    QVERIFY(window.Timer1->isActive());
    QCOMPARE(fake.RThreshold(), 1);
    for (QWidget* control : lockSet(window))
        QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
    QVERIFY(!window.Com_Puerto->isEnabled());
    QVERIFY(!window.Opt_Descargar[0]->isEnabled());
    QCOMPARE(window.Com_Puerto->currentIndex(), port);

    // The partial line and the count as sent are still there: the line completes to a version
    // request and the "ack" starts the transfer; the total starts from zero again, so the same
    // block's sum is the right total; "Recibiendo info..." is not logged again.
    fake.clearSent();
    fake.push("UEST_VERSION:\nack\n" + data + char(90) + QByteArray(7, '\0') + char(90));
    QCOMPARE(fake.writes().mid(0, 2), (QByteArrayList{"ack", "REQUEST_DOWNLOAD\r"}));
    QCOMPARE(fake.writes().last(), QByteArray("DOWN_SUCCESS\r"));
    QCOMPARE(window.logText().count(QStringLiteral("Recibiendo info...")), 1);
}

void TestWindowArming::operatorPicksPort() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.show();
    window.Txt_Path->setText(m_dir.path());
    window.Com_Puerto->setFocus();
    QTest::keyClick(window.Com_Puerto, Qt::Key_Down);
    QCOMPARE(window.Com_Puerto->currentIndex(), 1);
    QVERIFY(port.PortOpen());
    QVERIFY(window.logText().endsWith(QStringLiteral("\r\nEn espera COM1\r\n")));
}

void TestWindowArming::tickerSendsBreakIn() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.Txt_Path->setText(m_dir.path());
    QSignalSpy ticks(window.Timer1, &QTimer::timeout);
    window.Com_Puerto->setCurrentIndex(4);
    QVERIFY(port.sent().isEmpty());
    QTRY_VERIFY(!port.sent().isEmpty());
    QCOMPARE(port.sent(), QByteArray(int(ticks.count()), '\x1f'));

    window.disarmPort();
    QVERIFY(!window.Timer1->isActive());
}

void TestWindowArming::disarmAtTransferEnd() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.Txt_Path->setText(m_dir.path());
    window.Com_Puerto->setCurrentIndex(3);
    QVERIFY(port.PortOpen());

    window.disarmPort();
    QVERIFY(!port.PortOpen());
    QVERIFY(!window.Timer1->isActive());
    QVERIFY(window.logText().endsWith(QStringLiteral("En espera COM3\r\n\r\n") + StartLog));
    for (QWidget* control : lockSet(window))
        QVERIFY(control->isEnabled());
    // The list stays locked until the dialogue enables it.
    QVERIFY(!window.Com_Puerto->isEnabled());
    window.enablePortList();
    verifyDisarmed(window, port);
    QVERIFY(window.messages.isEmpty());
}

void TestWindowArming::closingWhileArmed_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("close box") << true;
    QTest::newRow("exit button") << false;
}

void TestWindowArming::closingWhileArmed() {
    QFETCH(bool, closeBox);
    FakeCommControl port;
    RecordingWindow window(port);
    window.show();
    window.Txt_Path->setText(m_dir.path());
    window.Com_Puerto->setCurrentIndex(3);
    QVERIFY(port.PortOpen());
    QSignalSpy closed(&port, &CommControl::closed);

    if (closeBox) {
        QVERIFY(window.close());
    } else {
        // The exit button is locked while armed; once it is enabled it closes the same way.
        window.Cmd_Salir->setEnabled(true);
        window.Cmd_Salir->click();
    }
    QVERIFY(!window.isVisible());
    QCOMPARE(closed.count(), 1);
    QVERIFY(!port.PortOpen());
    QVERIFY(!window.Timer1->isActive());
    QVERIFY(window.logText().endsWith(QStringLiteral("\r\n") + StartLog));
    QCOMPARE(window.Com_Puerto->currentIndex(), 0);
}

void TestWindowArming::closingWhileDisarmed() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.show();
    window.Cmd_Salir->click();
    QVERIFY(!window.isVisible());
    QCOMPARE(window.logText(), StartLog);
    QVERIFY(window.messages.isEmpty());
}

void TestWindowArming::progressLabel() {
    FakeCommControl port;
    RecordingWindow window(port);
    window.show();
    QVERIFY(!window.Lab_Progreso->isVisible());
    window.setProgress(QStringLiteral("0003/0064"));
    QVERIFY(window.Lab_Progreso->isVisible());
    QCOMPARE(window.Lab_Progreso->text(), QStringLiteral("0003/0064"));
}

void TestWindowArming::messageBoxShowsTitleAndIcon_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("detail"); // after the first line, wider than a box or not
    const QString path = QStringLiteral("/home/operador/Descargas/decodificadores/cliente_12345/"
                                        "taller_norte/BL_128.bin.json");
    QTest::newRow("critical, a long path")
        << 16 << int(QMessageBox::Critical) << QStringLiteral("Permiso denegado: ") + path;
    QTest::newRow("exclamation") << 48 << int(QMessageBox::Warning)
                                 << QStringLiteral("Permiso denegado");
    QTest::newRow("information, a long path")
        << 64 << int(QMessageBox::Information) << QStringLiteral("Permiso denegado: ") + path;
}

void TestWindowArming::messageBoxShowsTitleAndIcon() {
    QFETCH(int, code);
    QFETCH(int, icon);
    QFETCH(QString, detail);
    FakeCommControl port;
    Principal_Deco window(port);
    window.show();
    QString title;
    QString text;
    int shownIcon = -1;
    int labelWidth = 0;
    int neededWidth = 0;
    QTimer answer;
    answer.setSingleShot(true);
    answer.setInterval(0);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        shownIcon = box->icon();
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        labelWidth = label->width();
        // A path wider than a box, and a first line that fits one, each stay whole.
        const QString longest = detail.section(u' ', -1);
        neededWidth = label->fontMetrics().horizontalAdvance(
            longest.size() > 40 ? longest : QStringLiteral("No se puede abrir el COM2"));
        box->accept();
    });
    answer.start();
    window.showMessage(QStringLiteral("No se puede abrir el COM2\r\n\r\n") + detail,
                       static_cast<MessageIcon>(code));
    QCOMPARE(title, QStringLiteral("decodump"));
    QCOMPARE(text, QStringLiteral("No se puede abrir el COM2\n\n") + detail);
    QCOMPARE(shownIcon, icon);
    QVERIFY2(labelWidth >= neededWidth,
             qPrintable(QStringLiteral("%1 < %2").arg(labelWidth).arg(neededWidth)));
}

QTEST_MAIN(TestWindowArming)
#include "tst_window_arming.moc"
