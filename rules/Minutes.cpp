#include "rules/Minutes.h"

#include <cmath>
#include <limits>

namespace horavo {

namespace {

qint64 roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    constexpr double limit = 9.2e18;
    if (value >= limit || value <= -limit)
        return value > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    // The default floating-point rounding mode rounds ties to even.
    return static_cast<qint64>(std::nearbyint(value));
}

} // namespace

void MinutesTotal::add(qint64 minutes)
{
    if (overflowed_)
        return;
    if (__builtin_add_overflow(sum_, minutes, &sum_)) {
        sum_ = minutes > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
        overflowed_ = true;
    }
}

QString totalTooLargeText()
{
    return QStringLiteral("使用时间的总和超出了能计算的范围，显示的是能表示的最大值。请检查使用记录中的数值。");
}

qint64 minutesOf(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return 0;
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
        return value.toLongLong();
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Double:
    case QMetaType::Float:
        return roundHalfEven(value.toDouble());
    default:
        break;
    }
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return 0;
    bool whole = false;
    const qint64 asWhole = text.toLongLong(&whole);
    if (whole)
        return asWhole;
    bool number = false;
    const double asNumber = text.toDouble(&number);
    return number ? roundHalfEven(asNumber) : 0;
}

} // namespace horavo
