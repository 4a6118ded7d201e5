#include "rules/Amount.h"

namespace horavo {

double amountOf(qint64 minutes, double pricePerHour)
{
    return static_cast<double>(minutes) * pricePerHour / 60.0;
}

float singlePrecisionAmountOf(qint16 minutes, float pricePerHour)
{
    const float product = static_cast<float>(minutes) * pricePerHour;
    return product / 60.0f;
}

double hoursOf(qint64 minutes)
{
    return static_cast<double>(minutes) / 60.0;
}

} // namespace horavo
