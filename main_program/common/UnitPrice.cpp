#include "main_program/common/UnitPrice.h"

namespace tallyon {

float unitPrice(const QVariant& price)
{
    bool number = false;
    const double value = price.isNull() ? 0.0 : price.toDouble(&number);
    if (!number || !(value > 0.0))
        return kFallbackPrice;
    return static_cast<float>(value);
}

} // namespace tallyon
