#pragma once

#include <QString>
#include <QStringList>

#include "main_program/dialer/CommandRunner.h"

namespace tallyon {

// The command runner on the platform's child process: the program, one of our own (found
// as platform::findProgram says), is started directly (no shell), with standard output
// and standard error on one pipe and standard input on /dev/null (or on a pipe carrying
// the command's input), and its output, decoded from the locale's charset, is read until
// the pipe ends while pending window events keep running.
class PipeCommandRunner final : public CommandRunner {
public:
    // `timeLimit` is accepted and ignored: the output is always read to its end.
    QString runcmd(const QString& command, int readSize, int timeLimit) override;
    // As runcmd, then waits for the child's end, window events still running meanwhile.
    CommandResult run(const Command& command, int readSize, int timeLimit) override;

    // The words of a command line: split at blanks, nothing quoted or expanded.
    static QStringList splitWords(const QString& command);
};

} // namespace tallyon
