#include "platform/MinuteTimer.h"

#include <QTimer>

namespace platform {

QtTimer::QtTimer(int tickOverrideMs) : timer_(std::make_unique<QTimer>()), tickOverrideMs_(tickOverrideMs) {}

QtTimer::~QtTimer() = default;

void QtTimer::setInterval(int milliseconds)
{
    interval_ = milliseconds;
    timer_->setInterval(tickOverrideMs_ > 0 ? tickOverrideMs_ : milliseconds);
}

int QtTimer::interval() const
{
    return interval_;
}

void QtTimer::start()
{
    timer_->start();
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

int tickOverrideFromEnvironment()
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("TALLYON_TICK_MS", &ok);
    return ok && value > 0 ? value : 0;
}

} // namespace platform
