#include "rules/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace horavo {

QString formatGeneral(double value, int significantDigits)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0.0)
        return QStringLiteral("0");

    // to_chars does not depend on the process locale (Qt sets it from the environment),
    // and its general form is the one wanted: trailing zeros dropped, exponent form only
    // when the number needs more digits than it may show or is below 1E-04.
    std::array<char, 64> buffer{};
    const int digits = std::clamp(significantDigits, 1, 17);
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, digits);
    QString text = QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
    text.replace(QLatin1Char('e'), QLatin1Char('E'));
    return text;
}

QString formatDouble(double value)
{
    return formatGeneral(value, 15);
}

QString formatSingle(float value)
{
    return formatGeneral(static_cast<double>(value), 7);
}

} // namespace horavo
