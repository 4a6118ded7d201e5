#pragma once

#include <QString>

namespace tallyon {

// Runs one console command line with its standard output and standard error captured
// together, and returns what it wrote (or the runner's own failure texts).
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    virtual QString runcmd(const QString& command, int readSize, int timeLimit) = 0;
};

} // namespace tallyon
