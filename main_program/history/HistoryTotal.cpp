#include "main_program/history/HistoryTotal.h"

#include <cstdint>
#include <limits>

#include "rules/Amount.h"
#include "rules/NumberFormat.h"

namespace tallyon {

namespace {

bool fits16(qint64 value)
{
    return value >= std::numeric_limits<std::int16_t>::min() && value <= std::numeric_limits<std::int16_t>::max();
}

} // namespace

void HistoryTotal::add(qint64 minutes)
{
    // A single row beyond 16 bits widens the total like a sum beyond it does; the count
    // stays exact either way.
    if (!fits16(minutes))
        wide_ = true;
    sum_.add(minutes);
    if (!fits16(sum_.value()))
        wide_ = true;
}

QString HistoryTotal::minutesText() const
{
    return QString::number(sum_.value());
}

QString HistoryTotal::amountText(float gprice) const
{
    if (wide_)
        return horavo::formatDouble(horavo::amountOf(sum_.value(), gprice));
    return horavo::formatSingle(horavo::singlePrecisionAmountOf(static_cast<qint16>(sum_.value()), gprice));
}

} // namespace tallyon
