#include <gtest/gtest.h>

#include "main_program/history/HistoryTotal.h"

using tallyon::HistoryTotal;

namespace {

HistoryTotal totalOf(std::initializer_list<qint64> rows)
{
    HistoryTotal total;
    for (qint64 minutes : rows)
        total.add(minutes);
    return total;
}

} // namespace

TEST(HistoryTotal, StaysSixteenBitWithinItsRange)
{
    const auto total = totalOf({30000, 2767});
    EXPECT_FALSE(total.wide());
    EXPECT_EQ(total.minutesText(), QStringLiteral("32767"));
    // Single precision: 32767 × 0.3 is 9830.1 as a float, 163.835 after the division.
    EXPECT_EQ(total.amountText(0.3f), QStringLiteral("163.835"));
    EXPECT_EQ(totalOf({-32768}).wide(), false);
}

TEST(HistoryTotal, WidensOnceTheSumLeavesSixteenBitsAndStaysWide)
{
    const auto total = totalOf({30000, 2768, -100});
    EXPECT_TRUE(total.wide());
    EXPECT_EQ(total.minutesText(), QStringLiteral("32668"));
    // Double precision with 15 digits now: 32668 × 0.30000001192092896 / 60.
    EXPECT_EQ(total.amountText(0.3f), QStringLiteral("163.340006490548"));
}

TEST(HistoryTotal, LargeTotalsStayExact)
{
    const auto total = totalOf({3000000000LL, 3000000000LL, 1});
    EXPECT_EQ(total.minutesText(), QStringLiteral("6000000001"));
    EXPECT_EQ(total.amountText(1.0f), QStringLiteral("100000000.016667"));
}
