// Fuzz target for the numeric helpers: the numeric value of a text, its whole number and its
// four-digit form, checked against the properties they must keep for every text.

#include "fuzzcheck.h"
#include "numeric.h"

#include <QByteArray>
#include <QString>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

// Longer texts add nothing that a short one cannot reach and only slow the run down.
constexpr size_t MaxText = 512;
// Up to this many decimal digits a whole number is exact in a double.
constexpr qsizetype MaxExactDigits = 15;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The same double, bit for bit (0 and -0 differ).
bool sameValue(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

QByteArray withoutBlanks(const QByteArray& text) {
    QByteArray kept;
    for (const char c : text) {
        if (!isBlank(c))
            kept += c;
    }
    return kept;
}

// A leading run of digits (after an optional sign) that nothing but a non-number character
// follows has exactly the value of those digits.
void checkLeadingDigits(const QByteArray& text, double value) {
    const QByteArray packed = withoutBlanks(text);
    qsizetype pos = 0;
    bool negative = false;
    if (pos < packed.size() && (packed[pos] == '+' || packed[pos] == '-')) {
        negative = packed[pos] == '-';
        ++pos;
    }
    const qsizetype start = pos;
    double digits = 0;
    while (pos < packed.size() && isDigit(packed[pos])) {
        digits = digits * 10 + (packed[pos] - '0');
        ++pos;
    }
    const qsizetype count = pos - start;
    if (count == 0) {
        if (pos == packed.size() || (packed[pos] != '.'))
            fuzzCheck(value == 0, "a text that does not begin with a number is 0");
        return;
    }
    if (count > MaxExactDigits)
        return;
    if (pos < packed.size()) {
        const char next = packed[pos];
        if (next == '.' || next == 'e' || next == 'E')
            return;
    }
    fuzzCheck(value == (negative ? -digits : digits),
              "digits followed by no more number have the value of the digits");
}

// Units above Latin-1 can neither be ignored nor continue a number: they end it like any
// letter other than E would.
void checkWideText(const std::uint8_t* data, size_t size) {
    QString wide;
    QByteArray narrow;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        wide += QChar(unit);
        narrow += unit > 0xff ? 'x' : static_cast<char>(unit);
    }
    fuzzCheck(sameValue(numericValue(QStringView(wide)), numericValue(QByteArrayView(narrow))),
              "a unit above Latin-1 ends the number like a letter");
}

void checkWholeNumber(double value) {
    const std::optional<qint32> whole = wholeNumber(value);
    if (value >= std::numeric_limits<qint32>::min() && value <= std::numeric_limits<qint32>::max())
        fuzzCheck(whole.has_value(), "a value within 32 bits has a whole number");
    if (!whole)
        return;
    const double distance = std::fabs(double(*whole) - value);
    fuzzCheck(distance <= 0.5, "the whole number is the nearest one");
    if (distance == 0.5)
        fuzzCheck(*whole % 2 == 0, "a value halfway between goes to the even neighbour");
}

void checkFourDigitForm(double value) {
    if (!std::isfinite(value))
        return;
    const QString form = fourDigitForm(value);
    const qsizetype start = form.startsWith(QLatin1Char('-')) ? 1 : 0;
    fuzzCheck(form.size() - start >= 4, "the four-digit form has at least four digits");
    for (qsizetype i = start; i < form.size(); ++i)
        fuzzCheck(form[i] >= QLatin1Char('0') && form[i] <= QLatin1Char('9'),
                  "the four-digit form holds only digits after the sign");
    const double rounded = std::nearbyint(value);
    fuzzCheck(start == 0 || rounded < 0, "only a negative value has a minus sign");
    fuzzCheck(numericValue(form) == rounded, "the four-digit form reads back as the whole value");

    if (const std::optional<qint32> whole = wholeNumber(value)) {
        const QString digits = QString::number(std::abs(qint64(*whole)));
        const QString expected = (*whole < 0 ? QStringLiteral("-") : QString()) +
                                 digits.rightJustified(4, QLatin1Char('0'));
        fuzzCheck(form == expected, "the four-digit form is the whole number, zero-filled");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size > MaxText)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const double value = numericValue(QByteArrayView(text));

    fuzzCheck(!std::isnan(value), "a numeric value is never NaN");
    fuzzCheck(sameValue(value, numericValue(QStringView(QString::fromLatin1(text)))),
              "bytes and their Latin-1 text have the same value");
    fuzzCheck(sameValue(value, numericValue(QByteArrayView(" \t\n" + text))),
              "blanks in front change nothing");
    fuzzCheck(sameValue(value, numericValue(QByteArrayView(withoutBlanks(text)))),
              "blanks anywhere change nothing");
    if (size > 0) {
        QByteArray spaced = text;
        spaced.insert(data[0] % (size + 1), " \t\n"[data[0] % 3]);
        fuzzCheck(sameValue(value, numericValue(QByteArrayView(spaced))),
                  "a blank inserted anywhere changes nothing");
    }

    checkLeadingDigits(text, value);
    checkWideText(data, size);
    checkWholeNumber(value);
    checkFourDigitForm(value);
    return 0;
}
