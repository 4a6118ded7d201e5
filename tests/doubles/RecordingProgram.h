#pragma once

#include "platform/Program.h"

namespace doubles {

// Records how the program ended. Ending at once throws platform::ProgramEnded, which
// the windows' event guard lets through, so the running handler stops there.
class RecordingProgram final : public platform::Program {
public:
    [[noreturn]] void endAtOnce() override
    {
        ++endedAtOnce;
        throw platform::ProgramEnded{};
    }
    void lastWindowUnloaded() override { ++endedNormally; }

    bool ended() const { return endedAtOnce + endedNormally > 0; }

    int endedAtOnce = 0;
    int endedNormally = 0;
};

} // namespace doubles
