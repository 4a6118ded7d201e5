#include "platform/MinuteTimer.h"

#include <QTimer>

namespace platform {

QtTimer::QtTimer(int tickOverrideMs) : timer_(std::make_unique<QTimer>()), tickOverrideMs_(tickOverrideMs)
{
    // A coarse timer may fire up to 5% early, before a whole interval has elapsed.
    timer_->setTimerType(Qt::PreciseTimer);
}

QtTimer::~QtTimer() = default;

void QtTimer::setInterval(int milliseconds)
{
    interval_ = milliseconds;
    timer_->setInterval(tickOverrideMs_ > 0 ? tickOverrideMs_ : milliseconds);
    // QTimer restarts a running timer whose interval is set; so does the count.
    if (timer_->isActive())
        sinceStart_.start();
}

int QtTimer::interval() const
{
    return interval_;
}

void QtTimer::start()
{
    timer_->start();
    sinceStart_.start();
}

void QtTimer::stop()
{
    timer_->stop();
}

bool QtTimer::running() const
{
    return timer_->isActive();
}

void QtTimer::onTimeout(std::function<void()> handler)
{
    QObject::disconnect(timer_.get(), &QTimer::timeout, nullptr, nullptr);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), std::move(handler));
}

qint64 QtTimer::intervalsElapsed() const
{
    const int interval = timer_->interval();
    if (!timer_->isActive() || !sinceStart_.isValid() || interval <= 0)
        return 0;
    return sinceStart_.elapsed() / interval;
}

} // namespace platform
