#include "UnitPrice.h"

#include "RecordSet.h"
#include "Session.h"

namespace tallyon {

float unitPriceFromFirstAccount(const store::RecordSet& accounts)
{
    if (accounts.atEnd())
        return kFallbackPrice;
    const QVariant price = accounts.value(QStringLiteral("price"));
    bool number = false;
    const double value = price.isNull() ? 0.0 : price.toDouble(&number);
    if (!number || !(value > 0.0))
        return kFallbackPrice;
    return static_cast<float>(value);
}

} // namespace tallyon
