#pragma once

#include <QString>

namespace platform {

// Whose program a name stands for, which decides where it is looked for.
enum class ProgramOrigin {
    // rasdial, signova, tallyon-line: built with the running program and installed
    // with it.
    OwnProgram,
    // nmcli, xdg-open, pppoe-discovery: the system's.
    SystemTool,
};

// The file that runs for `name`, or an empty string when no executable file is found.
// This is the one order in which every program this system starts is looked for:
//
//   - a name holding a slash is the file itself, and nothing is searched;
//   - a program of our own: the folder of the running executable first (a build tree,
//     or an installation beside the programs), then the package's own folder for its
//     line tools, libexec/horavo under the install prefix, then each folder of PATH;
//   - a system tool: each folder of PATH, then /usr/sbin and /sbin, which an ordinary
//     user's PATH leaves out although tools such as pppoe-discovery live there.
//
// A candidate counts when it is a regular file that this process may execute.
QString findProgram(const QString& name, ProgramOrigin origin);

} // namespace platform
