#pragma once

#include <functional>

namespace tallyon {

// Keeps the minute tick out of the window's other handlers. Qt timers go on firing
// while a modal box is open, and a dial pumps events while it waits for rasdial, so a
// tick could otherwise start in the middle of a tick, a dial or a click. A tick that
// falls due while a handler runs (or while busyElsewhere() says so) is held, and runs
// once right after the outermost handler ends; any number of ticks held meanwhile count
// as one.
class TickGate {
public:
    TickGate(std::function<void()> tick, std::function<bool()> busyElsewhere);

    // Runs one handler of the window, then the tick held during it.
    void runHandler(const std::function<void()>& handler);
    // The timer fired.
    void tickDue();
    // The program ended: nothing runs any more.
    void close() { closed_ = true; }

    bool busy() const { return depth_ > 0; }
    bool tickHeld() const { return held_; }

private:
    void runHeldTicks();

    std::function<void()> tick_;
    std::function<bool()> busyElsewhere_;
    int depth_ = 0;
    bool held_ = false;
    bool closed_ = false;
};

} // namespace tallyon
