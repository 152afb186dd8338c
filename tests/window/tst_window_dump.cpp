#include "eventwait.h"
#include "ledger.h"
#include "loadersimprocess.h"
#include "portlist.h"
#include "qtcommcontrol.h"
#include "recordingwindow.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Whole dumps through the window, the real serial adapter and the simulated boot loader on a
// pseudo-terminal.
class TestWindowDump : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void dump_data();
    void dump();
};

void TestWindowDump::initTestCase() {
    if (LoaderSimProcess::program().isEmpty())
        QSKIP("loader-sim is not built");
}

void TestWindowDump::cleanup() {
    qunsetenv("DECODUMP_COM1");
}

void TestWindowDump::dump_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("preset");
    QTest::addColumn<int>("firstBlock");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("ledgerBlocked"); // the disk fills before the ledger's next write
    QTest::newRow("ack, Bootloader 64 Kb") << "ack" << 1 << 1984 << 64 << "BL_64.bin" << false;
    QTest::newRow("response file, Bootloader 128 Kb")
        << "respfile" << 2 << 1920 << 128 << "BL_128.bin" << false;
    QTest::newRow("full disk for the ledger") << "ack" << 1 << 1984 << 64 << "BL_64.bin" << true;
}

void TestWindowDump::dump() {
    QFETCH(QString, mode);
    QFETCH(int, preset);
    QFETCH(int, firstBlock);
    QFETCH(int, count);
    QFETCH(QString, fileName);
    QFETCH(bool, ledgerBlocked);
    constexpr int seed = 7;
    const QByteArray image = LoaderSimProcess::imageForSeed(seed);
    QVERIFY(!image.isEmpty());

    LoaderSimProcess sim;
    QVERIFY(sim.start({"--mode", mode, "--seed", QString::number(seed), "--sessions", "2"}));
    qputenv("DECODUMP_COM1", sim.devicePath().toLocal8Bit());
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    // Room for the dump and a ledger of no records, but not for a second ledger beside them.
    const QString folder = scratch.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkdir(folder));
    if (ledgerBlocked && QProcess::execute(QStringLiteral("mount"),
                                           {"-t", "tmpfs", "-o", "size=72k", "tmpfs", folder}) != 0)
        QSKIP("a small file system cannot be mounted here");
    const auto unmount = qScopeGuard([&] {
        if (ledgerBlocked)
            QProcess::execute(QStringLiteral("umount"), {folder});
    });
    const QDir out(folder);

    QtCommControl port;
    RecordingWindow window(port);
    window.setResponsesFolder(LoaderSimProcess::samplesFolder());
    if (!window.Opt_Descargar.at(preset)->isChecked())
        window.Opt_Descargar.at(preset)->click();
    window.Txt_Path->setText(out.path());
    const QString ledgerPath = out.filePath(fileName + QStringLiteral(".json"));
    window.show();

    // Two dumps in the same run: the second arming must find the line phase working again.
    const int messagesPerDump = ledgerBlocked ? 2 : 1;
    for (int round = 1; round <= 2; ++round) {
        window.Com_Puerto->setCurrentIndex(1);
        QVERIFY2(port.PortOpen(),
                 window.messages.isEmpty() ? "" : qPrintable(window.messages.last().text));
        QVERIFY(waitFor([&] { return window.messages.size() == round * messagesPerDump; }, 60000));
        const RecordingWindow::Message& end = window.messages.at((round - 1) * messagesPerDump);
        // The second dump keeps the first beside it (removed below where there is no room).
        QCOMPARE(end.text, QStringLiteral("Descarga finalizada.") +
                               (round == 1 || ledgerBlocked
                                    ? QString()
                                    : QStringLiteral("\r\nEl archivo anterior se guardó "
                                                     "como %1.")
                                          .arg(out.filePath(QString(fileName).replace(
                                              QStringLiteral(".bin"), QStringLiteral(".1.bin"))))));
        QCOMPARE(end.icon, 64);
        QVERIFY(end.portOpen);
        if (ledgerBlocked) {
            QVERIFY2(window.messages.last().text.startsWith(
                         QStringLiteral("No se puede escribir el registro de la descarga.")),
                     qPrintable(window.messages.last().text));
            QCOMPARE(window.messages.last().icon, 48);
        }
        QVERIFY(waitFor([&] { return !port.PortOpen(); }, 5000));
        // The small file system holds one dump: the second finds none to keep.
        if (ledgerBlocked && round == 1)
            QVERIFY(QFile::remove(out.filePath(fileName)));
    }

    const QByteArray dump = readFile(out.filePath(fileName));
    QCOMPARE(dump, image.mid(qsizetype(firstBlock) * 1024, qsizetype(count) * 1024));
    // The ledger beside the dump vouches for exactly this file; one that could not be written
    // again is the whole one written before, of no records.
    const std::optional<Ledger> written = Ledger::load(ledgerPath, nullptr);
    QVERIFY(written);
    QCOMPARE(written->records(), ledgerBlocked ? 0 : count);
    if (!ledgerBlocked) {
        const QJsonObject ledger = QJsonDocument::fromJson(readFile(ledgerPath)).object();
        QCOMPARE(ledger.value(QStringLiteral("sha256")).toString(),
                 QString::fromLatin1(
                     QCryptographicHash::hash(dump, QCryptographicHash::Sha256).toHex()));
        QCOMPARE(ledger.value(QStringLiteral("outcome")).toString(), QStringLiteral("complete"));
        QCOMPARE(ledger.value(QStringLiteral("records")).toInt(), count);
        QCOMPARE(ledger.value(QStringLiteral("runs")).toArray().size(), 1);
    }

    // The whole log, in order: one "o" per line received; "Recibiendo info..." only once.
    const QString lines = mode == QLatin1String("ack")
                              ? QStringLiteral("o+")
                              : QStringLiteral("oSolicitando firmware\\.\\.\\.\r\no");
    const QString oneDump = QStringLiteral("\r\nEn espera COM1\r\n%1") + lines +
                            QStringLiteral("\r\nRECIBIENDO DATOS\r\n"
                                           "FIN DE LA DESCARGA\r\n\r\nPuerto COM cerrado\\.\r\n");
    const QRegularExpression expected(QRegularExpression::anchoredPattern(
        QStringLiteral("Puerto COM cerrado\\.\r\n") +
        oneDump.arg(QStringLiteral("Recibiendo info\\.\\.\\.\r\n")) + oneDump.arg(QString())));
    QVERIFY2(expected.match(window.logText()).hasMatch(), qPrintable(window.logText()));
    QCOMPARE(window.Lab_Progreso->text(), QStringLiteral("%1/%1").arg(count, 4, 10, QChar(u'0')));
    QVERIFY(window.Lab_Progreso->isVisible());

    QVERIFY(!port.PortOpen());
    QVERIFY(!window.Timer1->isActive());
    QCOMPARE(window.Com_Puerto->currentIndex(), 0);
    QVERIFY(window.Com_Puerto->isEnabled());
    for (QWidget* control : std::initializer_list<QWidget*>{window.Fra_Tipo, window.Txt_Path,
                                                            window.Txt_Filename, window.Cmd_Salir})
        QVERIFY(control->isEnabled());
}

QTEST_MAIN(TestWindowDump)
#include "tst_window_dump.moc"
