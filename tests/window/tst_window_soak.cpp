#include "blocksize.h"
#include "eventwait.h"
#include "fakecommcontrol.h"
#include "loadersimprocess.h"
#include "portlist.h"
#include "processstats.h"
#include "qtcommcontrol.h"
#include "recordingwindow.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <time.h>

namespace {

constexpr quint64 Seed = 5;
constexpr int Dumps = 100;
constexpr int Bootloader64Preset = 1;
constexpr int FirstBlock = 1984;
constexpr int Count = 64;
constexpr qint64 RssSlackKb = 2048;
// The break-in tick only delays the start of each dialogue (the loader answers the first
// one); a shorter interval keeps a hundred dumps within a minute without changing a dump.
constexpr int SoakTickMs = 100;

constexpr int Lines = 100000;
// About 0.9 s in the slowest row (arrivals of 100 lines) on the 2-core machine under load: the
// budget keeps three times that, as a shared machine's figures vary.
constexpr double CpuBudgetSeconds = 3.0;
constexpr qint64 ResponsiveMs = 100;

} // namespace

// Long runs through the window: resources over a hundred dumps, and a log that takes a flood
// of lines without stalling the window.
class TestWindowSoak : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void logGrowth_data();
    void logGrowth();
    void soak();
};

void TestWindowSoak::logGrowth_data() {
    QTest::addColumn<int>("chunk");
    QTest::newRow("pseudo-terminal reads of 4095 bytes") << 4095;
    QTest::newRow("chunks of 1000") << 1000;
    QTest::newRow("chunks of 100") << 100;
}

void TestWindowSoak::logGrowth() {
    QFETCH(int, chunk);
    QTemporaryDir out;
    QVERIFY(out.isValid());
    FakeCommControl port;
    RecordingWindow window(port);
    window.Txt_Path->setText(out.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Com_Puerto->setCurrentIndex(1);
    QVERIFY(port.PortOpen());
    const QString expectedLog =
        window.logText() + QStringLiteral("Recibiendo info...\r\n") + QString(Lines, u'o');
    // The widget may continue a very long line in a new paragraph: compare what it shows without
    // the line breaks.
    const auto withoutBreaks = [](QString text) { return text.remove(u'\r').remove(u'\n'); };
    const int expectedCharacters = int(withoutBreaks(expectedLog).size());

    // Each feed is one arrival of empty lines, as the receive side delivers them; before it, a
    // probe is posted, and how long it waits to run is how long the window was unresponsive.
    int pushed = 0;
    qint64 slowestProbeMs = 0;
    int probes = 0;
    std::function<void()> feed = [&] {
        QElapsedTimer posted;
        posted.start();
        QTimer::singleShot(0, &window, [&, posted] {
            slowestProbeMs = std::max(slowestProbeMs, posted.elapsed());
            ++probes;
        });
        const int lines = std::min(chunk, Lines - pushed);
        port.push(QByteArray(lines, '\n'));
        pushed += lines;
        if (pushed < Lines)
            QTimer::singleShot(0, &window, feed);
    };

    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(0, &window, feed);
    const int feeds = (Lines + chunk - 1) / chunk;
    // Done when every line is in the log widget and every probe has run.
    QVERIFY(waitFor(
        [&] {
            return probes == feeds && window.Text1->document()->characterCount() -
                                              window.Text1->document()->blockCount() ==
                                          expectedCharacters;
        },
        30000));
    const double cpu = processCpuSeconds() - cpuBefore;
    qInfo("%d dropped lines in arrivals of %d: %.3f s CPU, %lld ms wall, slowest posted event "
          "waited %lld ms",
          Lines, chunk, cpu, static_cast<long long>(wall.elapsed()),
          static_cast<long long>(slowestProbeMs));

    QCOMPARE(withoutBreaks(window.Text1->toPlainText()), withoutBreaks(expectedLog));
    VERIFY_FIGURE(cpu < CpuBudgetSeconds, qPrintable(QString::number(cpu)));
    VERIFY_FIGURE(slowestProbeMs < ResponsiveMs, qPrintable(QString::number(slowestProbeMs)));
    QVERIFY(port.PortOpen());
    QVERIFY(window.messages.isEmpty());
}

void TestWindowSoak::soak() {
    if (LoaderSimProcess::program().isEmpty())
        QSKIP("loader-sim is not built");
    const QByteArray image = LoaderSimProcess::imageForSeed(Seed);
    QVERIFY(!image.isEmpty());
    QTemporaryDir out;
    QVERIFY(out.isValid());

    LoaderSimProcess sim;
    QVERIFY(sim.start(
        {"--sessions", QString::number(Dumps), "--seed", QString::number(Seed), "--quiet"}));
    qputenv("DECODUMP_COM1", sim.devicePath().toLocal8Bit());
    QtCommControl port;
    RecordingWindow window(port);
    window.Opt_Descargar.at(Bootloader64Preset)->click();
    window.Txt_Path->setText(out.path());
    window.Timer1->setInterval(SoakTickMs);
    window.show();

    QList<int> descriptors;
    QList<qint64> resident;
    QElapsedTimer wall;
    wall.start();
    for (int dump = 1; dump <= Dumps; ++dump) {
        window.Com_Puerto->setCurrentIndex(1);
        QVERIFY2(port.PortOpen(), qPrintable(QString::number(dump)));
        QVERIFY2(waitFor([&] { return !window.messages.isEmpty(); }, 30000),
                 qPrintable(QString::number(dump)));
        QCOMPARE(window.messages.size(), 1);
        // Each dump after the first keeps the one before it under the next free name.
        const QString kept = QStringLiteral("\r\nEl archivo anterior se guardó como %1.")
                                 .arg(out.filePath(QStringLiteral("BL_64.%1.bin").arg(dump - 1)));
        QCOMPARE(window.messages.last().text,
                 QStringLiteral("Descarga finalizada.") + (dump == 1 ? QString() : kept));
        QCOMPARE(window.messages.last().icon, 64);
        QVERIFY(!port.PortOpen());
        // Each recorded message keeps a copy of the log; only the window's own memory counts.
        window.messages.clear();
        descriptors.append(openFileDescriptors());
        resident.append(residentKb());
    }
    const qint64 elapsed = wall.elapsed();
    qunsetenv("DECODUMP_COM1");

    qInfo("%d dumps of %d blocks in %lld ms (%lld ms each)", Dumps, Count,
          static_cast<long long>(elapsed), static_cast<long long>(elapsed / Dumps));
    for (const int dump : {1, 2, 10, 50, 100})
        qInfo("after dump %3d: %d open descriptors, VmRSS %lld kB", dump, descriptors.at(dump - 1),
              static_cast<long long>(resident.at(dump - 1)));

    QCOMPARE(readFile(out.filePath(QStringLiteral("BL_64.bin"))),
             image.mid(qsizetype(FirstBlock) * BlockSize, qsizetype(Count) * BlockSize));
    QCOMPARE(sim.waitForExit(), 0);
    QCOMPARE(window.logText().count(QStringLiteral("FIN DE LA DESCARGA\r\n")), Dumps);
    QCOMPARE(window.logText().count(QStringLiteral("Recibiendo info...")), 1);

    const int mostDescriptors = *std::max_element(descriptors.begin() + 1, descriptors.end());
    QVERIFY2(mostDescriptors <= descriptors.first(),
             qPrintable(QStringLiteral("%1 after the first dump, up to %2 later")
                            .arg(descriptors.first())
                            .arg(mostDescriptors)));
    QVERIFY(resident.at(9) > 0);
    const qint64 growthKb = resident.at(Dumps - 1) - resident.at(9);
    VERIFY_FIGURE(growthKb <= RssSlackKb, qPrintable(QStringLiteral("%1 kB").arg(growthKb)));
}

QTEST_MAIN(TestWindowSoak)
#include "tst_window_soak.moc"
