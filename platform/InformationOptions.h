#pragma once

#include <optional>

#include <QString>

namespace platform {

// --help (or -h) and --version on a windowed program's command line, answered on
// standard output before any QApplication is made, so that they need no display. Gives
// the exit status when one of them was answered; every other argument is left to Qt
// and the program as before.
std::optional<int> answerInformationOptions(int argc, char** argv, const QString& program, const QString& usage);

} // namespace platform
