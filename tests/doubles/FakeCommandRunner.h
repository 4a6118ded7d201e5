#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include <QString>

#include "main_program/dialer/CommandRunner.h"

namespace doubles {

struct RunCommand {
    QString command;                  // runcmd's line, or run's program and arguments joined by blanks
    int readSize = 0;
    int timeLimit = 0;
    QString program;                  // run only: the program
    QStringList arguments;            // run only: each argument as it was passed
    std::optional<QByteArray> input;  // run only: what went to standard input
    std::optional<std::chrono::milliseconds> timeout;  // run only: the longest it may take
};

// A command runner that starts nothing: it records each command and answers with
// `output`, and for run() with the child's end set here (exited with `exitCode` by
// default, or killed by `signal`, or not started). `onRun` runs inside the call, as
// window events do while a real command runs; a command cancelled by then is Cancelled.
class FakeCommandRunner final : public tallyon::CommandRunner {
public:
    QString output;
    std::vector<RunCommand> runs;
    std::function<void()> onRun;
    tallyon::CommandResult::End end = tallyon::CommandResult::End::Exited;
    int exitCode = 0;
    int signal = 0;

    QString runcmd(const QString& command, int readSize, int timeLimit) override
    {
        runs.push_back({command, readSize, timeLimit, {}, {}, std::nullopt, std::nullopt});
        if (onRun)
            onRun();
        return output;
    }

    tallyon::CommandResult run(const tallyon::Command& command, int readSize, int timeLimit) override
    {
        runs.push_back({command.display(), readSize, timeLimit, command.program, command.arguments,
                        command.input, command.timeout});
        // The output's lines reach the caller as they would arrive, then the child "waits".
        if (command.onLine) {
            for (const QString& line : output.split(u'\n', Qt::SkipEmptyParts))
                command.onLine(line);
        }
        if (onRun)
            onRun();
        tallyon::CommandResult result;
        result.output = output;
        result.end = end;
        result.exitCode = exitCode;
        result.signal = signal;
        if (command.cancelled && command.cancelled())
            result.end = tallyon::CommandResult::End::Cancelled;
        return result;
    }
};

} // namespace doubles
