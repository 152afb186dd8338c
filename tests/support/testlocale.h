#pragma once

#include <QByteArray>
#include <QTest>

#include <clocale>
#include <cstring>

// Some tests run a second time under a decimal-comma locale of the C library, made in the build
// tree ($DECODUMP_TEST_LOCALE names it; see tests/CMakeLists.txt). Such a run only proves
// something when that locale is really in force once the application object exists.
inline void verifyTestLocale() {
    const QByteArray wanted = qgetenv("DECODUMP_TEST_LOCALE");
    if (wanted.isEmpty())
        return;
    const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
    QVERIFY2(numeric && wanted == numeric,
             qPrintable(QStringLiteral("LC_NUMERIC is %1, not %2")
                            .arg(QString::fromLatin1(numeric ? numeric : "unset"),
                                 QString::fromLatin1(wanted))));
    QVERIFY2(std::strcmp(std::localeconv()->decimal_point, ",") == 0,
             std::localeconv()->decimal_point);
}
