// loader-sim on its own: the test plays the tool's side of the dialogue by hand over the
// pseudo-terminal and checks what the simulated loader sends and how it ends.

#include "loadersimprocess.h"
#include "ptyclient.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <array>

namespace {

constexpr char BreakIn = 31;
constexpr qsizetype BlockSize = 1024;
constexpr qsizetype FrameSize = 1032;
// Longest wait for any one answer of the simulator.
constexpr int Patience = 3000;

// Block n as loader-sim serves it: erased flash (0xFF) outside the image.
QByteArray expectedBlock(const QByteArray& image, qint64 n) {
    if (n < 0 || n >= image.size() / BlockSize) {
        return QByteArray(BlockSize, '\xff');
    }
    return image.mid(n * BlockSize, BlockSize);
}

bool frameSumMatches(const QByteArray& frame) {
    return byteSum(frame.first(BlockSize)) == static_cast<quint8>(frame[BlockSize]);
}

// What the tool's side saw of a transfer.
struct ToolTransfer {
    QList<QByteArray> frames;
    unsigned char totalReply = 0;
    bool totalMatched = false;
};

} // namespace

class TestLoaderSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (LoaderSimProcess::program().isEmpty()) {
            QSKIP("loader-sim not found; set LOADER_SIM");
        }
        m_image = LoaderSimProcess::imageForSeed(7);
        QCOMPARE(m_image.size(), 2048 * BlockSize);
    }

    void imageDependsOnTheSeedOnly() {
        QCOMPARE(LoaderSimProcess::imageForSeed(7), m_image);
        QVERIFY(LoaderSimProcess::imageForSeed(8) != m_image);
        std::array<bool, 256> seen{};
        for (const char byte : m_image) {
            seen[static_cast<unsigned char>(byte)] = true;
        }
        QVERIFY(std::all_of(seen.begin(), seen.end(), [](bool value) { return value; }));
        for (const qint64 n : {0, 1920, 2047}) {
            QVERIFY(expectedBlock(m_image, n).startsWith(QByteArray("\x00\x11\x13\x1A\xFF", 5)));
        }
    }

    void ackDialogue_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("count");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("blocks");
        QTest::addColumn<int>("linesToEnd");
        QTest::addColumn<QByteArray>("imageFile");

        QTest::newRow("last eight blocks")
            << QStringList() << QByteArray("2040") << QByteArray("0008") << 2040LL << 8LL << 3
            << QByteArray();
        QTest::newRow("first blocks") << QStringList() << QByteArray("0000") << QByteArray("0003")
                                      << 0LL << 3LL << 3 << QByteArray();
        QTest::newRow("outside the flash")
            << QStringList() << QByteArray("-0001") << QByteArray("0002") << -1LL << 2LL << 3
            << QByteArray();
        QTest::newRow("five-digit start")
            << QStringList() << QByteArray("10000") << QByteArray("0001") << 10000LL << 1LL << 3
            << QByteArray();
        QTest::newRow("no block") << QStringList() << QByteArray("1920") << QByteArray("0000")
                                  << 1920LL << 0LL << 3 << QByteArray();
        QTest::newRow("noise and a long line")
            << QStringList{"--noise", "3", "--long-line", "5000"} << QByteArray("1984")
            << QByteArray("0001") << 1984LL << 1LL << 6 << QByteArray();
        QByteArray shortImage(1500, '\0');
        for (qsizetype i = 0; i < shortImage.size(); ++i) {
            shortImage[i] = static_cast<char>(i * 7);
        }
        QTest::newRow("short image file") << QStringList() << QByteArray("0000")
                                          << QByteArray("0003") << 0LL << 3LL << 3 << shortImage;
    }

    void ackDialogue() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, count);
        QFETCH(qint64, first);
        QFETCH(qint64, blocks);
        QFETCH(int, linesToEnd);
        QFETCH(QByteArray, imageFile);

        LoaderSimProcess sim;
        QByteArray image = m_image;
        if (!imageFile.isEmpty()) {
            const QString imagePath = sim.scratchPath("image.bin");
            QVERIFY(writeFile(imagePath, imageFile));
            arguments << "--image" << imagePath;
            image = imageFile + QByteArray(m_image.size() - imageFile.size(), '\xff');
        }
        const QString record = sim.scratchPath("record.bin");
        QVERIFY(sim.start(arguments +
                          QStringList{"--seed", "7", "--timeout", "10", "--record", record}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));

        QList<QByteArray> announce;
        playAckHandshake(tool, start, count, &announce);
        if (QTest::currentTestFailed()) {
            return;
        }
        QCOMPARE(announce.size(), linesToEnd);
        QCOMPARE(announce.last(), QByteArray("SIM BL_FLASH_END\r\n"));

        ToolTransfer transfer;
        playTransfer(tool, first, blocks, transfer);
        if (QTest::currentTestFailed()) {
            return;
        }
        for (qint64 k = 0; k < blocks; ++k) {
            const QByteArray& frame = transfer.frames[k];
            QCOMPARE(frame.first(BlockSize), expectedBlock(image, first + k));
            QVERIFY(frameSumMatches(frame));
        }
        QVERIFY(transfer.totalMatched);

        tool.close();
        QCOMPARE(sim.waitForExit(), 0);
        QCOMPARE(readFile(record), tool.sentBytes());
    }

    void respfileDialogue_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<qint64>("blocks");
        QTest::addColumn<bool>("breakIns");

        QTest::newRow("sample files") << QStringList() << QByteArray("1920") << 2LL << false;
        QTest::newRow("other line, break-ins between the texts")
            << QStringList{"--resp-line", "2046"} << QByteArray("2046") << 2LL << true;
    }

    void respfileDialogue() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, line);
        QFETCH(qint64, blocks);
        QFETCH(bool, breakIns);
        const QByteArray response4 = LoaderSimProcess::sampleResponse(4);
        const QByteArray response5 = LoaderSimProcess::sampleResponse(5);
        QVERIFY(!response4.isEmpty());
        QVERIFY(!response5.isEmpty());
        QVERIFY(!response4.contains(BreakIn));
        QVERIFY(!response5.contains(BreakIn));

        LoaderSimProcess sim;
        QVERIFY(sim.start(arguments +
                          QStringList{"--mode", "respfile", "--seed", "7", "--timeout", "10"}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        const QByteArray tick = breakIns ? QByteArray(1, BreakIn) : QByteArray();

        QVERIFY(tool.send(QByteArray(1, BreakIn)));
        QCOMPARE(tool.readLine(Patience), QByteArray("0000\r\n"));
        QVERIFY(tool.send(tick + response4));
        QCOMPARE(tool.readLine(Patience), line + "\r\n");
        QVERIFY(tool.send(tick + response5 + tick));

        ToolTransfer transfer;
        playTransfer(tool, line.toLongLong(), blocks, transfer, breakIns);
        if (QTest::currentTestFailed()) {
            return;
        }
        for (qint64 k = 0; k < blocks; ++k) {
            QCOMPARE(transfer.frames[k].first(BlockSize),
                     expectedBlock(m_image, line.toLongLong() + k));
            QVERIFY(frameSumMatches(transfer.frames[k]));
        }
        QVERIFY(transfer.totalMatched);
        tool.close();
        QCOMPARE(sim.waitForExit(), 0);
    }

    void transferFaults_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<int>>("badSums");
        QTest::addColumn<int>("shiftedFrom");
        QTest::addColumn<int>("bytesAfterTotal");
        QTest::addColumn<bool>("checkTotal");
        QTest::addColumn<bool>("totalMatches");
        QTest::addColumn<bool>("confirmAnyway");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("corrupted");

        QTest::newRow("no fault") << QStringList() << QList<int>() << 0 << 0 << true << true
                                  << false << 0 << 0;
        QTest::newRow("bad sum on block 2") << QStringList{"--fault-bad-sum", "2"} << QList<int>{2}
                                            << 0 << 0 << true << true << false << 0 << 0;
        QTest::newRow("wrong total") << QStringList{"--fault-wrong-total", "--linger", "300"}
                                     << QList<int>() << 0 << 0 << true << false << false << 0 << 0;
        QTest::newRow("DOWN_SUCCESS despite a wrong total")
            << QStringList{"--fault-wrong-total", "--linger", "300"} << QList<int>() << 0 << 0
            << true << false << true << 1 << 0;
        QTest::newRow("data of block 2 corrupted")
            << QStringList{"--fault-corrupt", "2", "--linger", "300"} << QList<int>{2} << 0 << 0
            << true << false << false << 0 << 2;
        // The surplus byte shifts every later frame; whether the tool's total then matches
        // depends on the data, and loader-sim must foresee it either way (exit 0).
        QTest::newRow("surplus after block 1")
            << QStringList{"--fault-surplus", "1"} << QList<int>() << 2 << 1 << false << false
            << false << 0 << 0;
        QTest::newRow("surplus after the last block")
            << QStringList{"--fault-surplus", "3"} << QList<int>() << 0 << 1 << false << false
            << false << 0 << 0;
    }

    void transferFaults() {
        QFETCH(QStringList, arguments);
        QFETCH(QList<int>, badSums);
        QFETCH(int, shiftedFrom);
        QFETCH(int, bytesAfterTotal);
        QFETCH(bool, checkTotal);
        QFETCH(bool, totalMatches);
        QFETCH(bool, confirmAnyway);
        QFETCH(int, exitCode);
        QFETCH(int, corrupted);
        constexpr qint64 first = 2045;
        constexpr qint64 blocks = 3;

        LoaderSimProcess sim;
        QVERIFY(sim.start(arguments + QStringList{"--seed", "7", "--timeout", "10"}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        playAckHandshake(tool, "2045", "0003");
        if (QTest::currentTestFailed()) {
            return;
        }
        ToolTransfer transfer;
        playTransfer(tool, first, blocks, transfer, false, confirmAnyway);
        if (QTest::currentTestFailed()) {
            return;
        }

        for (int k = 1; k <= blocks; ++k) {
            const QByteArray& frame = transfer.frames[k - 1];
            const QByteArray block = expectedBlock(m_image, first + k - 1);
            if (shiftedFrom != 0 && k >= shiftedFrom) {
                QCOMPARE(frame.mid(1, BlockSize - 1), block.first(BlockSize - 1));
            } else if (k == corrupted) {
                // One data byte altered, the sum byte still that of the true data.
                int differing = 0;
                for (qsizetype j = 0; j < BlockSize; ++j) {
                    differing += frame[j] != block[j] ? 1 : 0;
                }
                QCOMPARE(differing, 1);
                QCOMPARE(static_cast<quint8>(frame[BlockSize]), byteSum(block));
                QVERIFY(!frameSumMatches(frame));
            } else {
                QCOMPARE(frame.first(BlockSize), block);
                QCOMPARE(frameSumMatches(frame), !badSums.contains(k));
            }
        }
        if (checkTotal) {
            QCOMPARE(transfer.totalMatched, totalMatches);
        }
        QCOMPARE(tool.readFor(100).size(), bytesAfterTotal);
        tool.close();
        QCOMPARE(sim.waitForExit(), exitCode);
    }

    void faultNeverReached_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("bad sum") << "--fault-bad-sum";
        QTest::newRow("surplus") << "--fault-surplus";
        QTest::newRow("short") << "--fault-short";
        QTest::newRow("vanish") << "--fault-vanish";
        QTest::newRow("corrupt") << "--fault-corrupt";
    }

    void faultNeverReached() {
        QFETCH(QString, fault);
        LoaderSimProcess sim;
        QVERIFY(sim.start({"--seed", "7", "--timeout", "10", fault, "3"}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        playAckHandshake(tool, "2045", "0002");
        if (QTest::currentTestFailed()) {
            return;
        }
        for (qint64 n = 2045; n < 2047; ++n) {
            QVERIFY(tool.send("REQUEST_1024DOWN:" + QByteArray::number(n) + "\r"));
            QCOMPARE(tool.read(FrameSize, Patience).size(), FrameSize);
            QVERIFY(tool.send("1024DOWN_SUCCESS:" + QByteArray::number(n) + "\r"));
        }
        QVERIFY(tool.send("REQUEST_TOTALCRC\r"));
        QCOMPARE(sim.waitForExit(), 1);
        QVERIFY2(sim.log().contains(fault.toLatin1() + " 3 never happened"), sim.log().constData());
        QVERIFY(tool.read(1, 200).isEmpty());
    }

    void rejectsUnexpectedText_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<QByteArray>("reason");

        QTest::newRow("KDATX for KDATA") << 0 << QByteArray("KDATX") << QByteArray("\"KDATA\"");
        QTest::newRow("ACK for ack") << 1 << QByteArray("ACK") << QByteArray("\"ack\"");
        QTest::newRow("letter in the first block")
            << 2 << QByteArray("20x0") << QByteArray("four digits");
        QTest::newRow("LF after REQUEST_DOWNLOAD")
            << 4 << QByteArray("REQUEST_DOWNLOAD\n") << QByteArray("\"REQUEST_DOWNLOAD\\r\"");
        QTest::newRow("wrong first block")
            << 5 << QByteArray("REQUEST_1024DOWN:2041\r") << QByteArray("expected block 2040");
        QTest::newRow("leading zero in the block number")
            << 5 << QByteArray("REQUEST_1024DOWN:02040\r") << QByteArray("no leading zeros");
    }

    void rejectsUnexpectedText() {
        QFETCH(int, step);
        QFETCH(QByteArray, replacement);
        QFETCH(QByteArray, reason);

        LoaderSimProcess sim;
        QVERIFY(sim.start({"--seed", "7", "--timeout", "10"}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        playAckHandshake(tool, "2040", "0002", nullptr, step, replacement);
        if (QTest::currentTestFailed()) {
            return;
        }
        if (step > 4) {
            QVERIFY(tool.send(replacement));
        }
        QCOMPARE(sim.waitForExit(), 1);
        QVERIFY2(sim.log().contains(reason), sim.log().constData());
    }

    void rejectsWrongResponseFile() {
        QByteArray response4 = LoaderSimProcess::sampleResponse(4);
        QVERIFY(!response4.isEmpty());
        response4[response4.size() / 2] = static_cast<char>(response4[response4.size() / 2] ^ 1);

        LoaderSimProcess sim;
        QVERIFY(sim.start({"--mode", "respfile", "--timeout", "10"}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        QVERIFY(tool.send(QByteArray(1, BreakIn)));
        QCOMPARE(tool.readLine(Patience), QByteArray("0000\r\n"));
        QVERIFY(tool.send(response4));
        QCOMPARE(sim.waitForExit(), 1);
        QVERIFY2(sim.log().contains("response file 4"), sim.log().constData());
    }

    void reportsToolClosingThePort() {
        LoaderSimProcess sim;
        QVERIFY(sim.start({"--timeout", "10"}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        QVERIFY(tool.send(QByteArray(1, BreakIn)));
        QCOMPARE(tool.read(55, Patience),
                 QByteArray("LOADER-SIM BOOT v1.0\r\nBL_FLASH_INFO\r\nSIM BL_FLASH_END\r\n"));
        QVERIFY(tool.send("KDA"));
        tool.close();
        QCOMPARE(sim.waitForExit(), 1);
        QVERIFY2(sim.log().contains("the tool closed the port while expecting \"KDATA\" "
                                    "(received only \"KDA\")"),
                 sim.log().constData());
    }

    void shortFrameThenSilence() {
        LoaderSimProcess sim;
        QVERIFY(sim.start({"--seed", "7", "--timeout", "10", "--fault-short", "2"}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        playAckHandshake(tool, "2040", "0003");
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(tool.send("REQUEST_1024DOWN:2040\r"));
        QCOMPARE(tool.read(FrameSize, Patience).size(), FrameSize);
        QVERIFY(tool.send("1024DOWN_SUCCESS:2040\rREQUEST_1024DOWN:2041\r"));
        const QByteArray part = tool.read(FrameSize, 300);
        QCOMPARE(part, expectedBlock(m_image, 2041).first(500));
        QVERIFY(tool.send("still there?"));
        QVERIFY(tool.readFor(200).isEmpty());
        QTRY_VERIFY(sim.log().contains("\"still there?\""));
        sim.terminate();
        QCOMPARE(sim.waitForExit(), 128 + 15);
    }

    void vanishesAfterBlock() {
        LoaderSimProcess sim;
        const QString link = sim.scratchPath("ttyLOADER");
        QVERIFY(
            sim.start({"--seed", "7", "--timeout", "10", "--link", link, "--fault-vanish", "1"}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.devicePath());
        PtyClient tool;
        QVERIFY(tool.open(link));
        playAckHandshake(tool, "2040", "0002");
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(tool.send("REQUEST_1024DOWN:2040\r"));
        QCOMPARE(tool.read(FrameSize, Patience).size(), FrameSize);
        QVERIFY(tool.send("1024DOWN_SUCCESS:2040\r"));
        QVERIFY(tool.waitForHangUp(Patience));
        QCOMPARE(sim.waitForExit(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void paces_data() {
        QTest::addColumn<int>("baud");
        QTest::newRow("57600") << 57600;
        QTest::newRow("115200") << 115200;
    }

    void paces() {
        QFETCH(int, baud);
        LoaderSimProcess sim;
        QVERIFY(sim.start({"--seed", "7", "--timeout", "10", "--baud", QString::number(baud)}));
        PtyClient tool;
        QVERIFY(tool.open(sim.devicePath()));
        playAckHandshake(tool, "2040", "0001");
        if (QTest::currentTestFailed()) {
            return;
        }
        QElapsedTimer clock;
        clock.start();
        QVERIFY(tool.send("REQUEST_1024DOWN:2040\r"));
        QCOMPARE(tool.read(FrameSize, Patience).size(), FrameSize);
        const qint64 lineTimeMs = FrameSize * 10 * 1000 / baud;
        QVERIFY2(clock.elapsed() >= lineTimeMs,
                 qPrintable(
                     QString("%1 ms for %2 ms of line time").arg(clock.elapsed()).arg(lineTimeMs)));
    }

    void playsSeveralSessions() {
        LoaderSimProcess sim;
        QVERIFY(sim.start({"--seed", "7", "--timeout", "10", "--sessions", "2", "--quiet"}));
        for (int session = 0; session < 2; ++session) {
            PtyClient tool;
            QVERIFY(tool.open(sim.devicePath()));
            playAckHandshake(tool, "1920", "0001");
            if (QTest::currentTestFailed()) {
                return;
            }
            ToolTransfer transfer;
            playTransfer(tool, 1920, 1, transfer);
            if (QTest::currentTestFailed()) {
                return;
            }
            QCOMPARE(transfer.frames.first().first(BlockSize), expectedBlock(m_image, 1920));
            QVERIFY(transfer.totalMatched);
        }
        QCOMPARE(sim.waitForExit(), 0);
    }

    void exitStatus_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing arrives") << QStringList{"--timeout", "0.3"} << 3;
        QTest::newRow("silent until the timeout")
            << QStringList{"--silent", "--timeout", "0.3"} << 3;
        QTest::newRow("unknown option") << QStringList{"--no-such-option"} << 2;
    }

    void exitStatus() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        LoaderSimProcess sim;
        sim.start(arguments);
        QCOMPARE(sim.waitForExit(5000), exitCode);
    }

    void stopsOnSignalAndRemovesTheLink() {
        LoaderSimProcess sim;
        const QString link = sim.scratchPath("ttyLOADER");
        QVERIFY(sim.start({"--link", link}));
        QVERIFY(QFileInfo(link).isSymLink());
        sim.terminate();
        QCOMPARE(sim.waitForExit(), 128 + 15);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

private:
    // The tool's side up to the start of the transfer. At `deviateAt` (0 KDATA, 1 ack,
    // 2 first block, 3 count, 4 REQUEST_DOWNLOAD) it sends `replacement` instead and stops.
    void playAckHandshake(PtyClient& tool, const QByteArray& start, const QByteArray& count,
                          QList<QByteArray>* announce = nullptr, int deviateAt = -1,
                          const QByteArray& replacement = {}) {
        QVERIFY(tool.send(QByteArray(1, BreakIn)));
        QByteArray line;
        do {
            line = tool.readLine(Patience);
            QVERIFY2(line.endsWith("\r\n"), line.constData());
            if (announce) {
                announce->append(line);
            }
        } while (!line.endsWith("BL_FLASH_END\r\n"));

        const std::array<QByteArray, 5> texts = {"KDATA", "ack", start, count,
                                                 "REQUEST_DOWNLOAD\r"};
        const std::array<QByteArray, 5> prompts = {"REQUEST_VERSION:", "REQDATA_START_BLOCK\r\n",
                                                   "REQDATA_BLOCK\r\n", "ack\r\n", ""};
        for (int step = 0; step < 5; ++step) {
            if (step == deviateAt) {
                QVERIFY(tool.send(replacement));
                return;
            }
            QVERIFY(tool.send(texts[step]));
            if (!prompts[step].isEmpty()) {
                line = tool.readLine(Patience);
                QVERIFY2(line.startsWith(prompts[step]), line.constData());
            }
        }
    }

    // The tool's side of the transfer, taking frames as the tool does: each is the next 1032
    // bytes, the total the next byte after them.
    void playTransfer(PtyClient& tool, qint64 first, qint64 blocks, ToolTransfer& result,
                      bool breakIns = false, bool confirmAnyway = false) {
        const QByteArray tick = breakIns ? QByteArray(1, BreakIn) : QByteArray();
        unsigned total = 0;
        for (qint64 n = first; n < first + blocks; ++n) {
            QVERIFY(tool.send(tick + "REQUEST_1024DOWN:" + QByteArray::number(n) + "\r"));
            const QByteArray frame = tool.read(FrameSize, Patience);
            QCOMPARE(frame.size(), FrameSize);
            result.frames.append(frame);
            total += byteSum(frame.first(BlockSize));
            QVERIFY(tool.send(tick + "1024DOWN_SUCCESS:" + QByteArray::number(n) + "\r"));
        }
        QVERIFY(tool.send(tick + "REQUEST_TOTALCRC\r"));
        const QByteArray reply = tool.read(1, Patience);
        QCOMPARE(reply.size(), 1);
        result.totalReply = static_cast<unsigned char>(reply[0]);
        result.totalMatched = result.totalReply == (total & 0xFF);
        if (result.totalMatched || confirmAnyway) {
            QVERIFY(tool.send(tick + "DOWN_SUCCESS\r"));
        }
    }

    QByteArray m_image;
};

QTEST_GUILESS_MAIN(TestLoaderSim)
#include "tst_loadersim.moc"
