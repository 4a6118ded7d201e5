#include "rules/UnitPrice.h"

#include <limits>

namespace horavo {

float unitPrice(const QVariant& price)
{
    bool number = false;
    const double value = price.isNull() ? 0.0 : price.toDouble(&number);
    // Beyond single precision a price would become infinity, and every amount with it.
    if (!number || !(value > 0.0) || !(value <= static_cast<double>(std::numeric_limits<float>::max())))
        return kFallbackPrice;
    return static_cast<float>(value);
}

} // namespace horavo
