#pragma once

#include "platform/MinuteTimer.h"

namespace doubles {

// A timer that ticks only when the test says so.
class ManualTimer final : public platform::Timer {
public:
    void setInterval(int milliseconds) override { interval_ = milliseconds; ++intervalSets; }
    int interval() const override { return interval_; }
    void start() override { running_ = true; }
    void stop() override { running_ = false; }
    bool running() const override { return running_; }
    void onTimeout(std::function<void()> handler) override { handler_ = std::move(handler); }

    // One tick, as the real timer would deliver it (only while running).
    void fire()
    {
        if (running_ && handler_)
            handler_();
    }

    int intervalSets = 0;

private:
    std::function<void()> handler_;
    int interval_ = 0;
    bool running_ = false;
};

} // namespace doubles
