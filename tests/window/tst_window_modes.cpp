// The window's modes over the fake port against a loader played in the test: what picking the
// port does in each mode with the file named by Camino and Nombre, what the end message says,
// what the block map shows, and the refusals before the port opens.

#include "blockmapview.h"
#include "blocksize.h"
#include "eventwait.h"
#include "fakecommcontrol.h"
#include "fakeloader.h"
#include "ledger.h"
#include "portlist.h"
#include "recordingwindow.h"
#include "testfiles.h"

#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <cmath>

namespace {

constexpr int First = 2000;
constexpr int Count = 16;

enum Mode { NewDump, Resume, Verify, Repair };
const char* const ModeTexts[] = {"Nueva descarga", "Reanudar", "Verificar", "Reparar"};
using State = BlockMap::State;
// How the operator ends a step before the loader does: Esc while the port waits, or the stop
// button once every block of the step was asked for (confirming the question).
enum class Stop { None, Esc, Button };

// One pick of the port in a mode: the loader's faults, what the message that ends it holds, the
// blocks asked for, and a block of the map with its state afterwards.
struct Step {
    Mode mode = NewDump;
    FakeLoader::Faults faults{};
    QString message{}; // in the last message; a critical one when the run is refused
    QList<int> asked{};
    int block = 0;
    State state = State::Received;
    Stop stop = Stop::None;
    QString progress{};         // the progress line afterwards, when given
    bool backToNewDump = false; // the job ended complete: the mode is "Nueva descarga" again
};

QList<int> blocks(int from, int to) {
    QList<int> list;
    for (int block = from; block <= to; ++block)
        list.append(block);
    return list;
}

// WCAG's contrast ratio of two colours, from their relative luminances.
// Whether text is drawn in `area`: a pixel well darker than the light background (small type,
// smoothed, may reach no deep black).
bool hasInk(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y).lightness() < 180)
                return true;
    return false;
}

double contrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

// The map in the area the window gives it, blocks set one by one to the states their letters
// name ("2050b 2054d"): r received, a read again, b bad sum, d differs.
void showMap(BlockMapView& view, const BlockRange& range, const QString& states) {
    view.resize(422, 210);
    view.show(BlockMap(range));
    const State named[] = {State::Received, State::ReadAgain, State::BadSum, State::Differs};
    for (const QString& block : states.split(u' ', Qt::SkipEmptyParts))
        view.set(block.chopped(1).toInt(), named[QStringLiteral("rabd").indexOf(block.back())]);
}

QByteArray flashImage() {
    QByteArray image(2048 * BlockSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char((i * 13 + i / 997) & 0xFF);
    return image;
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestWindowModes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void modes_data();
    void modes();
    void mapFromLedger_data();
    void mapFromLedger();
    void sharedCells_data();
    void sharedCells();
};

void TestWindowModes::modes_data() {
    QTest::addColumn<QList<Step>>("steps");
    const QList<int> all = blocks(First, First + Count - 1);
    const FakeLoader::Faults corrupt3{{3}};
    const QString repairNext = "Bloque con suma errónea: 2002.";

    QTest::newRow("bad block named, then repaired") << QList<Step>{
        {NewDump, corrupt3, repairNext, all, 2002, State::BadSum},
        {Repair, {}, "El archivo está completo y comprobado.", {2002}, 2002, State::ReadAgain,
         Stop::None, "Progreso: 100 % (16 de 16 bloques)", true}};
    QTest::newRow("two runs of bad blocks") << QList<Step>{
        {NewDump, {{3, 9}}, "Bloques con suma errónea: 2002, 2008.", all, 2008, State::BadSum},
        {Repair, {}, "El archivo está completo", {2002, 2008}, 2008, State::ReadAgain, Stop::None,
         {}, true}};
    QTest::newRow("cut, then resumed")
        << QList<Step>{{NewDump,
                        {{}, 0, 5},
                        "Elija Modo: Reanudar para leer el resto.",
                        blocks(First, 2004),
                        2005,
                        State::Pending},
                       {Resume,
                        {},
                        "se leyeron en una sesión cuyo total no llegó",
                        blocks(2005, 2015),
                        2015,
                        State::Received}};
    QTest::newRow("verified the same")
        << QList<Step>{{NewDump, {}, "Descarga finalizada.", all},
                       {Verify, {}, "Verificación: el archivo es idéntico al flash.", all, 0,
                        State::Received, Stop::None, {}, true}};
    QTest::newRow("verified with a block read bad") << QList<Step>{
        {NewDump, {}, "Descarga finalizada.", all},
        {Verify, corrupt3, "el bloque 2002 llegó con suma errónea y no se pudo comparar",
         all, 2002, State::BadSum}};
    const FakeLoader::Faults otherFlash{{}, 0, 0, false, true};
    QTest::newRow("verified against another decoder, repair refused, a new dump keeps the file")
        << QList<Step>{{NewDump, {}, "Descarga finalizada.", all},
                       {Verify, otherFlash, "el flash del decodificador no es el del archivo", all,
                        2001, State::Differs},
                       {Repair, {}, "no es del flash de este decodificador"},
                       {NewDump, otherFlash, "El archivo anterior se guardó como ", all}};
    const FakeLoader::Faults goneAtOnce{{}, 0, 0, false, false, true};
    QTest::newRow("lost before the transfer: nothing written, nothing to resume") << QList<Step>{
        {NewDump, {}, "Descarga finalizada.", all}, {NewDump, goneAtOnce, "No se escribió nada"}};
    FakeLoader::Faults silent;
    silent.silent = true;
    QTest::newRow("Esc, then Detener, while the loader is silent: the file and its map as they were")
        << QList<Step>{{NewDump, {}, "Descarga finalizada.", all},
                       {.mode = NewDump, .faults = silent, .block = 2015, .stop = Stop::Esc},
                       {.mode = NewDump, .faults = silent, .block = 2015, .stop = Stop::Button},
                       {Resume, {}, "no hay nada que reanudar"}};
    FakeLoader::Faults stall5;
    stall5.stallAfter = 5;
    QTest::newRow("Esc during the transfer, confirmed, then resumed")
        << QList<Step>{{NewDump, stall5, "guarda 5 de 16 bloques.\r\n\r\nElija Modo: Reanudar",
                        blocks(First, 2004), 2005, State::Pending, Stop::Esc,
                        "Progreso: 31 % (5 de 16 bloques)"},
                       {Resume, {}, "total no llegó", blocks(2005, 2015), 2015, State::Received,
                        Stop::None, "Progreso: 100 % (16 de 16 bloques)"}};
    QTest::newRow("verify refused without a ledger")
        << QList<Step>{{Verify, {}, "no tiene registro"}};
    QTest::newRow("repair refused with nothing to repair") << QList<Step>{
        {NewDump, {}, "Descarga finalizada.", all}, {Repair, {}, "no hay nada que reparar"}};
}

void TestWindowModes::modes() {
    QFETCH(QList<Step>, steps);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FakeCommControl port;
    FakeLoader loader(port, flashImage());
    RecordingWindow window(port);
    window.Opt_Descargar[4]->click();
    window.Txt_Start_Block->setText(QString::number(First));
    window.Txt_Blocks->setText(QString::number(Count));
    window.Txt_Path->setText(dir.path());
    const auto done = [&] { return !port.PortOpen() && window.Com_Puerto->isEnabled(); };

    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step& step = steps.at(i);
        const qsizetype asked = loader.requested().size();
        const qsizetype shown = window.messages.size();
        const int opened = port.openCount();
        loader.setFaults(step.faults);
        // By its visible text, as the operator picks it.
        const int entry = window.Com_Modo->findText(ModeTexts[step.mode]);
        QVERIFY(entry >= 0);
        window.Com_Modo->setCurrentIndex(entry);
        window.Com_Puerto->setCurrentIndex(1);
        // Stopped while the port waits for the loader (not during a transfer).
        const bool silentEnd = step.stop != Stop::None && step.asked.isEmpty();
        if (step.stop != Stop::None) {
            QVERIFY(waitFor(
                [&] { return loader.requested().size() - asked == step.asked.size(); }, 10000));
            // A loader that says nothing brings, after 5 s, advice naming the port (waited for
            // once: the button's step stops at once).
            if (silentEnd && step.stop == Stop::Esc)
                QVERIFY(waitFor([&] { return window.Lab_Aviso->text().contains("en COM1."); },
                                7000));
            if (step.stop == Stop::Esc)
                QTest::keyClick(&window, Qt::Key_Escape);
            else
                window.Cmd_Detener->click();
        }
        // Stopped while waiting, the run ends without a word, within a second.
        QVERIFY2(waitFor([&] { return done() && (silentEnd || window.messages.size() > shown); },
                         silentEnd ? 1000 : 10000),
                 qPrintable(QStringLiteral("step %1 did not end").arg(i + 1)));
        if (silentEnd)
            QCOMPARE(window.messages.size(), shown);
        QVERIFY2(window.messages.last().text.contains(step.message),
                 qPrintable(window.messages.last().text));
        if (!step.progress.isEmpty())
            QCOMPARE(window.Lab_Estado->text(), step.progress);
        QCOMPARE(loader.requested().mid(asked), step.asked);
        if (step.asked.isEmpty() && port.openCount() == opened) {
            // Refused before the port opened; a file with nothing left to do is no error.
            QCOMPARE(window.messages.last().icon,
                     step.message.startsWith("no hay nada que") ? 64 : 16);
            QCOMPARE(window.messages.last().selectedPort, 1);
            continue;
        }
        if (step.block) {
            // The colour the operator sees in the block's cell; a mark inside a bad sum's or a
            // difference's, so that these never rely on hue alone; and a pending one against
            // the window's and decodump-cli's image's backgrounds: each at 3:1 at least (WCAG's
            // ratio for parts of a picture).
            const QRect cell =
                BlockMap({First, Count}).cellRect(step.block, window.blockMap->rect());
            const QImage map = window.blockMap->grab().toImage();
            const QColor fill = map.pixelColor(cell.topLeft());
            QCOMPARE(fill, BlockMap::color(step.state));
            QCOMPARE(contrastRatio(fill, map.pixelColor(cell.center())) >= 3.0,
                     step.state == State::BadSum || step.state == State::Differs);
            if (step.state == State::Pending) {
                QVERIFY(contrastRatio(fill, window.blockMap->palette().window().color()) >= 3.0);
                QVERIFY(contrastRatio(fill, BlockMap().image(600, {}).pixelColor(0, 0)) >= 3.0);
            }
        }
        // The mode chooser was locked with the other entries while the port was armed.
        QVERIFY(window.Com_Modo->isEnabled());
        QCOMPARE(window.Com_Modo->currentText(),
                 QString::fromUtf8(ModeTexts[step.backToNewDump ? NewDump : step.mode]));
        QVERIFY(!window.Cmd_Detener->isEnabled());
        QVERIFY(window.Lab_Aviso->isHidden());
    }
    // A file that ends complete holds the flash, and so does one a run that never began left
    // as it was; one a new dump replaced is kept whole beside it.
    const QByteArray read = flashImage().mid(First * BlockSize, Count * BlockSize);
    if (window.messages.last().text.contains("completo") ||
        window.messages.last().text.contains("No se escribió nada"))
        QCOMPARE(readFile(dir.filePath(window.Txt_Filename->text())), read);
    if (window.messages.last().text.contains("se guardó como"))
        QCOMPARE(readFile(dir.filePath("FREE_DATA.1.bin")), read);
}

// The picture a ledger gives: ten records of sixteen, one bad, two written by a repair, one a
// verification found differing.
void TestWindowModes::mapFromLedger_data() {
    QTest::addColumn<int>("block");
    QTest::addColumn<State>("state");
    QTest::newRow("vouched for") << 2000 << State::Received;
    QTest::newRow("last record") << 2009 << State::Received;
    QTest::newRow("bad sum") << 2003 << State::BadSum;
    QTest::newRow("written by a repair") << 2006 << State::ReadAgain;
    QTest::newRow("differs") << 2008 << State::Differs;
    QTest::newRow("not in the file") << 2010 << State::Pending;
}

void TestWindowModes::mapFromLedger() {
    QFETCH(int, block);
    QFETCH(State, state);
    Ledger ledger;
    ledger.range = {First, Count};
    ledger.blockDigests.resize(10);
    ledger.badBlocks = {2003};
    ledger.runs.append(
        {Ledger::RunKind::Repair, {2005, 2}, 2, {}, {}, std::nullopt, Ledger::Outcome::Complete});
    ledger.verified = Ledger::Verification{{}, {2008}};
    QCOMPARE(BlockMap::fromLedger(ledger).state(block), state);
}

// The map in the window's area: a block a cell while the range fits at the smallest pitch, else
// the fewest consecutive blocks a cell that fit, the cell in the worst of their states and its
// tooltip naming them; the first row labelled at its left.
void TestWindowModes::sharedCells_data() {
    QTest::addColumn<BlockRange>("range");
    QTest::addColumn<QString>("states"); // as showMap() takes them, the others pending
    QTest::addColumn<int>("block");      // the one pointed at
    QTest::addColumn<QString>("tooltip");
    const BlockRange most{0, 9999};
    QTest::newRow("2048, a block a cell")
        << BlockRange{0, 2048} << "1983b" << 1983 << "Bloque 1983: suma errónea";
    QTest::newRow("9999, five a cell, bad sum over differs")
        << most << "2050b 2054d" << 2052 << "Bloques 2050–2054: suma errónea";
    QTest::newRow("differs over pending")
        << most << "2052d" << 2050 << "Bloques 2050–2054: difiere";
    QTest::newRow("pending over read again")
        << most << "2050a 2051a 2052a 2053a" << 2054 << "Bloques 2050–2054: pendiente";
    QTest::newRow("from 5001, read again over received")
        << BlockRange{5001, 9999} << "7051r 7052r 7053r 7054r 7055a" << 7052
        << "Bloques 7051–7055: leído otra vez";
    QTest::newRow("a count past the limit kept to it, the last cell what is left")
        << BlockRange{0, 20000} << "9998b" << 9998 << "Bloques 9995–9998: suma errónea";
}

void TestWindowModes::sharedCells() {
    QFETCH(BlockRange, range);
    QFETCH(QString, states);
    QFETCH(int, block);
    QFETCH(QString, tooltip);
    BlockMapView view;
    showMap(view, range, states);
    const QRect cell = BlockMap(range).cellRect(block, view.rect());
    QToolTip::hideText();
    QHelpEvent help(QEvent::ToolTip, cell.center(), view.mapToGlobal(cell.center()));
    QCoreApplication::sendEvent(&view, &help);
    QCOMPARE(QToolTip::text(), tooltip);
    // The cell in the colour of the state its tooltip names, and ink left of the first row.
    const BlockMap::Labels words = view.labels();
    const auto shown =
        std::find(words.begin(), words.end(), tooltip.section(QStringLiteral(": "), 1));
    const QImage picture = view.grab().toImage();
    QCOMPARE(picture.pixelColor(cell.topLeft()), BlockMap::color(State(shown - words.begin())));
    const QRect first = BlockMap(range).cellRect(range.first, view.rect());
    // The label's band: a line of small type centred on the row (under wine, whose offscreen
    // platform has no font, its glyphs come out as dots low in the band).
    const QRect band = QRect(0, first.center().y() - 5, first.left(), 11) & picture.rect();
    QVERIFY(hasInk(picture, band));
}

QTEST_MAIN(TestWindowModes)
#include "tst_window_modes.moc"
