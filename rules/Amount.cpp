#include "rules/Amount.h"

#include <cmath>
#include <string>

namespace horavo {

double amountOf(qint64 minutes, double pricePerHour)
{
    const double direct = static_cast<double>(minutes) * pricePerHour / 60.0;
    if (std::isfinite(direct) || !std::isfinite(pricePerHour))
        return direct;
    // The product left double's range though the amount may not: only a price near the
    // limit of double gets here.
    return static_cast<double>(static_cast<long double>(minutes) * pricePerHour / 60.0L);
}

float singlePrecisionAmountOf(qint16 minutes, float pricePerHour)
{
    const float product = static_cast<float>(minutes) * pricePerHour;
    return product / 60.0f;
}

namespace {

__extension__ typedef __int128 Wide;

// A decimal number as digits x 10^exponent.
struct Decimal {
    Wide digits = 0;
    int exponent = 0;
};

std::optional<Decimal> decimalOf(const QString& text)
{
    Decimal number;
    bool negative = false;
    bool anyDigit = false;
    bool afterPoint = false;
    qsizetype at = 0;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+'))
        negative = text[at++] == u'-';
    for (; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c == u'.' && !afterPoint) {
            afterPoint = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            break;
        anyDigit = true;
        if (__builtin_mul_overflow(number.digits, Wide(10), &number.digits)
            || __builtin_add_overflow(number.digits, Wide(c.unicode() - u'0'), &number.digits))
            return std::nullopt;
        if (afterPoint)
            --number.exponent;
    }
    if (!anyDigit)
        return std::nullopt;
    if (at < text.size() && (text[at] == u'E' || text[at] == u'e')) {
        bool ok = false;
        const int exponent = text.mid(at + 1).toInt(&ok);
        if (!ok)
            return std::nullopt;
        number.exponent += exponent;
        at = text.size();
    }
    if (at != text.size())
        return std::nullopt;
    while (number.digits != 0 && number.digits % 10 == 0) {
        number.digits /= 10;
        ++number.exponent;
    }
    if (negative)
        number.digits = -number.digits;
    return number;
}

std::optional<Wide> powerOfTen(int exponent)
{
    Wide power = 1;
    for (int i = 0; i < exponent; ++i) {
        if (__builtin_mul_overflow(power, Wide(10), &power))
            return std::nullopt;
    }
    return power;
}

Wide magnitude(Wide value)
{
    return value < 0 ? -value : value;
}

QString fenText(Wide fen)
{
    Wide rest = magnitude(fen);
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(rest % 10)));
        rest /= 10;
    } while (rest != 0);
    while (digits.size() < 3)
        digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - 2, '.');
    if (fen < 0)
        digits.insert(digits.begin(), '-');
    return QString::fromLatin1(digits.data(), qsizetype(digits.size()));
}

} // namespace

std::optional<QString> amountInFen(qint64 minutes, const QString& pricePerHour)
{
    const std::optional<Decimal> price = decimalOf(pricePerHour);
    if (!price)
        return std::nullopt;
    // fen = minutes x digits x 10^(exponent + 2) / 60, as numerator / denominator.
    Wide numerator = 0;
    if (__builtin_mul_overflow(Wide(minutes), price->digits, &numerator))
        return std::nullopt;
    Wide denominator = 60;
    const int shift = price->exponent + 2;
    if (shift >= 0) {
        const std::optional<Wide> scale = powerOfTen(shift);
        if (numerator != 0 && (!scale || __builtin_mul_overflow(numerator, *scale, &numerator)))
            return std::nullopt;
    } else {
        const std::optional<Wide> scale = powerOfTen(-shift);
        // A denominator beyond 128 bits exceeds any numerator twice over: under half a fen.
        if (!scale || __builtin_mul_overflow(denominator, *scale, &denominator))
            return fenText(0);
    }
    Wide fen = numerator / denominator; // toward zero
    const Wide remainder = magnitude(numerator % denominator);
    if (remainder >= denominator - remainder)
        fen += numerator < 0 ? -1 : 1;
    return fenText(fen);
}

double hoursOf(qint64 minutes)
{
    return static_cast<double>(minutes) / 60.0;
}

} // namespace horavo
