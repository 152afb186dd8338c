#pragma once

#include <QByteArray>
#include <QTest>

#include <clocale>
#include <cstring>

// Some tests run a second time under the decimal-comma locale $DECODUMP_TEST_LOCALE, made in the
// build tree (tests/CMakeLists.txt). Such a run proves something only if the C library's decimal
// point really is a comma once the application object exists.
inline void verifyTestLocale() {
    if (!qEnvironmentVariableIsEmpty("DECODUMP_TEST_LOCALE"))
        QVERIFY2(std::strcmp(std::localeconv()->decimal_point, ",") == 0,
                 std::setlocale(LC_NUMERIC, nullptr));
}
