#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace setup {

struct SetupRequest {
    enum class Command { Help, Version, Create, AddAdmin } command = Command::Help;
    QString file; // as given; empty means horavo.mdb in the current folder
    QString admin;
    std::optional<QString> password;
    std::optional<QString> ispAccount;
    std::optional<QString> ispPassword;
    std::optional<double> price;
};

// The arguments after the program name, read into a request; a mistake gives the
// message to show (and exit code BadCommandLine).
struct ParsedCommandLine {
    SetupRequest request;
    QString error;
};

ParsedCommandLine parseCommandLine(const QStringList& arguments);

QString helpText();
QString versionText();   // "horavo-setup 1.0.27"

} // namespace setup
