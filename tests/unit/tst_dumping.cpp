// One dump for any front end, driven in process through the fake port against a loader played
// in the test: a new dump, a resume, a verification and a repair, one after the other on one
// file, with how each ends, what it asks the loader for and what the file and its ledger hold.

#include "blocksize.h"
#include "dumprun.h"
#include "eventwait.h"
#include "fakecommcontrol.h"
#include "fakeloader.h"
#include "fakeoperator.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int First = 2000;
constexpr int Count = 16;
constexpr int FlashBlocks = 2048;

QByteArray flashImage() {
    QByteArray image(FlashBlocks * BlockSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + i / 1031) & 0xFF);
    return image;
}

using Mode = DumpPlan::Mode;
using Ending = DumpOutcome::Ending;

// One run on the file: what it asks for, against which loader, and how it must end. A settled
// run ends without the loader.
struct Step {
    Mode mode = Mode::NewDump;
    FakeLoader::Faults faults{};
    Ending ending = Ending::Finished;
    bool complete = true;
    QList<int> asked{};     // the blocks asked of the loader, in order
    QList<int> badBlocks{}; // the ledger's afterwards
    std::optional<DumpPlan::Settled> settled{};
    bool fileKept = false; // the file afterwards as before
};

QList<int> blocks(int from, int to) {
    QList<int> list;
    for (int block = from; block <= to; ++block)
        list.append(block);
    return list;
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestDumping : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runs_data();
    void runs();
    void planRefusals_data();
    void planRefusals();
    void oneRunPerDumpPath();

private:
    const QByteArray m_image = flashImage();
};

void TestDumping::runs_data() {
    QTest::addColumn<QList<Step>>("steps");
    const auto all = [] { return blocks(First, First + Count - 1); };
    const FakeLoader::Faults corrupt3{{3}};

    QTest::newRow("new dump") << QList<Step>{{Mode::NewDump, {}, Ending::Finished, true, all()}};
    QTest::newRow("bad block repaired")
        << QList<Step>{{Mode::NewDump, corrupt3, Ending::Finished, false, all(), {2002}},
                       {Mode::Repair, {}, Ending::Finished, true, {2002}}};
    // The record holds the right data under a bad sum; read again wrong, it must stay.
    QTest::newRow("repaired block comes bad again")
        << QList<Step>{{Mode::NewDump, {{}, 3}, Ending::Finished, false, all(), {2002}},
                       {Mode::Repair, {{1}}, Ending::Finished, false, {2002}, {2002}, {}, true},
                       {Mode::Repair, {}, Ending::Finished, true, {2002}}};
    QTest::newRow("two runs of bad blocks, one loader dialogue each") << QList<Step>{
        {Mode::NewDump, {{3, 4, 9}}, Ending::Finished, false, all(), {2002, 2003, 2008}},
        {Mode::Repair, {}, Ending::Finished, true, {2002, 2003, 2008}}};
    QTest::newRow("repair cut short after its block") << QList<Step>{
        {Mode::NewDump, corrupt3, Ending::Finished, false, all(), {2002}},
        {Mode::Repair, {{}, 0, 1}, Ending::DeviceLost, false, {2002}},
        {Mode::Repair, {}, Ending::Finished, true, {}, {}, DumpPlan::Settled::NothingToDo}};
    QTest::newRow("resume after a cut, then verified") << QList<Step>{
        {Mode::NewDump, {{}, 0, 5}, Ending::DeviceLost, false, blocks(First, 2004)},
        {Mode::Resume, {}, Ending::Finished, false, blocks(2005, 2015)},
        {Mode::Resume, {}, Ending::Finished, false, {}, {}, DumpPlan::Settled::TotalUnchecked},
        {Mode::Verify, {}, Ending::Finished, true, all()},
        {Mode::Resume, {}, Ending::Finished, true, {}, {}, DumpPlan::Settled::NothingToDo}};
    QTest::newRow("verification of a cut file")
        << QList<Step>{{Mode::NewDump, {{}, 0, 5}, Ending::DeviceLost, false, blocks(First, 2004)},
                       {Mode::Verify, {}, Ending::Finished, false, all()}};
    QTest::newRow("verification differs, repair reads the block")
        << QList<Step>{{Mode::NewDump, {{}, 3}, Ending::Finished, false, all(), {2002}},
                       {Mode::Verify, corrupt3, Ending::Finished, false, all(), {2002}},
                       {Mode::Repair, {}, Ending::Finished, true, {2002}}};
    // Nothing read from another flash joins the file, and nothing calls the file complete.
    const FakeLoader::Faults otherFlash{{}, 0, 0, false, true};
    QTest::newRow("verified against another decoder, then repair and resume refused")
        << QList<Step>{
               {Mode::NewDump, {}, Ending::Finished, true, all()},
               {Mode::Verify, otherFlash, Ending::Finished, false, all()},
               {Mode::Repair, {}, Ending::Finished, false, {}, {}, DumpPlan::Settled::FlashDiffers},
               {Mode::Resume, {}, Ending::Finished, false, {}, {}, DumpPlan::Settled::FlashDiffers},
               {Mode::Verify, {}, Ending::Finished, true, all()},
               {Mode::Repair, {}, Ending::Finished, true, {}, {}, DumpPlan::Settled::NothingToDo}};
    QTest::newRow("a cut dump is not resumed from another decoder") << QList<Step>{
        {Mode::NewDump, {{}, 0, 5}, Ending::DeviceLost, false, blocks(First, 2004)},
        {Mode::Verify, otherFlash, Ending::Finished, false, all()},
        {Mode::Resume, {}, Ending::Finished, false, {}, {}, DumpPlan::Settled::FlashDiffers}};
    QTest::newRow("resume of the last block alone with a wrong total") << QList<Step>{
        {Mode::NewDump, {{}, 0, 15}, Ending::DeviceLost, false, blocks(First, 2014)},
        {Mode::Resume, {{}, 0, 0, true}, Ending::Finished, false, {2015}},
        {Mode::Resume, {}, Ending::Finished, false, {}, {}, DumpPlan::Settled::TotalMismatch}};
    QTest::newRow("wrong total: nothing to repair until a verification") << QList<Step>{
        {Mode::NewDump, {{}, 0, 0, true}, Ending::Finished, false, all()},
        {Mode::Repair, {}, Ending::Finished, false, {}, {}, DumpPlan::Settled::TotalMismatch},
        {Mode::Verify, {}, Ending::Finished, true, all()}};
}

void TestDumping::runs() {
    QFETCH(QList<Step>, steps);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FakeCommControl port;
    FakeLoader loader(port, m_image);
    FakeOperator op;
    op.folder = dir.path() + QLatin1Char('/');
    DumpRun run(port, op);
    op.follow(run.session());
    int nextPasses = 0;
    QObject::connect(&run, &DumpRun::nextPass, &run, [&] { ++nextPasses; });
    std::optional<DumpOutcome> outcome;
    QObject::connect(&run, &DumpRun::finished, &run,
                     [&](const DumpOutcome& ended) { outcome = ended; });

    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step& step = steps.at(i);
        const QByteArray before = readFile(dir.filePath(op.fileName));
        const qsizetype askedBefore = loader.requested().size();
        loader.setFaults(step.faults);
        const DumpPlan plan = DumpPlan::prepare(
            {step.mode, op.folder, op.fileName, QString::number(First), QString::number(Count)});
        QVERIFY2(plan.ok(), qPrintable(QStringLiteral("step %1").arg(i + 1)));
        QCOMPARE(plan.settled, step.settled);
        if (plan.settled)
            continue;
        outcome.reset();
        QVERIFY(!run.start(plan, QStringLiteral("COM1")));
        QVERIFY2(waitFor([&] { return outcome.has_value(); }, 10000),
                 qPrintable(QStringLiteral("step %1 did not end").arg(i + 1)));

        QCOMPARE(outcome->ending, step.ending);
        QCOMPARE(outcome->complete(), step.complete);
        QCOMPARE(loader.requested().mid(askedBefore), step.asked);
        QVERIFY(outcome->ledger);
        const std::optional<Ledger> ledger =
            Ledger::load(dir.filePath(op.fileName + ".json"), nullptr);
        QVERIFY(ledger);
        QCOMPARE(ledger->toJson(), outcome->ledger->toJson());
        QCOMPARE(ledger->badBlocks, step.badBlocks);
        // What a complete file holds is the flash; a verification changes nothing of the file.
        const QByteArray file = readFile(dir.filePath(op.fileName));
        if (step.complete && step.mode != Mode::Verify)
            QVERIFY(file == m_image.mid(First * BlockSize, Count * BlockSize));
        if (step.mode == Mode::Verify || step.fileKept)
            QCOMPARE(file, before);
        if (step.mode == Mode::Verify && !step.complete)
            QVERIFY(!outcome->verification.identical());
    }
    // A repair of separate runs of blocks arms the port once for each.
    if (QByteArray(QTest::currentDataTag()).startsWith("two runs"))
        QCOMPARE(nextPasses, 1);
}

// What a plan refuses, or finds to need no loader, with the file and its ledger as a complete
// dump left them and one thing changed.
void TestDumping::planRefusals_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("refusal"); // -1: the plan is accepted
    QTest::addColumn<QString>("detail");
    const auto kind = [](DumpPlan::Refusal::Kind k) { return int(k); };
    using K = DumpPlan::Refusal::Kind;
    const int resume = int(Mode::Resume);
    QTest::newRow("no ledger") << "no ledger" << resume << First << Count << kind(K::NoLedger)
                               << QString();
    // The one range rule: four digits at most, a block at least.
    QTest::newRow("first block beyond four digits")
        << "none" << resume << 10000 << Count << kind(K::Range) << QString();
    QTest::newRow("count beyond four digits")
        << "none" << int(Mode::NewDump) << First << 10000 << kind(K::Range) << QString();
    QTest::newRow("negative first block")
        << "none" << int(Mode::NewDump) << -2 << Count << kind(K::Range) << QString();
    // The entries, in the order the window checks them: the count, the folder, the name, then
    // the range.
    QTest::newRow("no block") << "none" << resume << First << 0 << kind(K::NoCount) << QString();
    QTest::newRow("no such folder, no block")
        << "no folder" << resume << First << 0 << kind(K::NoCount) << QString();
    QTest::newRow("no such folder")
        << "no folder" << resume << 10000 << Count << kind(K::Folder) << QString();
    QTest::newRow("a folder in the name")
        << "slash" << resume << 10000 << Count << kind(K::FileName) << "separator";
    QTest::newRow("ledger for another count")
        << "none" << resume << First << Count + 1 << kind(K::LedgerForAnotherRange) << QString();
    QTest::newRow("ledger for another first block")
        << "none" << resume << First + 1 << Count << kind(K::LedgerForAnotherRange) << QString();
    QTest::newRow("file longer than the range")
        << "longer" << resume << First << Count << kind(K::FileDoesNotMatch)
        << "more than the 16 blocks of its range";
    QTest::newRow("record changed") << "record" << int(Mode::Verify) << First << Count
                                    << kind(K::FileDoesNotMatch) << "record 3 (block 2003) differs";
    QTest::newRow("ledger's digest of the file changed")
        << "sha256" << resume << First << Count << kind(K::FileDoesNotMatch)
        << "differs from the ledger's \"sha256\"";
    QTest::newRow("ledger not JSON") << "not json" << int(Mode::Repair) << First << Count
                                     << kind(K::LedgerUnreadable) << "not valid JSON";
#ifdef Q_OS_UNIX
    QTest::newRow("ledger is a pipe")
        << "fifo" << int(Mode::Verify) << First << Count << kind(K::LedgerPath) << QString();
    QTest::newRow("ledger is a pipe: a new dump goes ahead without it")
        << "fifo" << int(Mode::NewDump) << First << Count << -1 << QString();
#endif
    QTest::newRow("dump is a folder")
        << "folder" << int(Mode::NewDump) << First << Count << kind(K::DumpPath) << QString();
    QTest::newRow("a record the ledger never vouched for is read again")
        << "unvouched tail" << resume << First << Count << -1 << QString();
}

void TestDumping::planRefusals() {
    QFETCH(QString, change);
    QFETCH(int, mode);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(int, refusal);
    QFETCH(QString, detail);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + QLatin1Char('/');
    const QString dumpPath = folder + QStringLiteral("dump.bin");
    const QString ledgerPath = dumpPath + QStringLiteral(".json");
    {
        // The file and ledger of a dump cut after 12 of the 16 blocks.
        FakeCommControl port;
        FakeLoader loader(port, m_image);
        loader.setFaults({{}, 0, 12});
        FakeOperator op;
        op.folder = folder;
        op.startBlock = QString::number(First);
        op.blockCount = QString::number(Count);
        DumpRun run(port, op);
        op.follow(run.session());
        bool ended = false;
        QObject::connect(&run, &DumpRun::finished, &run, [&] { ended = true; });
        QVERIFY(!run.start(
            DumpPlan::prepare({Mode::NewDump, folder, "dump.bin", op.startBlock, op.blockCount}),
            QStringLiteral("COM1")));
        QVERIFY(waitFor([&] { return ended; }, 10000));
    }
    if (change == u"no ledger")
        QVERIFY(QFile::remove(ledgerPath));
    else if (change == u"longer")
        QVERIFY(QFile(dumpPath).resize(17 * BlockSize));
    else if (change == u"unvouched tail")
        QVERIFY(QFile(dumpPath).resize(13 * BlockSize));
    else if (change == u"record")
        QVERIFY(writeFile(dumpPath, readFile(dumpPath).replace(3 * BlockSize, 1, "x")));
    else if (change == u"sha256")
        QVERIFY(
            writeFile(ledgerPath, readFile(ledgerPath)
                                      .replace(Ledger::load(ledgerPath, nullptr)->sha256.toHex(),
                                               QByteArray(64, '0'))));
    else if (change == u"not json")
        QVERIFY(writeFile(ledgerPath, "{\"format\": 1,"));
#ifdef Q_OS_UNIX
    else if (change == u"fifo")
        QVERIFY(QFile::remove(ledgerPath) && makeFifo(ledgerPath));
#endif
    else if (change == u"folder")
        QVERIFY(QFile::remove(dumpPath) && QDir(folder).mkdir(QStringLiteral("dump.bin")));

    const DumpPlan plan = DumpPlan::prepare(
        {Mode(mode), change == u"no folder" ? folder + QStringLiteral("none/") : folder,
         change == u"slash" ? QStringLiteral("sub/dump.bin") : QStringLiteral("dump.bin"),
         QString::number(first), QString::number(count)});
    QCOMPARE(plan.refusal ? int(plan.refusal->kind) : -1, refusal);
    if (plan.refusal)
        QVERIFY2(plan.refusal->detail.contains(detail), qPrintable(plan.refusal->detail));
    else if (plan.mode == Mode::NewDump)
        QCOMPARE(plan.ledgerWarning.has_value(), change == u"fifo");
    else
        QCOMPARE(plan.passes.first().range.first, First + 12);
}

// A second run on a dump path that a run holds is refused before its port opens, until the first
// has ended.
void TestDumping::oneRunPerDumpPath() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FakeCommControl firstPort;
    FakeCommControl secondPort;
    FakeOperator first;
    FakeOperator second;
    DumpRun holding(firstPort, first);
    DumpRun refused(secondPort, second);
    first.follow(holding.session());
    second.follow(refused.session());
    const DumpPlan plan =
        DumpPlan::prepare({Mode::NewDump, dir.path() + QLatin1Char('/'), QStringLiteral("dump.bin"),
                           QString::number(First), QString::number(Count)});
    QVERIFY(!holding.start(plan, QStringLiteral("COM1")));
    const std::optional<DumpRun::StartFailure> failure =
        refused.start(plan, QStringLiteral("COM2"));
    QVERIFY(failure && failure->kind == DumpRun::StartFailure::Kind::DumpInUse);
    QVERIFY(!secondPort.PortOpen());
    holding.stop(DumpRun::StopReason::Interrupted);
    QVERIFY(!refused.start(plan, QStringLiteral("COM2")));
    QVERIFY(secondPort.PortOpen());
}

QTEST_GUILESS_MAIN(TestDumping)
#include "tst_dumping.moc"
