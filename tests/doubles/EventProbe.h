#pragma once

#include <QTimer>

namespace doubles {

// A timer of the application counting its turns every 10 ms: a call that blocks while
// ticks() grows kept the application's events running.
class EventProbe {
public:
    EventProbe()
    {
        timer_.callOnTimeout([this] { ++ticks_; });
        timer_.start(10);
    }
    int ticks() const { return ticks_; }
    void restart() { ticks_ = 0; }

private:
    QTimer timer_;
    int ticks_ = 0;
};

} // namespace doubles
