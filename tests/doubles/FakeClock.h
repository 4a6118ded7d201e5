#pragma once

#include "platform/Clock.h"

namespace doubles {

class FakeClock final : public platform::Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)))
        : now_(std::move(start)) {}
    QDateTime now() const override { return now_; }
    void advanceMinutes(int minutes) { now_ = now_.addSecs(60LL * minutes); }
    void set(const QDateTime& when) { now_ = when; }

private:
    QDateTime now_;
};

} // namespace doubles
