#pragma once

#include <functional>
#include <vector>

#include <QString>

#include "main_program/dialer/CommandRunner.h"

namespace doubles {

struct RunCommand {
    QString command;
    int readSize = 0;
    int timeLimit = 0;
};

// A command runner that starts nothing: it records each command line and answers with
// `output`. `onRun` runs inside the call, as window events do while a real command runs.
class FakeCommandRunner final : public tallyon::CommandRunner {
public:
    QString output;
    std::vector<RunCommand> runs;
    std::function<void()> onRun;

    QString runcmd(const QString& command, int readSize, int timeLimit) override
    {
        runs.push_back({command, readSize, timeLimit});
        if (onRun)
            onRun();
        return output;
    }
};

} // namespace doubles
