#pragma once

#include <chrono>

#include <QTimer>

namespace doubles {

// A timer of the application that counts its turns: a call that blocks while the probe
// lives, yet lets ticks() grow, kept the application's events running.
class EventProbe {
public:
    explicit EventProbe(std::chrono::milliseconds interval = std::chrono::milliseconds(10))
    {
        timer_.callOnTimeout([this] { ++ticks_; });
        timer_.start(interval);
    }

    int ticks() const { return ticks_; }
    void restart() { ticks_ = 0; }

private:
    QTimer timer_;
    int ticks_ = 0;
};

} // namespace doubles
