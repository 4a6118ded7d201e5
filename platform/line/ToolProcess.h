#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

struct ToolResult {
    bool started = false;   // the program was found and ran
    bool timedOut = false;  // it was killed after the time allowed
    int exitCode = -1;
    QByteArray output;      // standard output
    QByteArray errors;      // standard error
};

// Runs a system tool found on PATH (then in `extraFolders`), waiting at most
// `timeoutMilliseconds` for it to end.
ToolResult runTool(const QString& name, const QStringList& arguments, int timeoutMilliseconds,
                   const QStringList& extraFolders = {});

// The fields of one line of nmcli's terse output (-t): split at ':' with "\:" and "\\"
// standing for themselves.
QStringList splitTerseLine(const QString& line);

} // namespace platform
