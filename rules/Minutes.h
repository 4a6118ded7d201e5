#pragma once

#include <cstddef>

#include <QVariant>

namespace horavo {

// The minute of the usage count: the timer window's tick, in milliseconds.
inline constexpr int kMinuteMs = 60000;

// The whole minutes a usage row's `itime` holds. A row without a value (NULL or empty
// text) counts 0, as does text that is no number; a fraction is rounded half to even.
qint64 minutesOf(const QVariant& value);

// A total of minutes in 64 bits that never overflows: a sum beyond the range stays at
// the largest (or smallest) value and says that it did.
class MinutesTotal {
public:
    void add(qint64 minutes);
    qint64 value() const { return sum_; }
    bool overflowed() const { return overflowed_; }

private:
    qint64 sum_ = 0;
    bool overflowed_ = false;
};

// What a window says when a total overflowed and it shows the largest value instead.
QString totalTooLargeText();

// Adds to total (a MinutesTotal, or what has its add) the minutes of every row of rows,
// a record set of usage rows, from the first on: the field named field, as minutesOf
// reads it.
template <class Total, class Rows>
void addMinutesOfRows(Total& total, Rows& rows, const QString& field)
{
    const std::size_t count = rows.rowCount();
    rows.first();
    for (std::size_t i = 0; i < count; ++i) {
        total.add(minutesOf(rows.value(field)));
        rows.next();
    }
}

} // namespace horavo
