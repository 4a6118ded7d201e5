#include "rules/Amount.h"

#include <cmath>

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

double hoursOf(qint64 minutes)
{
    return static_cast<double>(minutes) / 60.0;
}

} // namespace horavo
