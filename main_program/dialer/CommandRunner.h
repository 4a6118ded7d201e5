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

// The runner's own failure texts. They come back in place of a command's output, so a
// caller tells them apart from it only by comparing the text.
inline QString commandNotFoundText()
{
    return QStringLiteral("File   or   command   not   found");
}

inline QString pipeFailedText(int error)
{
    return QStringLiteral("CreatePipe   failed.   Error:   ") + QString::number(error)
        + QLatin1Char('.');
}

// True when `output` is one of the texts above rather than what a command wrote.
bool isRunnerFailure(const QString& output);

} // namespace tallyon
