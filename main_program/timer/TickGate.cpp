#include "main_program/timer/TickGate.h"

namespace tallyon {

namespace {

struct Depth {
    explicit Depth(int& depth) : depth_(depth) { ++depth_; }
    ~Depth() { --depth_; }
    Depth(const Depth&) = delete;
    Depth& operator=(const Depth&) = delete;
    int& depth_;
};

} // namespace

TickGate::TickGate(std::function<void()> tick, std::function<bool()> busyElsewhere)
    : tick_(std::move(tick)), busyElsewhere_(std::move(busyElsewhere))
{
}

void TickGate::runHandler(const std::function<void()>& handler)
{
    if (closed_)
        return;
    {
        Depth depth(depth_);
        handler();
    }
    runHeldTicks();
}

void TickGate::tickDue()
{
    if (closed_)
        return;
    if (depth_ > 0 || busyElsewhere_()) {
        held_ = true;
        return;
    }
    {
        Depth depth(depth_);
        tick_();
    }
    runHeldTicks();
}

void TickGate::runHeldTicks()
{
    while (depth_ == 0 && held_ && !closed_ && !busyElsewhere_()) {
        held_ = false;
        Depth depth(depth_);
        tick_();
    }
}

} // namespace tallyon
