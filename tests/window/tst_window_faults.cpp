#include "blocksize.h"
#include "eventwait.h"
#include "expectedreception.h"
#include "loadersimprocess.h"
#include "portlist.h"
#include "qtcommcontrol.h"
#include "recordingwindow.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// How the first dump of a row is set up beyond the loader's own faults.
enum class Setup {
    Plain,
    FolderWithSpaces,  // spaces and non-ASCII letters in the folder name
    NoResponsesFolder, // the Respuestas folder does not exist
    MissingResponse4,  // Respuestas exists without Respuesta4.TXT
    MissingResponse5,  // Respuestas exists without Respuesta5.TXT
};

// When the operator closes the window during the first dump.
enum class CloseWhen {
    Never,
    ShortFrameIn,     // the log is as expected and the short frame waits in the port
    TwoTicksLater,    // the log is as expected and two break-in ticks have gone by since
    InsideCrcMessage, // while "CRC No Ok!!!" is up
};

// How the first dump ends.
enum class Ending {
    Total,      // the total exchange took place; the end message follows the sum messages
    Closed,     // the window was closed; no message beyond the sum messages
    DeviceLost, // the loader went away
    CannotRead, // the Respuestas folder is missing
};

constexpr quint64 Seed = 11;
constexpr int FirstBlock = 100;
constexpr int Count = 12;
constexpr int LibrePreset = 4;
constexpr int ShortFrameBytes = 500;
constexpr int TransferTimeoutMs = 30000;

const QString FileName = QStringLiteral("FREE_DATA.bin");
const QString Closed = QStringLiteral("\r\nPuerto COM cerrado.\r\n");
const QString StartLog = QStringLiteral("Puerto COM cerrado.\r\n");
const QString ArmedLog = StartLog + QStringLiteral("\r\nEn espera COM1\r\n");
const QString Crc = QStringLiteral("CRC No Ok!!!");
const QString Info = QStringLiteral("Recibiendo info...\r\n");
const QString AckLines = QStringLiteral("ooooooo"); // the seven lines of an ack-mode handshake
const QString Receiving = QStringLiteral("\r\nRECIBIENDO DATOS\r\n");
const QString Fin = QStringLiteral("FIN DE LA DESCARGA\r\n");
const QString Firmware = QStringLiteral("Solicitando firmware...\r\n");

struct Expected {
    QString text;
    int icon = 0;
    bool portOpen = true;
};

// The message that ends a dump whose total exchange took place: the bad blocks named (or the
// total that does not vouch for the file), each fact once, and what to do next.
Expected endMessage(const ExpectedReception& reception) {
    const qsizetype bad = reception.badSums.size();
    const bool totalMatches = reception.loaderTotal == reception.computedTotal;
    if (totalMatches && bad == 0)
        return {QStringLiteral("Descarga finalizada."), 64};
    QStringList runs;
    for (qsizetype i = 0; i < bad;) {
        qsizetype last = i;
        while (last + 1 < bad &&
               reception.badSums.at(last + 1).block == reception.badSums.at(last).block + 1)
            ++last;
        const int first = reception.badSums.at(i).block;
        runs << (last == i
                     ? QString::number(first)
                     : QStringLiteral("%1 a %2").arg(first).arg(reception.badSums.at(last).block));
        i = last + 1;
    }
    QStringList lines{QStringLiteral("Descarga finalizada.")};
    if (bad > 0)
        lines << (bad == 1 ? QStringLiteral("Bloque") : QStringLiteral("Bloques")) +
                     QStringLiteral(" con suma errónea: %1.").arg(runs.join(QStringLiteral(", ")));
    if (!totalMatches)
        lines << QStringLiteral("El total del cargador no coincide con lo recibido (recibido %1, "
                                "calculado %2).")
                     .arg(reception.loaderTotal)
                     .arg(reception.computedTotal);
    lines << (bad == 1   ? QStringLiteral("Elija Modo: Reparar para leerlo otra vez.")
              : bad > 1  ? QStringLiteral("Elija Modo: Reparar para leerlos otra vez.")
                         : QStringLiteral("Elija Modo: Verificar para compararlo con el flash."));
    return {lines.join(QStringLiteral("\r\n")), 48};
}

// How the window words a device that went away, by what the system reported first.
QStringList lostDescriptions(const QString& device) {
    return {QStringLiteral("El dispositivo %1 ya no está en el sistema. Vuelva a conectar el "
                           "adaptador y elija el puerto otra vez.")
                .arg(device),
            QStringLiteral("Falló la lectura del dispositivo %1. Compruebe el adaptador y elija el "
                           "puerto otra vez.")
                .arg(device),
            QStringLiteral("Falló la escritura en el dispositivo %1. Compruebe el adaptador y "
                           "elija el puerto otra vez.")
                .arg(device)};
}

void prepare(RecordingWindow& window, const QString& folder, const QString& responses) {
    window.setResponsesFolder(responses);
    window.Opt_Descargar.at(LibrePreset)->click();
    window.Txt_Start_Block->setText(QString::number(FirstBlock));
    window.Txt_Blocks->setText(QString::number(Count));
    window.Txt_Path->setText(folder);
    window.show();
}

QList<QWidget*> lockSet(RecordingWindow& window) {
    return {window.Fra_Tipo, window.Txt_Start_Block, window.Txt_Blocks,
            window.Txt_Path, window.Txt_Filename,    window.Cmd_Salir};
}

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(CloseWhen)
Q_DECLARE_METATYPE(Ending)

// Faults of the loader, the line and the operator's entries, through the window, the real serial
// adapter and the simulated loader on a pseudo-terminal: what the operator is told, the port
// left closed, the dump holding exactly what was received, and a next dump that works.
class TestWindowFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void fault_data();
    void fault();

private:
    void followingDumpSucceeds(RecordingWindow& window, QtCommControl& port, const QString& mode,
                               const QString& folder);

    QByteArray m_image;
};

void TestWindowFaults::initTestCase() {
    if (LoaderSimProcess::program().isEmpty())
        QSKIP("loader-sim is not built");
    m_image = LoaderSimProcess::imageForSeed(Seed);
    QVERIFY(!m_image.isEmpty());
}

void TestWindowFaults::cleanup() {
    qunsetenv("DECODUMP_COM1");
}

void TestWindowFaults::fault_data() {
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<CloseWhen>("closeWhen");
    QTest::addColumn<Ending>("ending");
    // The log between "En espera COM1" and the final "Puerto COM cerrado.".
    QTest::addColumn<QString>("dialogueLog");
    // Records the dump file must hold; -1: no dump file at all.
    QTest::addColumn<int>("records");
    // Exit status of loader-sim; -1: still running (stuck by design), stopped by the test.
    QTest::addColumn<int>("simExit");
    // Everything the tool sent, break-in bytes left out (<Respuesta4>: the sample file 4).
    QTest::addColumn<QString>("toolSent");

    const QString ackDone = Info + AckLines + Receiving + Fin;
    const QString ackCut = Info + AckLines + Receiving;
    const QString confirmed = QStringLiteral(".*REQUEST_TOTALCRC\rDOWN_SUCCESS\r");
    const QStringList respfile{"--mode", "respfile"};

    QTest::newRow("wrong sum in block 4")
        << QStringList{"--fault-bad-sum", "4"} << Setup::Plain << CloseWhen::Never << Ending::Total
        << ackDone << Count << 0 << confirmed;
    QTest::newRow("surplus byte after block 5")
        << QStringList{"--fault-surplus", "5"} << Setup::Plain << CloseWhen::Never << Ending::Total
        << ackDone << Count << 0
        << QStringLiteral(".*1024DOWN_SUCCESS:111\rREQUEST_TOTALCRC\r(DOWN_SUCCESS\r)?");
    QTest::newRow("short frame 6, then silence; operator closes")
        << QStringList{"--fault-short", "6"} << Setup::Plain << CloseWhen::ShortFrameIn
        << Ending::Closed << ackCut << 5 << -1
        << QStringLiteral(".*1024DOWN_SUCCESS:104\rREQUEST_1024DOWN:105\r");
    QTest::newRow("device vanishes after block 7")
        << QStringList{"--fault-vanish", "7"} << Setup::Plain << CloseWhen::Never
        << Ending::DeviceLost << ackCut << 7 << 0
        << QStringLiteral(
               ".*REQUEST_1024DOWN:106\r1024DOWN_SUCCESS:106\r(REQUEST_1024DOWN:107\r)?");
    // Paced at the line's rate, the port rests while a frame is due: what came of a frame cut
    // short still reaches the dialogue, and a device gone inside a frame is still seen.
    const QStringList paced{"--baud", "115200"};
    QTest::newRow("paced: short frame 6, then silence; operator closes")
        << paced + QStringList{"--fault-short", "6"} << Setup::Plain << CloseWhen::ShortFrameIn
        << Ending::Closed << ackCut << 5 << -1
        << QStringLiteral(".*1024DOWN_SUCCESS:104\rREQUEST_1024DOWN:105\r");
    QTest::newRow("paced: device vanishes inside block 7")
        << paced + QStringList{"--fault-vanish-mid", "7"} << Setup::Plain << CloseWhen::Never
        << Ending::DeviceLost << ackCut << 6 << 0
        << QStringLiteral(".*1024DOWN_SUCCESS:105\rREQUEST_1024DOWN:106\r");
    QTest::newRow("wrong total") << QStringList{"--fault-wrong-total"} << Setup::Plain
                                 << CloseWhen::Never << Ending::Total << ackDone << Count << 0
                                 << QStringLiteral(".*1024DOWN_SUCCESS:111\rREQUEST_TOTALCRC\r");
    QTest::newRow("40 noise lines")
        << QStringList{"--noise", "40"} << Setup::Plain << CloseWhen::Never << Ending::Total
        << Info + QString(47, u'o') + Receiving + Fin << Count << 0 << confirmed;
    QTest::newRow("1 MiB without LF")
        << QStringList{"--long-line", "1048576"} << Setup::Plain << CloseWhen::Never
        << Ending::Total << ackDone << Count << 0 << confirmed;
    QTest::newRow("1 MiB without LF, then noise lines")
        << QStringList{"--long-line", "1048576", "--noise", "5"} << Setup::Plain << CloseWhen::Never
        << Ending::Total << Info + QString(12, u'o') + Receiving + Fin << Count << 0 << confirmed;
    QTest::newRow("silent loader; operator closes")
        << QStringList{"--silent"} << Setup::Plain << CloseWhen::TwoTicksLater << Ending::Closed
        << QString() << -1 << -1 << QString();
    QTest::newRow("Respuestas folder missing")
        << respfile << Setup::NoResponsesFolder << CloseWhen::Never << Ending::CannotRead
        << Info + QStringLiteral("o") << -1 << 1 << QString();
    QTest::newRow("Respuesta4.TXT missing; operator closes")
        << respfile << Setup::MissingResponse4 << CloseWhen::TwoTicksLater << Ending::Closed
        << Info + QStringLiteral("o") + Firmware << -1 << 1 << QString();
    QTest::newRow("Respuesta5.TXT missing")
        << respfile << Setup::MissingResponse5 << CloseWhen::Never << Ending::DeviceLost
        << Info + QStringLiteral("o") + Firmware + QStringLiteral("o") + Receiving << 0 << 1
        << QStringLiteral("<Respuesta4>REQUEST_1024DOWN:100\r");
    QTest::newRow("folder with spaces and non-ASCII letters")
        << QStringList() << Setup::FolderWithSpaces << CloseWhen::Never << Ending::Total << ackDone
        << Count << 0 << confirmed;
    QTest::newRow("wrong sum in block 4; operator closes while the message is up")
        << QStringList{"--fault-bad-sum", "4"} << Setup::Plain << CloseWhen::InsideCrcMessage
        << Ending::Closed << ackCut << 4 << 1 << QStringLiteral(".*REQUEST_1024DOWN:103\r");
}

void TestWindowFaults::fault() {
    QFETCH(QStringList, simArguments);
    QFETCH(Setup, setup);
    QFETCH(CloseWhen, closeWhen);
    QFETCH(Ending, ending);
    QFETCH(QString, dialogueLog);
    QFETCH(int, records);
    QFETCH(int, simExit);
    QFETCH(QString, toolSent);
    const QString mode = simArguments.contains(QStringLiteral("respfile"))
                             ? QStringLiteral("respfile")
                             : QStringLiteral("ack");

    QTemporaryDir out;
    QVERIFY(out.isValid());
    QString folder = out.path();
    QString responses = LoaderSimProcess::samplesFolder();
    switch (setup) {
    case Setup::Plain:
        break;
    case Setup::FolderWithSpaces:
        folder = out.filePath(QStringLiteral("Descarga con espacios ñ á"));
        QVERIFY(QDir().mkdir(folder));
        break;
    case Setup::NoResponsesFolder:
        responses = out.filePath(QStringLiteral("Respuestas"));
        break;
    case Setup::MissingResponse4:
    case Setup::MissingResponse5: {
        responses = out.filePath(QStringLiteral("Respuestas"));
        QVERIFY(QDir().mkdir(responses));
        const int present = setup == Setup::MissingResponse4 ? 5 : 4;
        const QString name = QStringLiteral("/Respuesta%1.TXT").arg(present);
        QVERIFY(QFile::copy(LoaderSimProcess::samplesFolder() + name, responses + name));
        break;
    }
    }

    LoaderSimProcess sim;
    const QString record = sim.scratchPath(QStringLiteral("record.bin"));
    QVERIFY(
        sim.start(simArguments + QStringList{"--seed", QString::number(Seed), "--record", record}));
    qputenv("DECODUMP_COM1", sim.devicePath().toLocal8Bit());

    QtCommControl port;
    auto window = std::make_unique<RecordingWindow>(port);
    prepare(*window, folder, responses);
    if (closeWhen == CloseWhen::InsideCrcMessage) {
        window->whileOpen = [&window](const RecordingWindow::Message& message) {
            if (message.text == Crc)
                window->close();
        };
    }

    window->Com_Puerto->setCurrentIndex(1);
    QVERIFY2(port.PortOpen(),
             window->messages.isEmpty() ? "" : qPrintable(window->messages.last().text));
    const QString dumpPath = window->Txt_Path->text() + FileName;
    const QString logBeforeClose = ArmedLog + dialogueLog;
    switch (closeWhen) {
    case CloseWhen::Never:
    case CloseWhen::InsideCrcMessage:
        QVERIFY2(waitFor([&] { return !port.PortOpen(); }, TransferTimeoutMs),
                 qPrintable(window->logText().right(200)));
        break;
    case CloseWhen::ShortFrameIn:
        QVERIFY2(waitFor(
                     [&] {
                         return window->logText() == logBeforeClose &&
                                port.InBufferCount() == ShortFrameBytes;
                     },
                     TransferTimeoutMs),
                 qPrintable(window->logText().right(200)));
        QVERIFY(window->close());
        break;
    case CloseWhen::TwoTicksLater: {
        QVERIFY2(waitFor([&] { return window->logText() == logBeforeClose; }, TransferTimeoutMs),
                 qPrintable(window->logText().right(200)));
        QSignalSpy ticks(window->Timer1, &QTimer::timeout);
        QVERIFY(waitFor([&] { return ticks.count() >= 2; }, 5000));
        QCOMPARE(window->logText(), logBeforeClose);
        QVERIFY(port.PortOpen());
        QVERIFY(window->close());
        break;
    }
    }
    const bool closedByOperator = closeWhen != CloseWhen::Never;

    // What the operator was told.
    const ExpectedReception reception =
        ExpectedReception::of(m_image, FirstBlock, Count, simArguments);
    QList<Expected> expected;
    for (const ExpectedReception::BadSum& bad : reception.badSums) {
        if (bad.block < FirstBlock + records)
            expected.append({Crc, 48});
    }
    switch (ending) {
    case Ending::Total:
        expected.append(endMessage(reception));
        break;
    case Ending::Closed:
        break;
    case Ending::DeviceLost:
        // Which failure the system reports first for a vanished pseudo-terminal may vary; the
        // text is checked against the adapter's descriptions below.
        expected.append({QStringLiteral("Se ha perdido la conexión con COM1.\r\n\r\n"), 16, false});
        // Then what the file keeps, and that Reanudar continues it.
        expected.append({QStringLiteral("El archivo %1 guarda %2 de %3 bloques.\r\n\r\nElija "
                                        "Modo: Reanudar para leer el resto.")
                             .arg(dumpPath)
                             .arg(records)
                             .arg(Count),
                         64, false});
        break;
    case Ending::CannotRead:
        expected.append({QStringLiteral("No se puede leer el archivo de respuesta ") + responses +
                             QStringLiteral("/Respuesta4.TXT\r\n\r\nLa carpeta ") + responses +
                             QStringLiteral(" no existe."),
                         16});
        break;
    }
    QCOMPARE(window->messages.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const RecordingWindow::Message& shown = window->messages.at(i);
        if (ending == Ending::DeviceLost && i == expected.size() - 2) {
            QVERIFY2(shown.text.startsWith(expected.at(i).text), qPrintable(shown.text));
            QVERIFY2(lostDescriptions(sim.devicePath())
                         .contains(shown.text.mid(expected.at(i).text.size())),
                     qPrintable(shown.text));
        } else {
            QCOMPARE(shown.text, expected.at(i).text);
        }
        QCOMPARE(shown.icon, expected.at(i).icon);
        QCOMPARE(shown.portOpen, expected.at(i).portOpen);
    }

    // The port closed and the window disarmed; a closed window has gone.
    QCOMPARE(window->logText(), logBeforeClose + Closed);
    QVERIFY(!port.PortOpen());
    QVERIFY(!window->Timer1->isActive());
    QCOMPARE(window->Com_Puerto->currentIndex(), 0);
    QCOMPARE(window->isVisible(), !closedByOperator);
    if (!closedByOperator)
        QVERIFY(window->Com_Puerto->isEnabled());
    for (QWidget* control : lockSet(*window))
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));

    // The dump holds exactly the records received.
    if (records < 0) {
        QVERIFY2(!QFileInfo::exists(dumpPath), qPrintable(dumpPath));
    } else {
        QVERIFY2(QFileInfo::exists(dumpPath), qPrintable(dumpPath));
        QCOMPARE(readFile(dumpPath), reception.records.left(qsizetype(records) * BlockSize));
    }
    switch (setup) {
    case Setup::MissingResponse4:
    case Setup::MissingResponse5: {
        // Created empty by the sender, and nothing sent in its place.
        const QFileInfo created(
            responses +
            QStringLiteral("/Respuesta%1.TXT").arg(setup == Setup::MissingResponse4 ? 4 : 5));
        QVERIFY(created.exists());
        QCOMPARE(created.size(), 0);
        break;
    }
    default:
        break;
    }

    // The loader's view: the exchange as the protocol has it, or cut off where the tool stopped.
    if (simExit >= 0)
        QVERIFY2(sim.waitForExit() == simExit, sim.log().right(2000).constData());
    else
        QCOMPARE(sim.waitForExit(0), -1);
    toolSent.replace(QStringLiteral("<Respuesta4>"), QRegularExpression::escape(QString::fromLatin1(
                                                         LoaderSimProcess::sampleResponse(4))));
    const QRegularExpression sentPattern(QRegularExpression::anchoredPattern(toolSent),
                                         QRegularExpression::DotMatchesEverythingOption);
    const QString sent = QString::fromLatin1(withoutBreakIns(readFile(record)));
    QVERIFY2(sentPattern.match(sent).hasMatch(), qPrintable(sent.right(200)));

    // The next dump in the same run works: in the same window, or in a new one on the same port
    // once the operator has closed the old one.
    if (closedByOperator) {
        window.reset();
        window = std::make_unique<RecordingWindow>(port);
        prepare(*window, out.path(), LoaderSimProcess::samplesFolder());
    } else {
        window->Txt_Path->setText(out.path());
        window->setResponsesFolder(LoaderSimProcess::samplesFolder());
    }
    followingDumpSucceeds(*window, port, mode, out.path());
}

void TestWindowFaults::followingDumpSucceeds(RecordingWindow& window, QtCommControl& port,
                                             const QString& mode, const QString& folder) {
    LoaderSimProcess sim;
    QVERIFY(sim.start({"--mode", mode, "--seed", QString::number(Seed)}));
    qputenv("DECODUMP_COM1", sim.devicePath().toLocal8Bit());
    const qsizetype before = window.messages.size();
    window.Com_Puerto->setCurrentIndex(1);
    QVERIFY2(port.PortOpen(),
             window.messages.size() == before ? "" : qPrintable(window.messages.last().text));
    QVERIFY(waitFor([&] { return window.messages.size() > before; }, TransferTimeoutMs));
    QCOMPARE(window.messages.size(), before + 1);
    // What the faulted dump left is kept beside the new one.
    const QString kept = QStringLiteral("\r\nEl archivo anterior se guardó como %1.")
                             .arg(QDir(folder).filePath(QStringLiteral("FREE_DATA.1.bin")));
    QCOMPARE(window.messages.last().text,
             QStringLiteral("Descarga finalizada.") +
                 (QFileInfo::exists(QDir(folder).filePath(QStringLiteral("FREE_DATA.1.bin")))
                      ? kept
                      : QString()));
    QCOMPARE(window.messages.last().icon, 64);
    QVERIFY(!port.PortOpen());
    QVERIFY(window.Com_Puerto->isEnabled());
    QCOMPARE(readFile(QDir(folder).filePath(FileName)),
             m_image.mid(qsizetype(FirstBlock) * BlockSize, qsizetype(Count) * BlockSize));
    QCOMPARE(sim.waitForExit(), 0);
}

QTEST_MAIN(TestWindowFaults)
#include "tst_window_faults.moc"
