#include "numeric.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

// The power of ten of the first non-zero digit of a number whose parsing fell out of range,
// plus its exponent: above zero it overflowed, below zero it underflowed. (The two limits lie
// some 600 powers of ten apart, so any estimate of the order of magnitude tells them apart.)
long long magnitude(std::string_view mantissa, std::string_view exponent) {
    long long lead = 0;
    long long wholeDigits = 0;
    long long fractionDigits = 0;
    bool fraction = false;
    bool seenNonZero = false;
    for (const char c : mantissa) {
        if (c == '.') {
            fraction = true;
        } else if (isDigit(static_cast<unsigned char>(c))) {
            seenNonZero = seenNonZero || c != '0';
            if (!fraction && seenNonZero)
                ++wholeDigits;
            if (fraction)
                ++fractionDigits;
            if (fraction && seenNonZero && wholeDigits == 0 && lead == 0)
                lead = -fractionDigits;
        }
    }
    if (wholeDigits > 0)
        lead = wholeDigits - 1;
    // Saturated: an exponent of a million already decides the matter either way.
    constexpr long long Saturation = 1'000'000;
    long long power = 0;
    for (const char c : exponent) {
        if (isDigit(static_cast<unsigned char>(c)))
            power = std::min(power * 10 + (c - '0'), Saturation);
    }
    return lead + (exponent.starts_with('-') ? -power : power);
}

// Reads the leading number of the text (blanks dropped). Parsed with std::from_chars, which
// reads "." as the decimal point whatever the process locale (LC_NUMERIC) says, unlike strtod.
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
    const bool negative = number.front() == '-';
    // from_chars takes no plus sign.
    const std::string_view mantissa =
        std::string_view(number).substr(number.front() == '+' || negative ? 1 : 0);
    const bool exponentDigits =
        !exponent.empty() && isDigit(static_cast<unsigned char>(exponent.back()));
    std::string plain(mantissa);
    if (exponentDigits)
        plain += 'e' + exponent;
    double value = 0.0;
    const std::from_chars_result parsed =
        std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (parsed.ec == std::errc::result_out_of_range) {
        // strtod's answers: infinity for an overflow, zero for an underflow.
        value = magnitude(mantissa,
                          exponentDigits ? std::string_view(exponent) : std::string_view()) > 0
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    }
    return negative ? -value : value;
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
