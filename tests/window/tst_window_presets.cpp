#include "fakecommcontrol.h"
#include "portlist.h"
#include "recordingwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QTest>

// The five dump presets and the size label that follows the block count.
class TestWindowPresets : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void presetFillsBoxes_data();
    void presetFillsBoxes();
    void presetOverwritesEdits_data();
    void presetOverwritesEdits();
    void fixedPresetLocksBlockBoxesAfterUnlock_data();
    void fixedPresetLocksBlockBoxesAfterUnlock();
    void sizeLabel_data();
    void sizeLabel();
    void sizeLabelUsesLocaleSeparator_data();
    void sizeLabelUsesLocaleSeparator();
    void sizeLabelFollowsTyping();
};

namespace {

struct PresetRow {
    const char* tag;
    int index;
    const char* first;
    const char* count;
    const char* file;
    bool editable;
    const char* label;
};

constexpr PresetRow Presets[] = {
    {"Todo (2 Mg)", 0, "0000", "2048", "Full_2048.bin", false, "(2048 Kb)"},
    {"Bootloader 64 Kb", 1, "1984", "0064", "BL_64.bin", false, "(64 Kb)"},
    {"Bootloader 128 Kb", 2, "1920", "0128", "BL_128.bin", false, "(128 Kb)"},
    {"Firmware (1 Mg)", 3, "0000", "1024", "Firmware.bin", false, "(1024 Kb)"},
    {"Libre", 4, "0000", "", "FREE_DATA.bin", true, "(0 Kb)"},
};

void addPresetColumns() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("label");
    for (const PresetRow& row : Presets)
        QTest::newRow(row.tag) << row.index << QString::fromLatin1(row.first)
                               << QString::fromLatin1(row.count) << QString::fromLatin1(row.file)
                               << row.editable << QString::fromLatin1(row.label);
}

// Clicks the preset as the operator does; a click on the selected one would change nothing, so
// another one is chosen first.
void choosePreset(RecordingWindow& window, int index) {
    if (window.Opt_Descargar.at(index)->isChecked())
        window.Opt_Descargar.at(index == 4 ? 0 : 4)->click();
    window.Opt_Descargar.at(index)->click();
    QVERIFY(window.Opt_Descargar.at(index)->isChecked());
}

void chooseFreeCount(RecordingWindow& window, const QString& count) {
    choosePreset(window, 4);
    window.Txt_Blocks->setText(count);
}

} // namespace

void TestWindowPresets::init() {
    QLocale::setDefault(QLocale::c());
}

void TestWindowPresets::presetFillsBoxes_data() {
    addPresetColumns();
}

void TestWindowPresets::presetFillsBoxes() {
    QFETCH(int, index);
    QFETCH(QString, first);
    QFETCH(QString, count);
    QFETCH(QString, file);
    QFETCH(bool, editable);
    QFETCH(QString, label);

    FakeCommControl port;
    RecordingWindow window(port);
    choosePreset(window, index);
    QCOMPARE(window.Txt_Start_Block->text(), first);
    QCOMPARE(window.Txt_Blocks->text(), count);
    QCOMPARE(window.Txt_Filename->text(), file);
    QCOMPARE(window.Txt_Start_Block->isEnabled(), editable);
    QCOMPARE(window.Txt_Blocks->isEnabled(), editable);
    QCOMPARE(window.Lab_Tamaño->text(), label);
    for (int other = 0; other < 5; ++other)
        QCOMPARE(window.Opt_Descargar.at(other)->isChecked(), other == index);
    QVERIFY(window.Txt_Filename->isEnabled());
    QCOMPARE(window.logText(), QStringLiteral("Puerto COM cerrado.\r\n"));
}

void TestWindowPresets::presetOverwritesEdits_data() {
    addPresetColumns();
}

void TestWindowPresets::presetOverwritesEdits() {
    QFETCH(int, index);
    QFETCH(QString, first);
    QFETCH(QString, count);
    QFETCH(QString, file);
    QFETCH(QString, label);

    FakeCommControl port;
    RecordingWindow window(port);
    choosePreset(window, 4);
    window.Txt_Start_Block->setText(QStringLiteral("0007"));
    window.Txt_Blocks->setText(QStringLiteral("0003"));
    window.Txt_Filename->setText(QStringLiteral("mine.bin"));
    QCOMPARE(window.Lab_Tamaño->text(), QStringLiteral("(3 Kb)"));

    choosePreset(window, index);
    QCOMPARE(window.Txt_Start_Block->text(), first);
    QCOMPARE(window.Txt_Blocks->text(), count);
    QCOMPARE(window.Txt_Filename->text(), file);
    QCOMPARE(window.Lab_Tamaño->text(), label);
}

void TestWindowPresets::fixedPresetLocksBlockBoxesAfterUnlock_data() {
    QTest::addColumn<int>("index");
    for (int index = 0; index < 4; ++index)
        QTest::addRow("%s", Presets[index].tag) << index;
}

void TestWindowPresets::fixedPresetLocksBlockBoxesAfterUnlock() {
    QFETCH(int, index);
    FakeCommControl port;
    RecordingWindow window(port);
    choosePreset(window, (index + 1) % 4);
    QVERIFY(!window.Txt_Blocks->isEnabled());

    // A refused arming disarms, which unlocks both block boxes whatever preset is selected.
    window.Txt_Path->clear();
    window.Com_Puerto->setCurrentIndex(1);
    QCOMPARE(window.messages.size(), 1);
    QVERIFY(window.Txt_Start_Block->isEnabled());
    QVERIFY(window.Txt_Blocks->isEnabled());

    window.Opt_Descargar.at(index)->click();
    QVERIFY(window.Opt_Descargar.at(index)->isChecked());
    QVERIFY(!window.Txt_Start_Block->isEnabled());
    QVERIFY(!window.Txt_Blocks->isEnabled());
}

void TestWindowPresets::sizeLabel_data() {
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("label");
    QTest::newRow("leading zeros") << "0064"
                                   << "(64 Kb)";
    QTest::newRow("whole flash") << "2048"
                                 << "(2048 Kb)";
    QTest::newRow("digits then letters") << "12ab"
                                         << "(12 Kb)";
    QTest::newRow("letters only") << "abcd"
                                  << "(0 Kb)";
    QTest::newRow("empty") << ""
                           << "(0 Kb)";
    QTest::newRow("leading space") << " 7"
                                   << "(7 Kb)";
    QTest::newRow("space between digits") << "1 2"
                                          << "(12 Kb)";
    QTest::newRow("negative") << "-5"
                              << "(-5 Kb)";
    QTest::newRow("fraction") << "1.5"
                              << "(1.5 Kb)";
    QTest::newRow("small fraction") << "1E-3"
                                    << "(0.001 Kb)";
    QTest::newRow("exponent, no grouping") << "1E5"
                                           << "(100000 Kb)";
    QTest::newRow("sign only") << "-"
                               << "(0 Kb)";
}

void TestWindowPresets::sizeLabel() {
    QFETCH(QString, count);
    QFETCH(QString, label);
    FakeCommControl port;
    RecordingWindow window(port);
    chooseFreeCount(window, count);
    QCOMPARE(window.Txt_Blocks->text(), count);
    QCOMPARE(window.Lab_Tamaño->text(), label);
}

void TestWindowPresets::sizeLabelUsesLocaleSeparator_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("label");
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("German fraction") << german << "1.5"
                                     << "(1,5 Kb)";
    QTest::newRow("German whole number") << german << "2048"
                                         << "(2048 Kb)";
    QTest::newRow("German large number") << german << "1E9"
                                         << "(1000000000 Kb)";
    QTest::newRow("English fraction") << english << ".25"
                                      << "(0.25 Kb)";
    QTest::newRow("English large number") << english << "1E7"
                                          << "(10000000 Kb)";
    // Qt's data for these locales has its own minus sign and digits; the label keeps ASCII.
    QTest::newRow("Swedish negative fraction")
        << QLocale(QLocale::Swedish, QLocale::Sweden) << "-1.5"
        << "(-1,5 Kb)";
    QTest::newRow("Egyptian Arabic fraction")
        << QLocale(QLocale::Arabic, QLocale::Egypt) << "1.25" << QStringLiteral("(1\u066b25 Kb)");
}

void TestWindowPresets::sizeLabelUsesLocaleSeparator() {
    QFETCH(QLocale, locale);
    QFETCH(QString, count);
    QFETCH(QString, label);
    QLocale::setDefault(locale);
    FakeCommControl port;
    RecordingWindow window(port);
    chooseFreeCount(window, count);
    QCOMPARE(window.Lab_Tamaño->text(), label);
}

void TestWindowPresets::sizeLabelFollowsTyping() {
    FakeCommControl port;
    RecordingWindow window(port);
    choosePreset(window, 4);
    QTest::keyClicks(window.Txt_Blocks, QStringLiteral("12"));
    QCOMPARE(window.Lab_Tamaño->text(), QStringLiteral("(12 Kb)"));
    QTest::keyClick(window.Txt_Blocks, Qt::Key_Backspace);
    QCOMPARE(window.Lab_Tamaño->text(), QStringLiteral("(1 Kb)"));
    QTest::keyClick(window.Txt_Blocks, Qt::Key_Backspace);
    QCOMPARE(window.Lab_Tamaño->text(), QStringLiteral("(0 Kb)"));
}

QTEST_MAIN(TestWindowPresets)
#include "tst_window_presets.moc"
