#pragma once

#include <stdexcept>

#include <QString>

namespace platform {

// Could not start a program; the text says which and why, ready for a message box.
class LaunchError : public std::runtime_error {
public:
    explicit LaunchError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// Starts another program by its command line, in a normal window, without waiting.
// The command lines are those the windows were written with: "Signova.exe" starts the
// signova program, and the browser's path followed by a page address opens that page.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // Throws LaunchError when the program cannot be started.
    virtual void start(const QString& commandLine) = 0;
};

inline constexpr const char* kBrowserPath = "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";
inline constexpr const char* kSignovaCommand = "Signova.exe";

// On Linux: "Signova.exe" is the signova executable beside the running program (else
// the one on PATH); the browser's path with an address is the desktop's default browser;
// any other command line is split at blanks and started as it is.
class LinuxProgramLauncher final : public ProgramLauncher {
public:
    void start(const QString& commandLine) override;
};

} // namespace platform
