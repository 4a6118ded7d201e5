#include <gtest/gtest.h>

#include <clocale>
#include <limits>

#include <QLocale>

#include "rules/Minutes.h"
#include "rules/NumberFormat.h"
#include "rules/UnitPrice.h"

using horavo::formatDouble;
using horavo::formatSingle;

TEST(NumberFormat, GeneralFormWithoutSeparatorsOrTrailingZeros)
{
    EXPECT_EQ(formatDouble(3.0), QStringLiteral("3"));
    EXPECT_EQ(formatDouble(1234567.0), QStringLiteral("1234567"));
    EXPECT_EQ(formatDouble(0.5), QStringLiteral("0.5"));
    EXPECT_EQ(formatDouble(-2.5), QStringLiteral("-2.5"));
    EXPECT_EQ(formatDouble(-0.25), QStringLiteral("-0.25"));
    EXPECT_EQ(formatDouble(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(formatSingle(1.0f / 3.0f), QStringLiteral("0.3333333"));
    EXPECT_EQ(formatDouble(1.0 / 3.0), QStringLiteral("0.333333333333333"));
    EXPECT_EQ(formatDouble(2.0 / 3.0), QStringLiteral("0.666666666666667"));
    EXPECT_EQ(formatSingle(2.5f), QStringLiteral("2.5"));
}

TEST(NumberFormat, ZeroHasNoSign)
{
    EXPECT_EQ(formatDouble(0.0), QStringLiteral("0"));
    EXPECT_EQ(formatDouble(-0.0), QStringLiteral("0"));
    EXPECT_EQ(formatSingle(-0.0f), QStringLiteral("0"));
}

TEST(NumberFormat, ExponentFormBeyondTheDigitsTheFormatHolds)
{
    EXPECT_EQ(formatDouble(999999999999999.0), QStringLiteral("999999999999999"));
    EXPECT_EQ(formatDouble(123456789012345.6), QStringLiteral("123456789012346"));
    EXPECT_EQ(formatDouble(1e15), QStringLiteral("1E+15"));
    EXPECT_EQ(formatDouble(1e16), QStringLiteral("1E+16"));
    EXPECT_EQ(formatDouble(1.5e20), QStringLiteral("1.5E+20"));
    EXPECT_EQ(formatSingle(9999999.0f), QStringLiteral("9999999"));
    EXPECT_EQ(formatSingle(1e7f), QStringLiteral("1E+07"));
    EXPECT_EQ(formatDouble(0.0001), QStringLiteral("0.0001"));
    EXPECT_EQ(formatDouble(0.00001), QStringLiteral("1E-05"));
    EXPECT_EQ(formatDouble(-1.25e-7), QStringLiteral("-1.25E-07"));
}

TEST(NumberFormat, NotANumberAndInfinities)
{
    EXPECT_EQ(formatDouble(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("NaN"));
    EXPECT_EQ(formatDouble(std::numeric_limits<double>::infinity()), QStringLiteral("Infinity"));
    EXPECT_EQ(formatSingle(-std::numeric_limits<float>::infinity()), QStringLiteral("-Infinity"));
}

TEST(NumberFormat, DecimalPointWhateverTheLocale)
{
    // Qt's default locale, and the C locale where a comma-decimal one is installed.
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    const QLocale previousDefault;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    EXPECT_EQ(formatDouble(1234.5), QStringLiteral("1234.5"));
    EXPECT_EQ(formatDouble(1234567.25), QStringLiteral("1234567.25"));
    EXPECT_EQ(formatSingle(0.035f), QStringLiteral("0.035"));

    QLocale::setDefault(previousDefault);
    std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST(Minutes, EmptyValuesCountZero)
{
    EXPECT_EQ(horavo::minutesOf(QVariant()), 0);
    EXPECT_EQ(horavo::minutesOf(QVariant(QMetaType(QMetaType::LongLong))), 0);
    EXPECT_EQ(horavo::minutesOf(QString()), 0);
    EXPECT_EQ(horavo::minutesOf(QStringLiteral("  ")), 0);
    EXPECT_EQ(horavo::minutesOf(QStringLiteral("abc")), 0);
}

TEST(Minutes, ATotalStaysAtTheLargestValueAndSaysItOverflowed)
{
    horavo::MinutesTotal total;
    total.add(std::numeric_limits<qint64>::max() - 1);
    EXPECT_FALSE(total.overflowed());
    total.add(5);
    EXPECT_TRUE(total.overflowed());
    EXPECT_EQ(total.value(), std::numeric_limits<qint64>::max());
    total.add(-10);
    EXPECT_EQ(total.value(), std::numeric_limits<qint64>::max()) << "an overflowed total stays where it stopped";

    horavo::MinutesTotal negative;
    negative.add(std::numeric_limits<qint64>::min());
    negative.add(-1);
    EXPECT_TRUE(negative.overflowed());
    EXPECT_EQ(negative.value(), std::numeric_limits<qint64>::min());
}

TEST(UnitPrice, NeverInfinityOrNotANumberWhateverTheFileHolds)
{
    EXPECT_EQ(horavo::unitPrice(2.5), 2.5f);
    EXPECT_EQ(horavo::unitPrice(1e40), horavo::kFallbackPrice);
    EXPECT_EQ(horavo::unitPrice(std::numeric_limits<double>::infinity()), horavo::kFallbackPrice);
    EXPECT_EQ(horavo::unitPrice(std::numeric_limits<double>::quiet_NaN()), horavo::kFallbackPrice);
    EXPECT_EQ(horavo::unitPrice(QStringLiteral("1e39")), horavo::kFallbackPrice);
    EXPECT_EQ(horavo::unitPrice(-1.0), horavo::kFallbackPrice);
    EXPECT_EQ(horavo::unitPrice(QVariant()), horavo::kFallbackPrice);
    EXPECT_EQ(horavo::unitPrice(3.4e38), 3.4e38f);
}

TEST(Minutes, NumbersAndNumberTexts)
{
    EXPECT_EQ(horavo::minutesOf(qlonglong(40000)), 40000);
    EXPECT_EQ(horavo::minutesOf(qlonglong(-5)), -5);
    EXPECT_EQ(horavo::minutesOf(qlonglong(5000000000LL)), 5000000000LL);
    EXPECT_EQ(horavo::minutesOf(QStringLiteral(" 12 ")), 12);
    EXPECT_EQ(horavo::minutesOf(QStringLiteral("7.5")), 8);
    // Half-way fractions go to the even neighbour.
    EXPECT_EQ(horavo::minutesOf(2.5), 2);
    EXPECT_EQ(horavo::minutesOf(3.5), 4);
    EXPECT_EQ(horavo::minutesOf(-2.5), -2);
    EXPECT_EQ(horavo::minutesOf(2.6), 3);
}
