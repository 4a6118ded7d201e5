#pragma once

#include <QVariant>

namespace tallyon {

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

} // namespace tallyon
