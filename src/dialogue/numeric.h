#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Numeric value of a text: spaces, tabs and line feeds are ignored wherever they stand; then an
// optional sign, digits, optionally a point and more digits, optionally an exponent (E, an
// optional sign, digits), read up to the first character that cannot continue the number.
// A text that does not begin with a number is 0. The point is the decimal mark whatever the
// process locale (LC_NUMERIC) says; an overflow is infinite and an underflow 0, as with strtod.
double numericValue(QStringView text);
double numericValue(QByteArrayView text);

// Nearest whole number, halves to the even neighbour; nothing when it does not fit 32 bits.
std::optional<qint32> wholeNumber(double value);

// The value as a whole number (halves to even) with at least four digits, zeros in front,
// a minus sign in front of those when negative: 64 -> "0064", -5 -> "-0005".
QString fourDigitForm(double value);
