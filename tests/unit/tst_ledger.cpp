// The ledger beside a dump: its JSON, the refusal of anything that is not a consistent ledger,
// the check of a dump file against it, and the recorder that keeps it during runs.

#include "filedigest.h"
#include "ledger.h"
#include "ledgercheck.h"
#include "ledgerrecorder.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <dlfcn.h>
#endif

#include <cerrno>
#include <optional>

namespace {

constexpr int First = 1920;
#ifdef Q_OS_UNIX
bool failFsync = false;
#endif

} // namespace

#ifdef Q_OS_UNIX
// Flushing to the disk fails while a row asks for it, as on a disk that failed under the write.
extern "C" int fsync(int fd) {
    if (failFsync) {
        errno = EIO;
        return -1;
    }
    using Fsync = int (*)(int);
    static const auto systemFsync = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    return systemFsync(fd);
}
#endif

namespace {

QByteArray blockData(int record, bool corrupt = false) {
    QByteArray data(BlockSize, Qt::Uninitialized);
    for (int j = 0; j < data.size(); ++j)
        data[j] = static_cast<char>((record * 31 + j * 7 + (j >> 8)) & 0xFF);
    if (corrupt)
        data[512] = static_cast<char>(~data[512]);
    return data;
}

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QDateTime at(int minute) {
    return QDateTime(QDate(2024, 5, 1), QTime(12, minute, 56), Qt::UTC);
}

// Four blocks from 1920, three of them in the file, block 1921 bad, cut short.
Ledger sampleLedger() {
    Ledger ledger;
    ledger.tool = {"decodump-cli", "0.4.0"};
    ledger.device.path = "/dev/ttyUSB0";
    ledger.loaderBanner = Ledger::escapeBytes("LOADER v1\r\n\x01 BL_FLASH_END\r\n");
    ledger.range.first = First;
    ledger.range.count = 4;
    for (int record = 0; record < 3; ++record)
        ledger.blockDigests.append(sha256(blockData(record, record == 1)));
    ledger.badBlocks = {First + 1};
    ledger.outcome = Ledger::Outcome::CutShort;
    ledger.sha256 = sha256(blockData(0) + blockData(1, true) + blockData(2));
    ledger.started = at(1);
    ledger.finished = at(2);
    ledger.runs.append({Ledger::RunKind::Dump, First, 4, 3, at(1), at(2), std::nullopt,
                        Ledger::Outcome::CutShort});
    return ledger;
}

QJsonValue replaced(const QJsonValue& node, QStringList path, const QJsonValue& value) {
    if (path.isEmpty())
        return value;
    const QString key = path.takeFirst();
    if (node.isArray()) {
        QJsonArray array = node.toArray();
        array[key.toInt()] = replaced(array[key.toInt()], path, value);
        return array;
    }
    QJsonObject object = node.toObject();
    if (path.isEmpty() && value.isUndefined())
        object.remove(key);
    else
        object[key] = replaced(object.value(key), path, value);
    return object;
}

// The sample ledger's JSON with the value at `path` ("runs/0/total") replaced; an undefined
// value removes the key.
QByteArray sampleWith(const QString& path, const QJsonValue& value) {
    const QJsonObject top = QJsonDocument::fromJson(sampleLedger().toJson()).object();
    return QJsonDocument(replaced(top, path.split('/'), value).toObject()).toJson();
}

} // namespace

class TestLedger : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data() {
        QTest::addColumn<bool>("usb");
        QTest::addColumn<bool>("verified");
        QTest::addColumn<QStringList>("deviceKeys");
        QTest::newRow("plain device") << false << false << QStringList{"path"};
        QTest::newRow("USB adapter, verified")
            << true << true << QStringList{"description", "path", "pid", "serial", "vid"};
    }

    void roundTrip() {
        QFETCH(bool, usb);
        QFETCH(bool, verified);
        QFETCH(QStringList, deviceKeys);
        Ledger ledger = sampleLedger();
        if (usb) {
            ledger.device = {"/dev/ttyUSB0", 0x0403, 0x6001, "A10K", "FT232R USB UART"};
            ledger.runs.last().total = ledger.total = Ledger::Total{0x12, 0x13};
        }
        if (verified)
            ledger.verified = Ledger::Verification{at(3), {First, First + 3}, {First + 2}};

        const QByteArray json = ledger.toJson();
        QString error;
        const std::optional<Ledger> back = Ledger::parse(json, "x.json", &error);
        QVERIFY2(back, qPrintable(error));
        QVERIFY(*back == ledger);
        QCOMPARE(back->toJson(), json);

        const QJsonObject top = QJsonDocument::fromJson(json).object();
        QStringList keys{"bad_blocks",  "block_count", "block_sha256",  "device",  "finished",
                         "first_block", "format",      "loader_banner", "outcome", "records",
                         "runs",        "sha256",      "started",       "tool",    "total"};
        if (verified)
            keys.append("verified");
        keys.sort();
        QCOMPARE(top.keys(), keys);
        QCOMPARE(top["device"].toObject().keys(), deviceKeys);
        QCOMPARE(top["records"].toInt(), 3);
        QCOMPARE(top["total"].isNull(), !usb);
        if (usb)
            QCOMPARE(top["device"]["vid"].toString(), QString("0403"));
        // A ledger written before blocks could go uncompared is read as it was meant.
        if (verified) {
            QJsonObject older = top;
            older["verified"] = QJsonObject{{"at", "2024-05-01T12:34:56Z"},
                                            {"identical", false},
                                            {"differing_blocks", QJsonArray{First}}};
            const std::optional<Ledger> old =
                Ledger::parse(QJsonDocument(older).toJson(), "x.json", &error);
            QVERIFY2(old && old->verified->uncomparedBlocks.isEmpty(), qPrintable(error));
        }
    }

    void refusals_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("problem");
        const QJsonValue removed(QJsonValue::Undefined);
        QTest::newRow("not JSON") << QByteArray("{\"format\": 1,") << "not valid JSON";
        QTest::newRow("not an object") << QByteArray("[1]") << "not an object";
        QTest::newRow("no format") << sampleWith("format", removed) << "no \"format\"";
        QTest::newRow("unknown format") << sampleWith("format", 2) << "unknown ledger format 2";
        QTest::newRow("format as text")
            << sampleWith("format", "1") << "\"format\" is a text, expected a whole number";
        QTest::newRow("no device") << sampleWith("device", removed) << "\"device\" is missing";
        QTest::newRow("fractional records") << sampleWith("records", 2.5) << "\"records\" is 2.5";
        QTest::newRow("negative records") << sampleWith("records", -1) << "\"records\" is -1";
        QTest::newRow("huge count")
            << sampleWith("block_count", 1e300) << "expected a whole number from 1 to 9999";
        QTest::newRow("first block beyond the block boxes")
            << sampleWith("first_block", 99999) << "\"first_block\" is 99999";
        QTest::newRow("more records than blocks")
            << sampleWith("records", 5) << "\"records\" is 5, more than the 4 blocks";
        QTest::newRow("digests for fewer records")
            << sampleWith("records", 2) << "holds 3 digests for 2 records";
        QTest::newRow("uppercase digest")
            << sampleWith("block_sha256/0", QString(64, 'A')) << "\"block_sha256[0]\" is not";
        QTest::newRow("bad block past the records")
            << sampleWith("bad_blocks", QJsonArray{First + 3}) << "outside the blocks";
        QTest::newRow("bad blocks descending")
            << sampleWith("bad_blocks", QJsonArray{First + 2, First + 1}) << "ascending";
        QTest::newRow("unknown outcome") << sampleWith("outcome", "done") << "not a known outcome";
        QTest::newRow("complete with a record missing")
            << sampleWith("outcome", "complete") << "\"outcome\" is \"complete\"";
        QTest::newRow("total out of range")
            << sampleWith("total", QJsonObject{{"loader", 256}, {"computed", 1}, {"match", false}})
            << "\"total.loader\" is 256";
        QTest::newRow("total other than the run's")
            << sampleWith("total", QJsonObject{{"loader", 1}, {"computed", 1}, {"match", true}})
            << "differs from the total of the latest run";
        QTest::newRow("match contradicts the sums")
            << sampleWith("runs/0/total",
                          QJsonObject{{"loader", 1}, {"computed", 1}, {"match", false}})
            << "\"runs[0].total.match\" is false";
        QTest::newRow("local time")
            << sampleWith("started", "2024-05-01T14:34:56+02:00") << "expected a UTC time";
        QTest::newRow("no runs") << sampleWith("runs", QJsonArray()) << "\"runs\" is empty";
        QTest::newRow("run before the range")
            << sampleWith("runs/0/first_block", First - 1) << "\"runs[0].first_block\" is 1919";
        QTest::newRow("control byte in the banner")
            << sampleWith("loader_banner", "A\x01") << "\"loader_banner\" holds";
        QTest::newRow("vid not hex") << sampleWith("device/vid", "0x12") << "\"device.vid\" is";
        QTest::newRow("verified yet differing")
            << sampleWith("verified", QJsonObject{{"at", "2024-05-01T12:34:56Z"},
                                                  {"identical", true},
                                                  {"differing_blocks", QJsonArray{First}}})
            << "\"verified.identical\" is true";
        QTest::newRow("verified yet uncompared")
            << sampleWith("verified", QJsonObject{{"at", "2024-05-01T12:34:56Z"},
                                                  {"identical", true},
                                                  {"differing_blocks", QJsonArray{}},
                                                  {"uncompared_blocks", QJsonArray{First}}})
            << "\"verified.identical\" is true";
        QTest::newRow("flash differs, no record differing")
            << sampleWith("outcome", "flash_differs") << "\"outcome\" is \"flash_differs\"";
    }

    void refusals() {
        QFETCH(QByteArray, json);
        QFETCH(QString, problem);
        QString error;
        QVERIFY(!Ledger::parse(json, "/d/BL_128.bin.json", &error));
        QVERIFY2(error.startsWith("/d/BL_128.bin.json: ") && error.contains(problem),
                 qPrintable(error));
    }

    void escapedBannerIsAccepted_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("printable") << QByteArray("BL v1 \"x\"") << "BL v1 \"x\"";
        QTest::newRow("line ends and tab") << QByteArray("a\r\n\tb") << "a\\r\\n\\tb";
        QTest::newRow("backslash") << QByteArray("C:\\x") << "C:\\\\x";
        QTest::newRow("control and high bytes")
            << QByteArray("\x00\x1f\x7f\xff", 4) << "\\x00\\x1f\\x7f\\xff";
    }

    void escapedBannerIsAccepted() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, escaped);
        QCOMPARE(Ledger::escapeBytes(bytes), escaped);
        QString error;
        QVERIFY2(Ledger::parse(sampleWith("loader_banner", escaped), "x.json", &error),
                 qPrintable(error));
    }

    void blocksToRead_data() {
        QTest::addColumn<QList<int>>("bad");
        QTest::addColumn<int>("records");
        QTest::addColumn<QList<int>>("ranges"); // first, count, first, count...
        QTest::newRow("all there") << QList<int>() << 6 << QList<int>();
        QTest::newRow("missing tail") << QList<int>() << 2 << QList<int>{First + 2, 4};
        QTest::newRow("bad next to each other")
            << QList<int>{First, First + 1, First + 4} << 6 << QList<int>{First, 2, First + 4, 1};
        QTest::newRow("last bad joins the missing tail")
            << QList<int>{First + 1, First + 2} << 3 << QList<int>{First + 1, 5};
    }

    void blocksToRead() {
        QFETCH(QList<int>, bad);
        QFETCH(int, records);
        QFETCH(QList<int>, ranges);
        Ledger ledger;
        ledger.range.first = First;
        ledger.range.count = 6;
        ledger.blockDigests.resize(records);
        ledger.badBlocks = bad;
        QList<int> flat;
        for (const BlockRange& range : ledger.blocksToRead())
            flat << range.first << range.count;
        QCOMPARE(flat, ranges);
    }

    void fileCheck_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("problem");
        const QByteArray three = blockData(0) + blockData(1, true) + blockData(2);
        QByteArray changed = three;
        changed[1024 + 3] = 'x';
        const auto v = [](LedgerCheck::Verdict verdict) { return static_cast<int>(verdict); };
        QTest::newRow("matches") << three << v(LedgerCheck::Verdict::Matches) << QString();
        QTest::newRow("a part of the next record")
            << three + "abc" << v(LedgerCheck::Verdict::Matches) << QString();
        QTest::newRow("record differs")
            << changed << v(LedgerCheck::Verdict::RecordDiffers) << "record 1 (block 1921)";
        QTest::newRow("shorter") << three.first(2048 + 5) << v(LedgerCheck::Verdict::Shorter)
                                 << "holds 2 whole records, the ledger vouches for 3";
        QTest::newRow("longer than the range")
            << three + three << v(LedgerCheck::Verdict::LongerThanRange)
            << "more than the 4 blocks";
        QTest::newRow("missing") << QByteArray() << v(LedgerCheck::Verdict::Unreadable)
                                 << "does not exist";
        QTest::newRow("last record differs")
            << three.first(2048) + blockData(3) << v(LedgerCheck::Verdict::RecordDiffers)
            << "record 2 (block 1922)";
    }

    void fileCheck() {
        QFETCH(QByteArray, content);
        QFETCH(int, verdict);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const QString dump = dir.filePath("BL.bin");
        if (!content.isEmpty())
            QVERIFY(writeFile(dump, content));
        const LedgerCheck check = LedgerCheck::run(sampleLedger(), dump);
        QCOMPARE(static_cast<int>(check.verdict), verdict);
        QVERIFY2(check.problem.contains(problem), qPrintable(check.problem));
        if (!problem.isEmpty())
            QVERIFY(check.problem.contains(dump + " does not match its ledger " + dump + ".json"));
        // Bytes after the vouched records are not vouched for, and do not stop the file matching.
        if (check.matches())
            QCOMPARE(check.recordSums.size(), content.size() / 1024);
    }

    // Runs a dump of 70 blocks through the recorder as the dialogue writes the file, then
    // optionally a second run, and checks the ledger on disk against the file.
    void recorder_data() {
        QTest::addColumn<int>("cutAfter"); // blocks of the first run; 70 runs to the end
        QTest::addColumn<int>("badRecord");
        QTest::addColumn<QString>("second"); // "", "resume" or "repair"
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QList<int>>("badBlocks");
        QTest::addColumn<int>("records");
        QTest::newRow("good dump") << 70 << -1 << ""
                                   << "complete" << QList<int>() << 70;
        QTest::newRow("bad sum") << 70 << 5 << ""
                                 << "bad_sums" << QList<int>{First + 5} << 70;
        QTest::newRow("cut short") << 30 << -1 << ""
                                   << "cut_short" << QList<int>() << 30;
        // The first run's records were never checked by a total.
        QTest::newRow("resumed") << 30 << -1 << "resume"
                                 << "total_unchecked" << QList<int>() << 70;
        QTest::newRow("bad block repaired") << 70 << 5 << "repair"
                                            << "complete" << QList<int>() << 70;
        // Killed after its last block, before the ledger's last write: the records after the
        // 64 it vouched for are taken in once a verification found them the same.
        QTest::newRow("killed, then verified") << 70 << -1 << "verify"
                                               << "complete" << QList<int>() << 70;
    }

    void recorder() {
        QFETCH(int, cutAfter);
        QFETCH(int, badRecord);
        QFETCH(QString, second);
        QFETCH(QString, outcome);
        QFETCH(QList<int>, badBlocks);
        QFETCH(int, records);
        constexpr int Count = 70;
        QTemporaryDir dir;
        const QString dump = dir.filePath("BL.bin");
        const QString ledgerPath = dump + ".json";
        QFile file(dump);
        QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Unbuffered));

        LedgerRecorder::Setup setup;
        setup.dumpPath = dump;
        setup.range.first = First;
        setup.range.count = Count;
        setup.device.path = "/dev/pts/9";
        setup.loaderBanner = "BOOT\r\nBL_FLASH_END\r\n";
        LedgerRecorder recorder;
        recorder.begin(setup);
        const auto runBlocks = [&](Ledger::RunKind kind, int from, int to) {
            QVERIFY(recorder.beginRun(kind, {First + from, to - from}));
            // The loader adds up its flash; the run what it received.
            quint8 loaderTotal = 0;
            quint8 computed = 0;
            for (int record = from; record < to; ++record) {
                const bool bad = record == badRecord && kind == Ledger::RunKind::Dump;
                const QByteArray data = blockData(record, bad);
                QVERIFY(file.seek(qint64(record) * 1024));
                QCOMPARE(file.write(data), data.size());
                QVERIFY(recorder.blockWritten(record, data, !bad));
                loaderTotal += byteSum(blockData(record));
                computed += byteSum(data);
                if (record - from + 1 == LedgerRecorder::WriteInterval) {
                    const std::optional<Ledger> midway = Ledger::load(ledgerPath, nullptr);
                    QVERIFY(midway);
                    QCOMPARE(midway->records(), record + 1);
                    QCOMPARE(midway->outcome, Ledger::Outcome::Interrupted);
                    QCOMPARE(midway->sha256, sha256(readFile(dump)));
                }
            }
            if (second == "verify")
                return; // killed
            const bool cut = kind == Ledger::RunKind::Dump && to < Count;
            if (!cut)
                recorder.totalChecked(loaderTotal, computed);
            const bool sawBad = kind == Ledger::RunKind::Dump && badRecord >= 0;
            QVERIFY(recorder.end(cut      ? Ledger::Outcome::CutShort
                                 : sawBad ? Ledger::Outcome::BadSums
                                          : Ledger::Outcome::Complete));
        };
        runBlocks(Ledger::RunKind::Dump, 0, cutAfter);
        if (QTest::currentTestFailed())
            return;
        if (!second.isEmpty()) {
            QString error;
            setup.previous = Ledger::load(ledgerPath, &error);
            QVERIFY2(setup.previous, qPrintable(error));
            QVERIFY(LedgerCheck::run(*setup.previous, dump).matches());
            recorder.begin(setup);
            if (second == "resume")
                runBlocks(Ledger::RunKind::Resume, cutAfter, Count);
            else if (second == "repair")
                runBlocks(Ledger::RunKind::Repair, badRecord, badRecord + 1);
            else
                QVERIFY(recorder.recordVerification(*setup.previous, dump, {at(9), {}, {}}));
            if (QTest::currentTestFailed())
                return;
        }
        file.close();

        QString error;
        const std::optional<Ledger> ledger = Ledger::load(ledgerPath, &error);
        QVERIFY2(ledger, qPrintable(error));
        const QByteArray content = readFile(dump);
        QCOMPARE(Ledger::outcomeName(ledger->outcome), outcome);
        QCOMPARE(ledger->badBlocks, badBlocks);
        QCOMPARE(ledger->records(), records);
        QCOMPARE(content.size(), records * 1024);
        QCOMPARE(ledger->sha256, sha256(content));
        for (int record = 0; record < records; ++record)
            QCOMPARE(ledger->blockDigests[record], sha256(content.mid(record * 1024, 1024)));
        QCOMPARE(ledger->runs.size(), second.isEmpty() || second == "verify" ? 1 : 2);
        QCOMPARE(ledger->total.has_value(),
                 second == "repair" || (records == Count && second != "verify"));
        QCOMPARE(ledger->loaderBanner, QString("BOOT\\r\\nBL_FLASH_END\\r\\n"));
        QVERIFY(LedgerCheck::run(*ledger, dump).matches());
    }

    // Replacing a ledger: the old one stays whole whenever the new one cannot be written, and
    // whatever stands at the path is never written through.
    void ledgerWrite_data() {
        QTest::addColumn<QString>("atPath");  // what stands at the ledger's path
        QTest::addColumn<QString>("problem"); // empty: written
        QTest::newRow("old ledger") << "file" << QString();
        QTest::newRow("no such folder") << "no folder"
                                        << "cannot write the ledger";
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
#ifdef Q_OS_UNIX
        QTest::newRow("link to another file") << "link" << QString();
        QTest::newRow("link to a pipe") << "link to fifo" << QString();
        QTest::newRow("link to a device") << "link to /dev/null" << QString();
        QTest::newRow("flush to disk fails") << "file, fsync fails"
                                             << "cannot write the ledger";
        QTest::newRow("full disk") << "file, full disk"
                                   << "cannot write the ledger";
        QTest::newRow("pipe") << "fifo"
                              << "it is a pipe";
#else
        QTest::newRow("device name") << "NUL"
                                     << "it is a device";
#endif
    }

    void ledgerWrite() {
        QFETCH(QString, atPath);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QString path = dir.filePath("BL.bin.json");
        const QByteArray old = "{\"old\": true}";
        const QString target = dir.filePath("elsewhere");
        if (atPath.startsWith("file"))
            QVERIFY(writeFile(path, old));
        else if (atPath == "no folder")
            path = dir.filePath("no/such/folder/BL.bin.json");
        else if (atPath == "folder")
            QVERIFY(QDir(dir.path()).mkdir("BL.bin.json"));
        else if (atPath == "NUL")
            path = dir.filePath("NUL.json");
#ifdef Q_OS_UNIX
        else if (atPath == "link")
            QVERIFY(writeFile(target, old) && QFile::link(target, path));
        else if (atPath == "link to fifo")
            QVERIFY(makeFifo(target) && QFile::link(target, path));
        else if (atPath == "link to /dev/null")
            QVERIFY(QFile::link("/dev/null", path));
        else if (atPath == "fifo")
            QVERIFY(makeFifo(path));

        // Files may grow to 100 bytes: the new ledger fails part way, as on a full disk.
        std::optional<FileSizeLimit> small;
        if (atPath.endsWith("full disk"))
            QVERIFY(small.emplace(100).set());
        failFsync = atPath.endsWith("fsync fails");
#endif
        QString error;
        const bool written = sampleLedger().writeAtomically(path, &error);
#ifdef Q_OS_UNIX
        small.reset();
        failFsync = false;
#endif

        QCOMPARE(written, problem.isEmpty());
        if (!written) {
            QVERIFY2(error.startsWith(path + ": cannot write the ledger: ") &&
                         error.contains(problem),
                     qPrintable(error));
            if (atPath.startsWith("file"))
                QCOMPARE(readFile(path), old);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
                     atPath.startsWith("file") || atPath == "fifo" ? 1 : 0);
            return;
        }
        // A link is replaced by the ledger; what it pointed to stays as it was.
        QVERIFY(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
        QCOMPARE(readFile(path), sampleLedger().toJson());
        if (atPath == "link")
            QCOMPARE(readFile(target), old);
        if (atPath == "link to fifo")
            QVERIFY(QFileInfo(target).exists() && !QFileInfo(target).isFile());
    }

    // Reading a ledger never waits on a pipe nor reads a device without end.
    void ledgerLoadRefusesWhatIsNoFile_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("problem");
#ifdef Q_OS_UNIX
        QTest::newRow("pipe") << "fifo"
                              << "it is a pipe";
        QTest::newRow("device") << "/dev/zero"
                                << "it is a device";
#else
        QTest::newRow("device") << "NUL"
                                << "it is a device";
#endif
    }

    void ledgerLoadRefusesWhatIsNoFile() {
        QFETCH(QString, path);
        QFETCH(QString, problem);
        QTemporaryDir dir;
#ifdef Q_OS_UNIX
        if (path == "fifo") {
            path = dir.filePath("BL.bin.json");
            QVERIFY(makeFifo(path));
        }
#endif
        QString error;
        QVERIFY(!Ledger::load(path, &error));
        QVERIFY2(error.startsWith(path + ": cannot read the ledger: ") && error.contains(problem),
                 qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestLedger)
#include "tst_ledger.moc"
