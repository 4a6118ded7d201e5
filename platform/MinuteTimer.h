#pragma once

#include <functional>
#include <memory>

#include <QElapsedTimer>

class QTimer;

namespace platform {

// A repeating timer. Intervals are given as the program knows them (60,000 ms for the
// minute tick); the real timer may run at another pace for a whole run (TALLYON_TICK_MS,
// on the simulated line only: see platform::minuteTickFor).
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int milliseconds) = 0;  // restarts the count when running
    virtual int interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool running() const = 0;
    virtual void onTimeout(std::function<void()> handler) = 0;
    // Whole intervals that have elapsed since the timer was started or its interval set.
    // Unlike timeouts, which do not pile up while the thread is busy (a write waiting
    // for a locked file), this counts every interval that fell due meanwhile.
    virtual qint64 intervalsElapsed() const = 0;
};

class QtTimer final : public Timer {
public:
    // tickOverrideMs > 0 replaces every interval for the whole run.
    explicit QtTimer(int tickOverrideMs = 0);
    ~QtTimer() override;
    void setInterval(int milliseconds) override;
    int interval() const override;
    void start() override;
    void stop() override;
    bool running() const override;
    void onTimeout(std::function<void()> handler) override;
    qint64 intervalsElapsed() const override;

private:
    std::unique_ptr<QTimer> timer_;
    QElapsedTimer sinceStart_;
    int interval_ = 0;
    int tickOverrideMs_ = 0;
};

} // namespace platform
