#pragma once

#include <optional>

#include <QString>
#include <QtGlobal>

namespace horavo {

// What minutes of use cost at a unit price in yuan per hour: price × minutes / 60, in
// double precision. The records window and the report show it so, in the number format's
// 15 digits; the history window too once its total has left 16 bits. A product beyond
// double's range is worked out again in long double, so that only the amount itself must
// fit; an amount that does not is infinite.
double amountOf(qint64 minutes, double pricePerHour);

// The same worked out in single precision on a 16-bit count, as the history window does
// while its total fits one: the product is rounded to single precision before the
// division, so 100 minutes at 0.3 cost 0.5000001.
float singlePrecisionAmountOf(qint16 minutes, float pricePerHour);

// What minutes of use cost at a price in yuan per hour written as a decimal number (the
// price as a bill states it: "0.3", "2.25", "1E-05"), rounded to the fen: the exact
// amount price x minutes / 60, worked out in whole numbers, rounded half away from zero.
// So 1 minute at 0.3 costs 0.005 yuan exactly and bills 0.01, where the double
// 0.004999999... would round to 0. Written with two decimals ("12.35", "-0.01", "0.00").
// nullopt when price is not a decimal number or the amount in fen exceeds 128 bits.
std::optional<QString> amountInFen(qint64 minutes, const QString& pricePerHour);

// The hours that minutes make, in double precision.
double hoursOf(qint64 minutes);

} // namespace horavo
