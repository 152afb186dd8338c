#include "numeric.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

namespace {

bool ignored(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char32_t c) {
    return c >= '0' && c <= '9';
}

// Copies the leading number of the text (blanks dropped) into a C-locale string for strtod.
double leadingNumber(std::u32string_view text) {
    std::string number;
    enum class Stage { Sign, Mantissa, Fraction, ExponentSign, Exponent } stage = Stage::Sign;
    bool mantissaDigits = false;
    std::string exponent;
    for (const char32_t c : text) {
        if (ignored(c))
            continue;
        if (stage == Stage::Sign) {
            stage = Stage::Mantissa;
            if (c == '+' || c == '-') {
                number += static_cast<char>(c);
                continue;
            }
        }
        if (stage == Stage::Mantissa || stage == Stage::Fraction) {
            if (isDigit(c)) {
                number += static_cast<char>(c);
                mantissaDigits = true;
                continue;
            }
            if (c == '.' && stage == Stage::Mantissa) {
                number += '.';
                stage = Stage::Fraction;
                continue;
            }
            if ((c == 'E' || c == 'e') && mantissaDigits) {
                stage = Stage::ExponentSign;
                continue;
            }
            break;
        }
        if (stage == Stage::ExponentSign) {
            stage = Stage::Exponent;
            if (c == '+' || c == '-') {
                exponent += static_cast<char>(c);
                continue;
            }
        }
        if (isDigit(c)) {
            exponent += static_cast<char>(c);
            continue;
        }
        break;
    }
    if (!mantissaDigits)
        return 0.0;
    if (!exponent.empty() && isDigit(static_cast<unsigned char>(exponent.back())))
        number += 'e' + exponent;
    return std::strtod(number.c_str(), nullptr);
}

} // namespace

double numericValue(QStringView text) {
    std::u32string units;
    units.reserve(static_cast<size_t>(text.size()));
    for (const QChar ch : text)
        units += static_cast<char32_t>(ch.unicode());
    return leadingNumber(units);
}

double numericValue(QByteArrayView text) {
    std::u32string units;
    units.reserve(static_cast<size_t>(text.size()));
    for (const char ch : text)
        units += static_cast<char32_t>(static_cast<unsigned char>(ch));
    return leadingNumber(units);
}

std::optional<qint32> wholeNumber(double value) {
    const double rounded = std::nearbyint(value); // round-to-nearest mode: halves go to even
    if (!(rounded >= std::numeric_limits<qint32>::min() &&
          rounded <= std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return static_cast<qint32>(rounded);
}

QString fourDigitForm(double value) {
    const double rounded = std::nearbyint(value);
    if (!std::isfinite(rounded))
        return rounded < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");
    QString digits = QString::number(std::fabs(rounded), 'f', 0);
    if (digits.size() < 4)
        digits.prepend(QString(4 - digits.size(), QLatin1Char('0')));
    return rounded < 0 ? QLatin1Char('-') + digits : digits;
}
