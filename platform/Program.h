#pragma once

namespace platform {

// How a program ends: at once (no further handler, no unload handler, nothing saved on
// the way out), or normally when its last window has been unloaded.
class Program {
public:
    virtual ~Program() = default;
    [[noreturn]] virtual void endAtOnce() = 0;
    virtual void lastWindowUnloaded() = 0;
};

// Thrown by test doubles of endAtOnce() to leave the running handler; the event guard
// of every window lets it pass silently.
struct ProgramEnded {};

// The real program: ends the process at once, or leaves the event loop.
class QtProgram final : public Program {
public:
    [[noreturn]] void endAtOnce() override;
    void lastWindowUnloaded() override;
};

} // namespace platform
