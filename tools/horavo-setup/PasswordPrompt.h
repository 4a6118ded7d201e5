#pragma once

#include <optional>

#include <QString>

namespace setup {

// Passwords typed on the terminal without echo.
class PasswordPrompt {
public:
    // Standard input is a terminal, so there is someone to ask.
    static bool available();
    // Shows prompt on standard error and reads one line with echo off; nothing when the
    // input ends first.
    static std::optional<QString> ask(const QString& prompt);
};

} // namespace setup
