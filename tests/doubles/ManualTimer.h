#pragma once

#include "platform/MinuteTimer.h"

namespace doubles {

// A timer that ticks only when the test says so.
class ManualTimer final : public platform::Timer {
public:
    void setInterval(int milliseconds) override
    {
        interval_ = milliseconds;
        ++intervalSets;
        elapsed_ = 0;
    }
    int interval() const override { return interval_; }
    void start() override
    {
        running_ = true;
        elapsed_ = 0;
    }
    void stop() override { running_ = false; }
    bool running() const override { return running_; }
    void onTimeout(std::function<void()> handler) override { handler_ = std::move(handler); }
    qint64 intervalsElapsed() const override { return elapsed_; }

    // One interval elapses and the timer fires, as the real timer would (only while
    // running).
    void fire()
    {
        if (!running_)
            return;
        ++elapsed_;
        if (handler_)
            handler_();
    }
    // Intervals elapse without a timeout: the thread was busy meanwhile.
    void elapseWithoutFiring(int intervals)
    {
        if (running_)
            elapsed_ += intervals;
    }

    int intervalSets = 0;

private:
    std::function<void()> handler_;
    int interval_ = 0;
    bool running_ = false;
    qint64 elapsed_ = 0;
};

} // namespace doubles
