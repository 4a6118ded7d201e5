#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tallyon {

// One program to run, with its arguments as separate words: nothing is split or quoted.
struct Command {
    QString program;
    QStringList arguments;
    // Written to the child's standard input, which is then closed. Without it the child's
    // standard input is /dev/null. This is how a secret reaches a child without showing
    // on its command line, which every user of the machine can read.
    std::optional<QByteArray> input;
    // Told each line of the output as the child writes it (without its line end), while
    // the run goes on; the last line also when it has no line end.
    std::function<void(const QString& line)> onLine{};
    // Either ends the run before the child ends: the runner then kills the child and
    // what it started (SIGTERM, SIGKILL when they linger). `cancelled` is asked while the
    // run waits, between two turns of the window events; `timeout` counts from the start.
    std::function<bool()> cancelled{};
    std::optional<std::chrono::milliseconds> timeout{};

    // The program and its arguments joined by blanks: for records and messages, never
    // to be run.
    QString display() const { return QStringList(QStringList{program} + arguments).join(QLatin1Char(' ')); }
};

// What a run gave: the output as runcmd returns it, and how the child ended. Cancelled
// and TimedOut: the runner ended it (Command::cancelled, Command::timeout); `output` holds
// what it wrote until then.
struct CommandResult {
    enum class End { Exited, Signaled, NotStarted, Cancelled, TimedOut };

    QString output;
    End end = End::Exited;
    int exitCode = 0; // when Exited
    int signal = 0;   // when Signaled

    bool succeeded() const { return end == End::Exited && exitCode == 0; }
};

// Runs one console command with its standard output and standard error captured
// together.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // The command line is split at blanks; returns what the command wrote (or the
    // runner's own failure texts) once its output ends, without waiting for it to end.
    virtual QString runcmd(const QString& command, int readSize, int timeLimit) = 0;
    // Runs `command` and waits until the child has ended, so that its exit status is
    // known, or until the command's cancel or time-out ends it. When it cannot start,
    // `output` holds the runner's failure text and `end` is NotStarted.
    virtual CommandResult run(const Command& command, int readSize, int timeLimit) = 0;
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
