#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace setup {

struct SetupRequest {
    enum class Command { Help, Version, Create, AddAdmin, Backup, Report, Check, Online, Copy } command = Command::Help;
    QString file;     // --file as given
    QString database; // --database as given
    // Neither: the room's settings (DatabaseAddress::forAdministration).
    QString admin;
    // Passwords are read from standard input (one line each, the administrator's first)
    // when asked; --password and --isp-password put them on the command line instead.
    std::optional<QString> password;
    bool passwordFromInput = false;
    std::optional<QString> ispAccount;
    std::optional<QString> ispPassword;
    bool ispPasswordFromInput = false;
    std::optional<double> price; // create: the account's price; report: instead of the file's
    QString seatRole;            // create on a server: the seats' role, else horavo_seat
    // backup: the copy's file; copy: the database written to
    QString target;
    // copy: the database read from
    QString source;
    bool force = false;
    // report
    std::optional<QString> from; // YYYY-MM-DD, checked
    std::optional<QString> to;
    std::optional<QString> user;
    enum class Format { Table, Csv, Json, Html } format = Format::Table;
    bool bom = false;
    enum class Grouping { User, Day } by = Grouping::User; // a line per user, or per user and day
    bool exact = false; // amounts unrounded, not to the fen
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
