#pragma once

namespace setup {

// The exit codes of horavo-setup, as its --help lists them. backup uses FileExists for a
// copy that is there already; every command but create uses FileMissing.
enum ExitCode : int {
    Done = 0,
    BadCommandLine = 1,  // unknown command or option, missing or malformed value
    FileExists = 2,      // create: the file (or the server's tables) is there already and is left alone
    FileMissing = 3,     // add-admin, report, online, copy's FROM: there is no such database
    PasswordProblem = 4, // not given and no terminal to ask on, empty, or the two entries differ
    UserExists = 5,      // add-admin: a user of that name exists already
    DatabaseFailure = 6, // the database refused: cannot create or write, not a horavo database
    TargetHoldsRows = 7, // copy: TO holds rows already and is left alone
    NeedsFile = 8,       // backup: the database is on a server, not in a file
    BadSettings = 9,     // the settings file cannot be read or holds a line that is not a setting
    // check has its own: clean, found something, cannot read the file.
    CheckFound = 1,
    CheckUnreadable = 2,
};

} // namespace setup
