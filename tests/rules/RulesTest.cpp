#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <random>

#include "rules/Amount.h"
#include "rules/DateText.h"
#include "rules/NumberFormat.h"
#include "rules/Permission.h"

using namespace horavo;

TEST(Amount, PriceTimesMinutesOverSixtyInEachPrecision)
{
    // Double precision, as the records window and the report write it. The windows' price
    // is single precision (0.3f is 0.30000001192092896); the report's may be decimal.
    const struct { qint64 minutes; double price; const char* text; } wide[] = {
        {100, 0.3f, "0.500000019868215"}, {100, 0.3, "0.5"}, {0, 0.3f, "0"}, {90, 2.0, "3"},
        {100, 2.0, "3.33333333333333"}, {135, 1.0, "2.25"}, {-30, 2.0, "-1"},
        {6000000001LL, 1.0, "100000000.016667"}};
    for (const auto& c : wide)
        EXPECT_EQ(formatDouble(amountOf(c.minutes, c.price)), QLatin1StringView(c.text)) << c.minutes << " at " << c.price;

    // Single precision, as the history window works it out on a 16-bit total: the product
    // is rounded to single precision before the division (0.5000001, not 0.5).
    const struct { qint16 minutes; const char* text; } narrow[] = {
        {60, "0.3"}, {100, "0.5000001"}, {7, "0.035"}, {32767, "163.835"}, {-32768, "-163.84"}};
    for (const auto& c : narrow)
        EXPECT_EQ(formatSingle(singlePrecisionAmountOf(c.minutes, 0.3f)), QLatin1StringView(c.text)) << c.minutes;

    EXPECT_EQ(formatDouble(hoursOf(30001)), QStringLiteral("500.016666666667"));
}

// The amount rounded to the fen against whole-number arithmetic of its own: a price of
// at most three decimals is thousandths, so minutes x thousandths / 600 is the amount in
// fen exactly, rounded here half away from zero by comparing twice the remainder.
TEST(Amount, RoundedToTheFenFromTheExactAmountHalfAwayFromZero)
{
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 20000; ++i) {
        const qint64 minutes = qint64(random() % 2000001) - 1000000;
        const qint64 thousandths = qint64(random() % 100000) + 1;
        const QString price = formatDouble(double(thousandths) / 1000.0);
        const qint64 product = minutes * thousandths;
        qint64 fen = product / 600;
        if (2 * std::abs(product % 600) >= 600)
            fen += product < 0 ? -1 : 1;
        const QString expected = QStringLiteral("%1%2.%3")
                                     .arg(product < 0 && fen != 0 ? QStringLiteral("-") : QString())
                                     .arg(std::abs(fen) / 100)
                                     .arg(std::abs(fen) % 100, 2, 10, QLatin1Char('0'));
        ASSERT_EQ(amountInFen(minutes, price), expected) << minutes << " minutes at " << price.toStdString();
    }
    // Halves that the double amount misses: 0.3 / 60 is 0.00499999... in double.
    EXPECT_EQ(amountInFen(1, QStringLiteral("0.3")), QStringLiteral("0.01"));
    EXPECT_EQ(amountInFen(-1, QStringLiteral("0.3")), QStringLiteral("-0.01"));
    EXPECT_EQ(amountInFen(1, QStringLiteral("0.2")), QStringLiteral("0.00"));
    // The exponent forms the number format writes, and the extremes.
    EXPECT_EQ(amountInFen(60, QStringLiteral("1E-05")), QStringLiteral("0.00"));
    EXPECT_EQ(amountInFen(60, QStringLiteral("1.5E+20")), QStringLiteral("150000000000000000000.00"));
    EXPECT_EQ(amountInFen(std::numeric_limits<qint64>::max(), QStringLiteral("60")),
              QStringLiteral("9223372036854775807.00"));
    EXPECT_EQ(amountInFen(std::numeric_limits<qint64>::min(), QStringLiteral("0.6")),
              QStringLiteral("-92233720368547758.08"));
    EXPECT_EQ(amountInFen(1, QStringLiteral("1E-400")), QStringLiteral("0.00"));
    EXPECT_EQ(amountInFen(100, QStringLiteral("1E+308")), std::nullopt);
    EXPECT_EQ(amountInFen(100, QStringLiteral("Infinity")), std::nullopt);
    EXPECT_EQ(amountInFen(100, QStringLiteral("0.3x")), std::nullopt);
}

TEST(Permission, OnlyTheCodesOneToFourNameAPermission)
{
    EXPECT_EQ(permissionOf(1), Permission::Administrator);
    EXPECT_EQ(permissionOf(2), Permission::User);
    EXPECT_EQ(permissionOf(3), Permission::RemindedUser);
    EXPECT_EQ(permissionOf(4), Permission::NotAdmitted);
    for (qint64 unknown : {0LL, 5LL, -1LL, 65537LL})
        EXPECT_FALSE(permissionOf(unknown).has_value()) << unknown;
    EXPECT_EQ(codeOf(kSignUpPermission), 3);
}

TEST(DateText, StoredDatesAndTimesAreRealDaysAndTimesInTheirOneForm)
{
    for (const char* date : {"2024-02-29", "0001-01-01", "9999-12-31", "2000-02-29"})
        EXPECT_TRUE(isStoredDate(QString::fromLatin1(date))) << date;
    for (const char* date : {"2023-02-29", "1900-02-29", "2026-11-31", "0000-01-01", "-001-01-01", "+024-01-01",
                             "2024-1-01 ", " 024-01-01", "2024/01/01", "2024-01-01 ", ""})
        EXPECT_FALSE(isStoredDate(QString::fromLatin1(date))) << date;
    EXPECT_FALSE(isStoredDate(QStringLiteral("２０２４-01-01"))) << "digits of another script";

    for (const char* time : {"00:00:00", "23:59:59"})
        EXPECT_TRUE(isStoredTime(QString::fromLatin1(time))) << time;
    for (const char* time : {"24:00:00", "12:60:00", "23:59:60", "8:00:00", "+1:00:00", "08:00:0 ", "08-00-00"})
        EXPECT_FALSE(isStoredTime(QString::fromLatin1(time))) << time;
}
