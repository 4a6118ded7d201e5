#pragma once

#include <QVariant>

namespace horavo {

// A price not greater than 0, or with no value, counts as 0.3 yuan per hour.
inline constexpr float kFallbackPrice = 0.3f;

// The unit price in yuan per hour that a `knumber`.`price` value gives, in single
// precision: the value itself when it is a number above 0 that single precision holds,
// else the fallback. Never infinity or not-a-number, whatever the file holds.
float unitPrice(const QVariant& price);

// Whether a `knumber`.`useyn` value marks the account in use: yes, not no or no value.
inline bool isInUse(const QVariant& useyn)
{
    return !useyn.isNull() && useyn.toBool();
}

// The unit price a dial takes from accounts, a record set of knumber's rows: that of the
// first account in use, else the fallback.
template <class Accounts>
float priceOfTheAccountInUse(Accounts& accounts)
{
    for (accounts.first(); !accounts.atEnd(); accounts.next()) {
        if (isInUse(accounts.value(QStringLiteral("useyn"))))
            return unitPrice(accounts.value(QStringLiteral("price")));
    }
    return kFallbackPrice;
}

} // namespace horavo
