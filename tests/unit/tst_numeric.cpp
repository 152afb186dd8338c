#include "numeric.h"
#include "testlocale.h"

#include <QTest>

#include <limits>

class TestNumeric : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { verifyTestLocale(); }

    void value_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("four digits") << "0064" << 64.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("letters") << "abcd" << 0.0;
        QTest::newRow("digits then letters") << "12ab" << 12.0;
        QTest::newRow("leading space") << " 7" << 7.0;
        QTest::newRow("space between digits") << "1 2" << 12.0;
        QTest::newRow("tab and LF anywhere") << "\t1\n2\t" << 12.0;
        QTest::newRow("CR is not ignored") << "1\r2" << 1.0;
        QTest::newRow("negative") << "-5" << -5.0;
        QTest::newRow("sign then space") << "- 5" << -5.0;
        QTest::newRow("plus") << "+9" << 9.0;
        QTest::newRow("fraction") << "1.5" << 1.5;
        QTest::newRow("four-character fraction") << "0.50" << 0.5;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("second point ends") << "1.5.3" << 1.5;
        QTest::newRow("comma ends") << "1,5" << 1.0;
        QTest::newRow("exponent") << "9E3" << 9000.0;
        QTest::newRow("small e") << "2e2" << 200.0;
        QTest::newRow("negative exponent") << "25E-1" << 2.5;
        QTest::newRow("exponent without digits") << "7E" << 7.0;
        QTest::newRow("exponent sign only") << "7E+" << 7.0;
        QTest::newRow("spaces inside exponent") << "1 E 2" << 100.0;
        QTest::newRow("sign alone") << "-" << 0.0;
        QTest::newRow("point alone") << "." << 0.0;
        QTest::newRow("double sign") << "--5" << 0.0;
        QTest::newRow("letter E first") << "E5" << 0.0;
        QTest::newRow("huge") << "9E99" << 9e99;
        QTest::newRow("overflow") << "-9E999" << -std::numeric_limits<double>::infinity();
        QTest::newRow("underflow") << "1E-999" << 0.0;
    }
    void value() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(numericValue(text), expected);
        QCOMPARE(numericValue(text.toLatin1()), expected);
    }

    void bytesAboveAscii() {
        QCOMPARE(numericValue(QByteArray("\xff"
                                         "12")),
                 0.0);
        QCOMPARE(numericValue(QByteArray("12\xff")), 12.0);
    }

    void whole_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<int>("expected");
        QTest::newRow("whole") << 64.0 << true << 64;
        QTest::newRow("half to even down") << 2.5 << true << 2;
        QTest::newRow("half to even up") << 3.5 << true << 4;
        QTest::newRow("negative half") << -0.5 << true << 0;
        QTest::newRow("negative one and a half") << -1.5 << true << -2;
        QTest::newRow("nearest") << 2.6 << true << 3;
        QTest::newRow("max") << 2147483647.0 << true << std::numeric_limits<int>::max();
        QTest::newRow("min") << -2147483648.0 << true << std::numeric_limits<int>::min();
        QTest::newRow("above max") << 2147483648.0 << false << 0;
        QTest::newRow("huge") << 9e99 << false << 0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false << 0;
    }
    void whole() {
        QFETCH(double, value);
        QFETCH(bool, fits);
        QFETCH(int, expected);
        const std::optional<qint32> result = wholeNumber(value);
        QCOMPARE(result.has_value(), fits);
        if (fits)
            QCOMPARE(*result, expected);
    }

    void fourDigits_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("64") << 64.0 << "0064";
        QTest::newRow("0") << 0.0 << "0000";
        QTest::newRow("1984") << 1984.0 << "1984";
        QTest::newRow("five digits") << 12345.0 << "12345";
        QTest::newRow("negative") << -5.0 << "-0005";
        QTest::newRow("half to even") << 2.5 << "0002";
        QTest::newRow("rounds up") << 127.5 << "0128";
        QTest::newRow("negative zero") << -0.4 << "0000";
        QTest::newRow("huge") << 9e20 << "900000000000000000000";
    }
    void fourDigits() {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(fourDigitForm(value), expected);
    }
};

QTEST_GUILESS_MAIN(TestNumeric)
#include "tst_numeric.moc"
