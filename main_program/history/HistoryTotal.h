#pragma once

#include <QString>

#include "rules/Minutes.h"

namespace tallyon {

// The minute total of the history window. It starts as a 16-bit count and widens for
// good once a row or the sum leaves −32768..32767; while narrow, the amount is worked out
// and written in single precision, once wide in double precision.
class HistoryTotal {
public:
    void add(qint64 minutes);

    qint64 minutes() const { return sum_.value(); }
    bool overflowed() const { return sum_.overflowed(); }
    bool wide() const { return wide_; }

    QString minutesText() const;              // plain decimal digits
    QString amountText(float gprice) const;   // gprice × minutes / 60

private:
    horavo::MinutesTotal sum_;
    bool wide_ = false;
};

} // namespace tallyon
