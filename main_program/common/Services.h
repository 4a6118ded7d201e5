#pragma once

#include <functional>
#include <memory>

#include <QString>

namespace platform {
class Clock;
class Forms;
class LineService;
class MessageBoxes;
class OtherCopy;
class Program;
class ProgramLauncher;
class Timer;
class TrayIcon;
} // namespace platform

namespace tallyon {

class CommandRunner;
struct Session;

// Everything a window of Tallyon reaches outside itself. The program fills it with the
// real Qt/Linux services; tests fill it with doubles.
struct Services {
    platform::Forms& forms;
    platform::MessageBoxes& boxes;
    platform::Program& program;
    platform::ProgramLauncher& launcher;
    platform::OtherCopy& otherCopy;
    platform::Clock& clock;
    platform::LineService& line;
    CommandRunner& runner;
    Session& session;
    std::function<std::unique_ptr<platform::Timer>()> makeTimer;
    std::function<std::unique_ptr<platform::TrayIcon>()> makeTrayIcon;
    // The program's log: one line per dial outcome, hang-up and drop (standard error, so
    // that a desktop session's journal keeps it). Never a password.
    std::function<void(const QString& line)> eventLog;
};

} // namespace tallyon
