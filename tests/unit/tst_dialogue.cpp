#include "dialogue.h"
#include "dumpfilesink.h"
#include "fakecommcontrol.h"
#include "fakeoperator.h"
#include "portsession.h"
#include "processstats.h"
#include "testfiles.h"
#include "testlocale.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QByteArray blockData(int n) {
    QByteArray data(BlockSize, Qt::Uninitialized);
    for (int j = 0; j < data.size(); ++j)
        data[j] = static_cast<char>((n * 7 + j * 13 + (j >> 5)) & 0xFF);
    return data;
}

QByteArray frameOf(const QByteArray& data, int sumDelta = 0) {
    return data + char(byteSum(data) + sumDelta) + QByteArray(7, '\x55');
}

} // namespace

class TestDialogue : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeCommControl> m_port;
    std::unique_ptr<FakeOperator> m_op;
    std::unique_ptr<PortSession> m_session;
    // Open before each test: the dialogue's files are closed again once it is done with them.
    int m_descriptors = 0;
    QByteArray m_resp4 = QByteArray("R4\x00\r\n\xff", 6);
    QByteArray m_resp5 = QByteArray("R5\r\n", 4);

    QString respDir() const { return m_dir->filePath(QStringLiteral("Respuestas")); }
    QString dumpPath() const { return m_op->folder + m_op->fileName; }

    Dialogue& dialogue() { return m_session->dialogue(); }
    // Between the dialogue's start of a transfer and its end, as its signals tell them.
    bool m_transferRunning = false;
    bool transferRunning() const { return m_transferRunning; }

    // Arms as the window does; the log starts empty afterwards.
    void arm() {
        QVERIFY(!m_session->arm(QStringLiteral("COM1")));
        m_op->log.clear();
    }

    // The block count has just been sent: the next "ack" starts the transfer.
    void armDownload() {
        m_port->push("REQDATA_BLOCK\n");
        m_port->clearSent();
    }

    // Plays the loader: answers every block request with its frame, then the total request
    // with the sum of what it served.
    void serve(const QHash<int, int>& sumDelta = {}, int totalDelta = 0) {
        quint8 total = 0;
        for (int guard = 0; guard < 5000 && m_port->PortOpen(); ++guard) {
            QByteArray last;
            for (const QByteArray& write : m_port->writes())
                if (write != "\x1f")
                    last = write;
            if (last.startsWith("REQUEST_1024DOWN:")) {
                const int n = last.mid(17).chopped(1).toInt();
                const QByteArray data = blockData(n);
                total += byteSum(data);
                m_port->push(frameOf(data, sumDelta.value(n)));
            } else if (last == "REQUEST_TOTALCRC\r") {
                m_port->push(QByteArray(1, char(total + totalDelta)));
            } else {
                return;
            }
        }
    }

private Q_SLOTS:
    void initTestCase() { verifyTestLocale(); }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Respuestas")));
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Descarga")));
        QVERIFY(writeFile(respDir() + QStringLiteral("/Respuesta4.TXT"), m_resp4));
        QVERIFY(writeFile(respDir() + QStringLiteral("/Respuesta5.TXT"), m_resp5));
        m_port = std::make_unique<FakeCommControl>();
        m_op = std::make_unique<FakeOperator>();
        m_op->enterFolder(m_dir->filePath(QStringLiteral("Descarga/")));
        m_session = std::make_unique<PortSession>(*m_port, *m_op);
        m_op->follow(*m_session);
        m_transferRunning = false;
        connect(&dialogue(), &Dialogue::transferStarted, this, [this] { m_transferRunning = true; });
        connect(&dialogue(), &Dialogue::ended, this, [this] { m_transferRunning = false; });
        dialogue().setResponsesFolder(respDir());
        arm();
        m_descriptors = openFileDescriptors();
    }
    void cleanup() {
        m_session.reset();
        m_op.reset();
        m_port.reset();
        m_dir.reset();
    }

    void lineAssembly_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("log");
        // What a following "0000" line makes it send: it shows what was still pending.
        QTest::addColumn<QByteArray>("thenFirmwareLineSends");
        const QString info = QStringLiteral("Recibiendo info...\r\n");
        QTest::newRow("CR LF ends") << QByteArray("REQUEST_VERSION:1\r\n") << QByteArray("ack")
                                    << info + "o" << m_resp4;
        QTest::newRow("CR inside") << QByteArray("REQ\rUEST_VERSION:\r\r\n") << QByteArray("ack")
                                   << info + "o" << m_resp4;
        QTest::newRow("LF alone ends")
            << QByteArray("REQUEST_VERSION:\n") << QByteArray("ack") << info + "o" << m_resp4;
        QTest::newRow("CR alone does not end") << QByteArray("REQUEST_VERSION:\r") << QByteArray()
                                               << info << QByteArray("ack");
        QTest::newRow("empty lines")
            << QByteArray("\n\n") << QByteArray() << info + "oo" << m_resp4;
        QTest::newRow("first character CR")
            << QByteArray("\r") << QByteArray() << info << m_resp4;
        QTest::newRow("NUL is data")
            << QByteArray("\0ack\n", 5) << QByteArray() << info + "o" << m_resp4;
        QTest::newRow("partial line kept")
            << QByteArray("o\nabc") << QByteArray() << info + "o" << QByteArray();
        QTest::newRow("two lines") << QByteArray("REQUEST_VERSION:a\nREQUEST_VERSION:b\n")
                                   << QByteArray("ackack") << info + "oo" << m_resp4;
    }
    void lineAssembly() {
        QFETCH(QByteArray, received);
        QFETCH(QByteArray, sent);
        QFETCH(QString, log);
        QFETCH(QByteArray, thenFirmwareLineSends);
        m_port->push(received);
        QCOMPARE(m_port->sent(), sent);
        QCOMPARE(m_op->log, log);
        m_port->clearSent();
        m_port->push("0000\n");
        QCOMPARE(m_port->sent(), thenFirmwareLineSends);
    }

    void dispatch_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("startText");
        QTest::addColumn<QString>("countText");
        QTest::addColumn<bool>("armedBefore");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("armedAfter");
        QTest::addColumn<bool>("transfer");
        QTest::addColumn<bool>("tickerStopped");

        const QByteArray download = "REQUEST_DOWNLOAD\rREQUEST_1024DOWN:1984\r";
        QTest::newRow("ack armed") << QByteArray("ack") << "1984"
                                   << "0064" << true << download << false << true << false;
        QTest::newRow("ack not armed")
            << QByteArray("ack") << "1984"
            << "0064" << false << QByteArray() << false << false << false;
        QTest::newRow("ACK is not ack") << QByteArray("ACK") << "1984"
                                        << "0064" << true << QByteArray() << true << false << false;
        QTest::newRow("REQUEST_V and three")
            << QByteArray("REQUEST_VXYZ") << "1"
            << "1" << false << QByteArray() << false << false << false;
        QTest::newRow("BL_FLASH_INFO") << QByteArray("BL_FLASH_INFO") << "1"
                                       << "1" << false << QByteArray() << false << false << false;
        QTest::newRow("BL_FLASH_INFO longer")
            << QByteArray("BL_FLASH_INFO2") << "1"
            << "1" << false << QByteArray() << false << false << false;
        QTest::newRow("BL_FLASH_END alone")
            << QByteArray("BL_FLASH_END") << "1"
            << "1" << false << QByteArray("KDATA") << false << false << true;
        QTest::newRow("ends in BL_FLASH_END")
            << QByteArray("xx BL_FLASH_END") << "1"
            << "1" << false << QByteArray("KDATA") << false << false << true;
        QTest::newRow("version line ending in BL_FLASH_END")
            << QByteArray("REQUEST_VERSION:1.0BL_FLASH_END") << "1"
            << "1" << false << QByteArray("KDATA") << false << false << true;
        QTest::newRow("REQUEST_VERSION: alone")
            << QByteArray("REQUEST_VERSION:") << "1"
            << "1" << false << QByteArray("ack") << false << false << false;
        QTest::newRow("start block 1984")
            << QByteArray("REQDATA_START_BLOCK") << "1984"
            << "1" << false << QByteArray("1984") << false << false << false;
        QTest::newRow("start block 64")
            << QByteArray("REQDATA_START_BLOCK") << "64"
            << "1" << false << QByteArray("0064") << false << false << false;
        QTest::newRow("start block empty")
            << QByteArray("REQDATA_START_BLOCK") << ""
            << "1" << false << QByteArray("0000") << false << false << false;
        QTest::newRow("start block half")
            << QByteArray("REQDATA_START_BLOCK") << "2.5"
            << "1" << false << QByteArray("0002") << false << false << false;
        QTest::newRow("start block seven and a half")
            << QByteArray("REQDATA_START_BLOCK") << "7.5"
            << "1" << false << QByteArray("0008") << false << false << false;
        QTest::newRow("count") << QByteArray("REQDATA_BLOCK") << "1"
                               << "0064" << false << QByteArray("0064") << true << false << false;
        QTest::newRow("count again")
            << QByteArray("REQDATA_BLOCK") << "1"
            << "12ab" << true << QByteArray("0012") << true << false << false;
        QTest::newRow("0000") << QByteArray("0000") << "1"
                              << "1" << false << m_resp4 << false << false << false;
        QTest::newRow("1984") << QByteArray("1984") << "0010"
                              << "0001" << true << m_resp5 + "REQUEST_1024DOWN:10\r" << true << true
                              << false;
        QTest::newRow("spaced 1 2")
            << QByteArray(" 1 2") << "0010"
            << "0001" << false << m_resp5 + "REQUEST_1024DOWN:10\r" << false << true << false;
        QTest::newRow("four letters") << QByteArray("abcd") << "1"
                                      << "1" << false << QByteArray() << false << false << false;
        QTest::newRow("negative four") << QByteArray("-123") << "1"
                                       << "1" << false << QByteArray() << false << false << false;
        QTest::newRow("fraction line")
            << QByteArray("0.50") << "0010"
            << "0001" << false << m_resp5 + "REQUEST_1024DOWN:10\r" << false << true << false;
        QTest::newRow("zero fraction") << QByteArray("0.00") << "1"
                                       << "1" << false << QByteArray() << false << false << false;
        QTest::newRow("five digits") << QByteArray("12345") << "1"
                                     << "1" << false << QByteArray() << false << false << false;
        QTest::newRow("empty line") << QByteArray() << "1"
                                    << "1" << true << QByteArray() << true << false << false;
    }
    void dispatch() {
        QFETCH(QByteArray, line);
        QFETCH(QString, startText);
        QFETCH(QString, countText);
        QFETCH(bool, armedBefore);
        QFETCH(QByteArray, sent);
        QFETCH(bool, armedAfter);
        QFETCH(bool, transfer);
        QFETCH(bool, tickerStopped);
        m_op->enterRange(startText, countText);
        if (armedBefore)
            armDownload();
        m_port->push(line + "\n");
        QCOMPARE(m_port->sent(), sent);
        QCOMPARE(transferRunning(), transfer);
        QCOMPARE(m_session->findChild<QTimer*>(QStringLiteral("Timer1"))->isActive(),
                 !tickerStopped);
        QVERIFY(m_op->log.startsWith(QStringLiteral("Recibiendo info...\r\no")));
        QCOMPARE(m_op->log.count(QStringLiteral("\r\no")), 1);
        if (!transfer) {
            // Nothing of the line is left pending, and an "ack" starts the transfer only if
            // the count was the last thing sent.
            m_port->clearSent();
            m_port->push("REQUEST_VERSION:\nack\n");
            const QByteArrayList expected =
                armedAfter ? QByteArrayList{"ack", "REQUEST_DOWNLOAD\r"} : QByteArrayList{"ack"};
            QCOMPARE(m_port->writes().mid(0, 2), expected);
        }
    }

    void countTwiceThenAck() {
        m_port->push("REQDATA_BLOCK\nREQDATA_BLOCK\nack\n");
        QCOMPARE(m_port->writes().mid(0, 3),
                 (QByteArrayList{"0064", "0064", "REQUEST_DOWNLOAD\r"}));
        QVERIFY(transferRunning());
    }

    void tickBetweenCountAndAck() {
        m_port->push("REQDATA_BLOCK\n");
        dialogue().Timer1_Timer();
        m_port->push("ack\n");
        QCOMPARE(m_port->writes(), (QByteArrayList{"0064", "\x1f"}));
        QVERIFY(!transferRunning());
    }

    void tickOnClosedPortSendsNothing() {
        armDownload();
        m_port->setPortOpen(false);
        dialogue().Timer1_Timer();
        QVERIFY(m_port->writes().isEmpty());
        // The tick disarmed the count: an "ack" on the reopened port starts nothing.
        m_port->setPortOpen(true);
        m_port->push("ack\n");
        QVERIFY(m_port->writes().isEmpty());
    }

    void logOrderOfDroppedLinesAndFirmware() {
        m_port->push("junk\nmore\n\n0000\n");
        QCOMPARE(m_op->log, QStringLiteral("Recibiendo info...\r\noooo"
                                           "Solicitando firmware...\r\n"));
        QCOMPARE(m_port->sent(), m_resp4);
    }

    void infoLoggedOncePerRun() {
        m_port->push("\r");
        m_port->setPortOpen(false);
        QVERIFY(!m_session->arm(QStringLiteral("COM1")));
        m_port->push("\r\n");
        QCOMPARE(m_op->log.count(QStringLiteral("Recibiendo info...")), 1);
    }

    void responseFileBytesOneWriteEach() {
        QVERIFY(writeFile(respDir() + QStringLiteral("/Respuesta4.TXT"),
                          QByteArray("\x00\r\n\xff", 4)));
        QVERIFY(dialogue().Envia_Parrafada(4));
        QCOMPARE(m_port->writes(), (QByteArrayList{QByteArray(1, '\0'), "\r", "\n", "\xff"}));
        QCOMPARE(openFileDescriptors(), m_descriptors);
    }

    void emptyResponseFileSendsNothing() {
        QVERIFY(writeFile(respDir() + QStringLiteral("/Respuesta4.TXT"), QByteArray()));
        QVERIFY(dialogue().Envia_Parrafada(4));
        QVERIFY(m_port->writes().isEmpty());
    }

    void missingResponseFileIsCreatedEmpty() {
        const QString path = respDir() + QStringLiteral("/Respuesta5.TXT");
        QVERIFY(QFile::remove(path));
        m_op->enterRange(QStringLiteral("3"), QStringLiteral("1"));
        m_port->push("0003\n");
        QVERIFY(QFile::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE(m_port->writes(), (QByteArrayList{"REQUEST_1024DOWN:3\r"}));
        QVERIFY(m_op->messages.isEmpty());
    }

    void manyResponseFilesKeepNoFileOpen() {
        for (int i = 0; i < 2000; ++i)
            QVERIFY(dialogue().Envia_Parrafada(4));
        QCOMPARE(m_port->writes().size(), 2000 * m_resp4.size());
    }

    void responseFileFailures_data() {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("missing folder") << "folder"
                                        << "Respuestas";
        QTest::newRow("file is a folder") << "directory"
                                          << "Respuesta5.TXT";
        // None of these may keep the dialogue waiting or reading without end.
#ifdef Q_OS_UNIX
        QTest::newRow("link to an endless device") << "/dev/zero"
                                                   << "it is a device";
        QTest::newRow("pipe") << "fifo"
                              << "it is a pipe";
#endif
        QTest::newRow("larger than any response") << "huge"
                                                  << "larger than 1048576 bytes";
    }
    void responseFileFailures() {
        QFETCH(QString, breakage);
        QFETCH(QString, mentions);
        const QString path = respDir() + QStringLiteral("/Respuesta5.TXT");
        if (breakage == QLatin1String("folder"))
            QVERIFY(QDir(respDir()).removeRecursively());
        else
            QVERIFY(QFile::remove(path));
        if (breakage == QLatin1String("directory"))
            QVERIFY(QDir().mkdir(path));
#ifdef Q_OS_UNIX
        else if (breakage == QLatin1String("/dev/zero"))
            QVERIFY(QFile::link(breakage, path));
        else if (breakage == QLatin1String("fifo"))
            QVERIFY(makeFifo(path));
#endif
        else if (breakage == QLatin1String("huge"))
            QVERIFY(writeFile(path, QByteArray(Dialogue::ResponseFileLimit + 1, 'x')));
        m_port->push("1984\nmore");
        QCOMPARE(m_op->messages.size(), 1);
        QCOMPARE(m_op->messages[0].icon, MessageIcon::Critical);
        QVERIFY(m_op->messages[0].text.contains(path));
        QVERIFY(m_op->messages[0].text.contains(mentions));
        QVERIFY(!m_port->PortOpen());
        QVERIFY(!transferRunning());
        QCOMPARE(m_op->disarms, 1);
        QCOMPARE(m_op->portListEnabled, 1);
        QVERIFY(m_port->writes().isEmpty());
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::FileError);
        // Armed again, the dialogue goes on.
        QVERIFY(QDir().mkpath(respDir()));
        if (breakage != QLatin1String("folder"))
            QVERIFY(QFile::remove(path) || QDir().rmdir(path));
        arm();
        m_port->push("REQUEST_VERSION:\n");
        QCOMPARE(m_port->sent(), QByteArray("ack"));
    }

    void wholeTransferFromAck() {
        m_port->push("REQDATA_BLOCK\nack\n");
        serve();
        QByteArrayList expected{"0064", "REQUEST_DOWNLOAD\r"};
        QStringList captions{QStringLiteral(".")};
        for (int n = 1984; n <= 2047; ++n) {
            expected << "REQUEST_1024DOWN:" + QByteArray::number(n) + "\r"
                     << "1024DOWN_SUCCESS:" + QByteArray::number(n) + "\r";
            captions << QStringLiteral("%1/0064").arg(n - 1983, 4, 10, QLatin1Char('0'));
        }
        expected << "REQUEST_TOTALCRC\r"
                 << "DOWN_SUCCESS\r";
        QCOMPARE(m_port->writes(), expected);
        QCOMPARE(m_op->captions, captions);
        const QByteArray dump = readFile(dumpPath());
        QCOMPARE(dump.size(), 65536);
        QCOMPARE(dump.left(1024), blockData(1984));
        QCOMPARE(dump.mid(64512), blockData(2047));
        QCOMPARE(m_op->log, QStringLiteral("Recibiendo info...\r\noo\r\nRECIBIENDO DATOS\r\n"
                                           "FIN DE LA DESCARGA\r\n\r\nPuerto COM cerrado.\r\n"));
        QCOMPARE(m_op->messages.size(), 1);
        QCOMPARE(m_op->messages[0].text, QStringLiteral("Descarga finalizada."));
        QCOMPARE(m_op->messages[0].icon, MessageIcon::Information);
        QVERIFY(!m_port->PortOpen());
        QCOMPARE(m_op->portListEnabled, 1);
        QCOMPARE(m_port->RThreshold(), 0);
        QCOMPARE(m_port->InputLen(), 1);
        QCOMPARE(openFileDescriptors(), m_descriptors);
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::Completed);
        QCOMPARE(m_op->ended.last().blocksWritten, 64);
    }

    void smallRanges_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QList<int>>("blocks");
        QTest::addColumn<QStringList>("captions");
        QTest::newRow("block 7") << "0007"
                                 << "0001" << QList<int>{7} << QStringList{".", "0001/0001"};
        QTest::newRow("fractions to even")
            << "2.5"
            << "1.5" << QList<int>{2, 3} << QStringList{".", "0001/0002", "0002/0002"};
    }
    void smallRanges() {
        QFETCH(QString, start);
        QFETCH(QString, count);
        QFETCH(QList<int>, blocks);
        QFETCH(QStringList, captions);
        m_op->enterRange(start, count);
        QVERIFY(writeFile(dumpPath(), "old content"));
        m_port->push("REQDATA_BLOCK\nack\n");
        serve();
        QByteArrayList expected{"REQUEST_DOWNLOAD\r"};
        QByteArray dump;
        for (const int n : blocks) {
            expected << "REQUEST_1024DOWN:" + QByteArray::number(n) + "\r"
                     << "1024DOWN_SUCCESS:" + QByteArray::number(n) + "\r";
            dump += blockData(n);
        }
        expected << "REQUEST_TOTALCRC\r"
                 << "DOWN_SUCCESS\r";
        QCOMPARE(m_port->writes().mid(1), expected);
        QCOMPARE(m_op->captions, captions);
        QCOMPARE(readFile(dumpPath()), dump);
    }

    void blockSums_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("sum");
        QTest::newRow("all 255") << QByteArray(1024, '\xff') << 0;
        QTest::newRow("all 1") << QByteArray(1024, '\x01') << 0;
        QTest::newRow("only 90") << QByteArray(1023, '\0') + char(90) << 90;
        QTest::newRow("carry past 65535") << QByteArray(1024, '\xfe') << (1024 * 254) % 256;
    }
    void blockSums() {
        QFETCH(QByteArray, data);
        QFETCH(int, sum);
        m_op->enterRange(QStringLiteral("0"), QStringLiteral("1"));
        m_port->push("REQDATA_BLOCK\nack\n");
        m_port->push(data + char(sum) + QByteArray(7, '\0'));
        QVERIFY(m_op->messages.isEmpty());
        QCOMPARE(m_port->writes().last(), QByteArray("REQUEST_TOTALCRC\r"));
        QVERIFY(m_port->writes().contains("1024DOWN_SUCCESS:0\r"));
        m_port->push(QByteArray(1, char(sum)));
        QCOMPARE(m_port->writes().last(), QByteArray("DOWN_SUCCESS\r"));
    }

    void badSumIsWrittenAndAcknowledged() {
        m_op->enterRange(QStringLiteral("100"), QStringLiteral("3"));
        QByteArrayList sentWhileOpen;
        m_op->whileMessageOpen = [&](const QString& text) {
            if (text == QLatin1String("CRC No Ok!!!"))
                sentWhileOpen = m_port->writes();
        };
        m_port->push("REQDATA_BLOCK\nack\n");
        serve({{101, 1}});
        QCOMPARE(sentWhileOpen.last(), QByteArray("REQUEST_1024DOWN:101\r"));
        QCOMPARE(m_op->messages.size(), 2);
        QCOMPARE(m_op->messages[0].text, QStringLiteral("CRC No Ok!!!"));
        QCOMPARE(m_op->messages[0].icon, MessageIcon::Exclamation);
        QVERIFY(m_port->writes().contains("1024DOWN_SUCCESS:101\r"));
        QCOMPARE(readFile(dumpPath()), blockData(100) + blockData(101) + blockData(102));
        // The bad block's bytes count in the total, so the total still matches.
        QCOMPARE(m_port->writes().last(), QByteArray("DOWN_SUCCESS\r"));
        QCOMPARE(m_op->messages[1].text,
                 QStringLiteral("Descarga finalizada.\r\n1 bloque llegó con suma errónea."));
        QCOMPARE(m_op->messages[1].icon, MessageIcon::Exclamation);
        QCOMPARE(m_op->ended.last().badSumBlocks, QList<int>{101});
    }

    void wrongTotal() {
        m_op->enterRange(m_op->startBlock, QStringLiteral("2"));
        m_port->push("REQDATA_BLOCK\nack\n");
        serve({}, 1);
        QCOMPARE(m_port->writes().last(), QByteArray("REQUEST_TOTALCRC\r"));
        QVERIFY(m_op->log.contains(QStringLiteral("FIN DE LA DESCARGA\r\n")));
        QCOMPARE(m_op->messages.size(), 1);
        // The total alone: no count of bad blocks when there are none.
        QVERIFY(m_op->messages[0].text.startsWith(QStringLiteral(
            "Descarga finalizada.\r\nEl total del cargador no coincide con lo recibido")));
        QCOMPARE(m_op->messages[0].text.count(QStringLiteral("\r\n")), 1);
        QCOMPARE(m_op->messages[0].icon, MessageIcon::Exclamation);
        QVERIFY(!m_op->ended.last().totalMatched());
        QVERIFY(!m_port->PortOpen());
    }

    void surplusByteOfLastFrameIsTheTotal() {
        m_op->enterRange(QStringLiteral("5"), QStringLiteral("1"));
        m_port->push("REQDATA_BLOCK\nack\n");
        const QByteArray data = blockData(5);
        m_port->push(frameOf(data) + char(byteSum(data)));
        QCOMPARE(m_port->writes().mid(4), (QByteArrayList{"REQUEST_TOTALCRC\r", "DOWN_SUCCESS\r"}));
    }

    void surplusByteShiftsTheNextFrame() {
        m_op->enterRange(QStringLiteral("0"), QStringLiteral("2"));
        m_port->push("REQDATA_BLOCK\nack\n");
        m_port->push(frameOf(blockData(0)) + 'X');
        m_port->push(frameOf(blockData(1)));
        QCOMPARE(m_op->messages.first().text, QStringLiteral("CRC No Ok!!!"));
        QCOMPARE(readFile(dumpPath()).mid(1024), 'X' + blockData(1).left(1023));
        QCOMPARE(m_port->InBufferCount(), 0); // the shifted-out byte became the total
        QVERIFY(!m_port->PortOpen());
    }

    void ticksGoOutBetweenTransferTexts() {
        m_op->enterRange(QStringLiteral("0"), QStringLiteral("2"));
        m_port->push("0002\n");
        dialogue().Timer1_Timer();
        serve();
        const QByteArrayList writes = m_port->writes();
        const qsizetype at = writes.indexOf("REQUEST_1024DOWN:0\r");
        QCOMPARE(writes.at(at + 1), QByteArray("\x1f"));
        QVERIFY(writes.contains("DOWN_SUCCESS\r"));
        QCOMPARE(readFile(dumpPath()), blockData(0) + blockData(1));
    }

    void secondDumpInTheSameRun() {
        m_op->enterRange(m_op->startBlock, QStringLiteral("2"));
        m_port->push("REQDATA_BLOCK\nack\n");
        serve();
        QVERIFY(!m_port->PortOpen());
        m_port->clearSent();
        arm();
        m_op->enterRange(QStringLiteral("7"), m_op->blockCount);
        m_port->push("REQDATA_BLOCK\nack\n");
        serve();
        QCOMPARE(m_port->writes().last(), QByteArray("DOWN_SUCCESS\r"));
        QCOMPARE(readFile(dumpPath()), blockData(7) + blockData(8));
        QCOMPARE(m_op->ended.size(), 2);
    }

    void portClosedUnderTransfer() {
        m_op->enterRange(QStringLiteral("0"), QStringLiteral("10"));
        m_port->push("REQDATA_BLOCK\nack\n");
        for (int n = 0; n < 3; ++n)
            m_port->push(frameOf(blockData(n)));
        m_port->push(frameOf(blockData(3)).left(500));
        const qsizetype writesBefore = m_port->writes().size();
        m_port->setPortOpen(false);
        QVERIFY(!transferRunning());
        QCOMPARE(openFileDescriptors(), m_descriptors);
        QCOMPARE(readFile(dumpPath()), blockData(0) + blockData(1) + blockData(2));
        QCOMPARE(m_port->writes().size(), writesBefore);
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::PortClosed);
        QCOMPARE(m_op->ended.last().blocksWritten, 3);
    }

    void deviceLostUnderTransfer() {
        m_op->enterRange(QStringLiteral("0"), QStringLiteral("10"));
        m_port->push("REQDATA_BLOCK\nack\n");
        m_port->push(frameOf(blockData(0)) + frameOf(blockData(1)));
        m_port->vanish(QStringLiteral("the device went away"));
        QCOMPARE(m_op->messages.size(), 1);
        QCOMPARE(m_op->messages[0].icon, MessageIcon::Critical);
        QVERIFY(m_op->messages[0].text.contains(QStringLiteral("COM1")));
        QVERIFY(m_op->messages[0].text.contains(QStringLiteral("the device went away")));
        QCOMPARE(readFile(dumpPath()), blockData(0) + blockData(1));
        QCOMPARE(m_op->disarms, 1);
        QCOMPARE(m_op->portListEnabled, 1);
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::DeviceLost);
        arm();
        m_port->clearSent();
        m_port->push("REQUEST_VERSION:\n");
        QCOMPARE(m_port->sent(), QByteArray("ack"));
    }

    void deviceLostWhileWaitingForTheLoader() {
        m_port->push("noise");
        m_port->vanish(QStringLiteral("gone"));
        QCOMPARE(m_op->messages.size(), 1);
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::DeviceLost);
        QCOMPARE(m_op->ended.last().blocksWritten, 0);
    }

    void portGoesWhileBadSumMessageIsOpen_data() {
        QTest::addColumn<bool>("vanish");
        QTest::newRow("window closed") << false;
        QTest::newRow("device vanished") << true;
    }
    void portGoesWhileBadSumMessageIsOpen() {
        QFETCH(bool, vanish);
        m_op->enterRange(QStringLiteral("0"), QStringLiteral("4"));
        m_op->whileMessageOpen = [&](const QString& text) {
            if (text != QLatin1String("CRC No Ok!!!"))
                return;
            if (vanish)
                m_port->vanish(QStringLiteral("gone"));
            else
                m_port->setPortOpen(false);
        };
        m_port->push("REQDATA_BLOCK\nack\n");
        m_port->push(frameOf(blockData(0)) + frameOf(blockData(1), 3));
        QVERIFY(!transferRunning());
        QCOMPARE(readFile(dumpPath()), blockData(0) + blockData(1));
        QVERIFY(!m_port->writes().contains("1024DOWN_SUCCESS:1\r"));
        QCOMPARE(m_op->ended.size(), 1);
        QCOMPARE(m_op->ended.last().outcome, vanish ? TransferSummary::Outcome::DeviceLost
                                                    : TransferSummary::Outcome::PortClosed);
        QCOMPARE(m_op->messages.size(), vanish ? 2 : 1);
    }

    void dumpFileCannotBeCreated() {
        m_op->enterFolder(m_dir->filePath(QStringLiteral("no/such/folder/")));
        m_port->push("REQDATA_BLOCK\nack\n");
        QCOMPARE(m_op->messages.size(), 1);
        QCOMPARE(m_op->messages[0].icon, MessageIcon::Critical);
        QVERIFY(m_op->messages[0].text.contains(dumpPath()));
        QVERIFY(!m_port->PortOpen());
        QVERIFY(!transferRunning());
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::FileError);
        QVERIFY(!m_port->writes().contains("REQUEST_1024DOWN:1984\r"));
    }

    void dumpFileCannotBeWritten() {
#ifdef Q_OS_UNIX
        {
            // Files may grow to one record: the second one fails as on a full disk.
            const FileSizeLimit oneRecord(BlockSize);
            QVERIFY(oneRecord.set());
            m_op->enterRange(m_op->startBlock, QStringLiteral("3"));
            m_port->push("REQDATA_BLOCK\nack\n");
            m_port->push(frameOf(blockData(1984)) + frameOf(blockData(1985)));
        }
#else
        QSKIP("a full disk is played with a file size limit, which Windows does not have");
#endif
        QCOMPARE(m_op->messages.size(), 1);
        QVERIFY(m_op->messages[0].text.startsWith(QStringLiteral("No se puede escribir")));
        QVERIFY(!m_port->PortOpen());
        QVERIFY(m_port->writes().contains("1024DOWN_SUCCESS:1984\r"));
        QVERIFY(!m_port->writes().contains("1024DOWN_SUCCESS:1985\r"));
        QCOMPARE(readFile(dumpPath()), blockData(1984));
    }

    // A write to the port that fails ends the dialogue as a lost device does, wherever it
    // happens: one message, disarmed, the records received kept, the old dump untouched until
    // a block has been asked for, and no complete dump without the loader's confirmation.
    void failedWrite_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<int>("failingWrite");
        QTest::addColumn<int>("records"); // -1: the old dump as it was
        // Writes of a two-block dump: 1 count, 2 REQUEST_DOWNLOAD, 3 request 1984, 4 its
        // acknowledgement, 5 request 1985, 6 its acknowledgement, 7 total request, 8 DOWN_SUCCESS.
        const QByteArray ackPath = "REQDATA_BLOCK\nack\n";
        QTest::newRow("hand-over reply") << ackPath << 2 << -1;
        QTest::newRow("response file 5") << QByteArray("1984\n") << 2 << -1;
        QTest::newRow("first block request") << ackPath << 3 << -1;
        QTest::newRow("acknowledgement") << ackPath << 4 << 1;
        QTest::newRow("next block request") << ackPath << 5 << 1;
        QTest::newRow("last acknowledgement") << ackPath << 6 << 2;
        QTest::newRow("total request") << ackPath << 7 << 2;
        QTest::newRow("DOWN_SUCCESS") << ackPath << 8 << 2;
    }
    void failedWrite() {
        QFETCH(QByteArray, lines);
        QFETCH(int, failingWrite);
        QFETCH(int, records);
        m_op->enterRange(m_op->startBlock, QStringLiteral("2"));
        QVERIFY(writeFile(dumpPath(), "old content"));
        m_port->failWrite(failingWrite);
        m_port->push(lines);
        serve();
        QCOMPARE(m_op->messages.size(), 1);
        QCOMPARE(m_op->messages[0].icon, MessageIcon::Critical);
        QVERIFY(m_op->messages[0].text.startsWith(
            QStringLiteral("Se ha perdido la conexión con COM1.")));
        QVERIFY(!m_port->PortOpen());
        QVERIFY(!transferRunning());
        QCOMPARE(openFileDescriptors(), m_descriptors);
        QCOMPARE(m_op->disarms, 1);
        QCOMPARE(m_op->portListEnabled, 1);
        QCOMPARE(m_op->ended.size(), 1);
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::DeviceLost);
        QCOMPARE(readFile(dumpPath()),
                 records < 0 ? QByteArray("old content")
                             : blockData(1984) + (records == 2 ? blockData(1985) : QByteArray()));
    }

    void deviceLostUnderTheFinalMessage() {
        m_op->enterRange(m_op->startBlock, QStringLiteral("1"));
        m_op->whileMessageOpen = [&](const QString&) { m_port->vanish(QStringLiteral("gone")); };
        m_port->push("REQDATA_BLOCK\nack\n");
        serve();
        QCOMPARE(m_op->messages.size(), 1);
        QCOMPARE(m_op->messages[0].text, QStringLiteral("Descarga finalizada."));
        QCOMPARE(m_op->ended.last().outcome, TransferSummary::Outcome::Completed);
        QCOMPARE(m_op->disarms, 1);
    }

    void resumeWritesAfterKeptRecords() {
        QVERIFY(writeFile(dumpPath(), blockData(1984) + blockData(1985) + blockData(7)));
        DumpFileSink resumed(DumpFileSink::Rule::Resume, 2);
        m_session->setSink(&resumed);
        m_op->enterRange(QStringLiteral("1986"), QStringLiteral("2"));
        m_port->push("REQDATA_BLOCK\nack\n");
        serve();
        m_session->setSink(nullptr);
        QCOMPARE(readFile(dumpPath()),
                 blockData(1984) + blockData(1985) + blockData(1986) + blockData(1987));
    }
};

QTEST_GUILESS_MAIN(TestDialogue)
#include "tst_dialogue.moc"
