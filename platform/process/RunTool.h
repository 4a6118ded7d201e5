#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

struct ToolResult {
    bool started = false;   // the program was found and ran
    bool timedOut = false;  // it was killed after the time allowed
    int exitCode = -1;      // -1 unless it exited by itself
    QByteArray output;      // standard output
    QByteArray errors;      // standard error

    bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

// Runs a system tool (findProgram's order for SystemTool) to its end, for at most
// `timeoutMilliseconds`, after which it is killed. Its arguments go to it in UTF-8.
// `input`, when given, is written to the tool's standard input, which is then closed;
// otherwise its standard input is /dev/null. `environment` holds NAME=VALUE settings
// added to the tool's environment.
ToolResult runTool(const QString& name, const QStringList& arguments, int timeoutMilliseconds,
                   const std::optional<QByteArray>& input = std::nullopt,
                   const QStringList& environment = {});

} // namespace platform
