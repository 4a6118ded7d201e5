#pragma once

#include <QVariant>

namespace tallyon {

// The minute of the usage count: the timer window's tick, in milliseconds.
inline constexpr int kMinuteMs = 60000;

// The whole minutes a usage row's `itime` holds. A row without a value (NULL or empty
// text) counts 0, as does text that is no number; a fraction is rounded half to even.
qint64 minutesOf(const QVariant& value);

} // namespace tallyon
