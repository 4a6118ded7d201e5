#pragma once

#include <optional>

#include <QString>

namespace setup {

// Passwords typed on the terminal without echo, or given on standard input.
class PasswordPrompt {
public:
    // Standard input is a terminal, so there is someone to ask.
    static bool available();
    // Shows prompt on standard error and reads one line with echo off; nothing when the
    // input ends first.
    static std::optional<QString> ask(const QString& prompt);
    // One line of standard input, whatever it is (a pipe, a file, a terminal with echo
    // off); nothing when the input ends first. Nothing after the line is read.
    static std::optional<QString> readLine();
};

} // namespace setup
