#pragma once

#include <QString>
#include <QStringList>

#include "store/DatabaseAddress.h"
#include "tools/horavo-setup/ExitCode.h"
#include "tools/horavo-setup/SetupCommandLine.h"

namespace setup {

// The database a request names: --file, --database, else the room's settings for
// administration (DatabaseAddress::forAdministration); refuses with BadSettings a settings
// file that cannot be read. A file's path is made absolute.
store::DatabaseAddress chosenDatabase(const SetupRequest& request);

// A word of the command line (--database, copy's FROM and TO): a server's address, or a
// file's path, made absolute.
store::DatabaseAddress addressOf(const QString& word);

// The database as the messages name it: 数据库文件“PATH”, or 数据库服务器上的数据库（ADDRESS）
// with the server's address shown without its password.
QString named(const store::DatabaseAddress& address);

// Refuses with missing a database that is not there: no such file, or a server database
// without any of the three tables; with failure a server that cannot be reached or that
// holds only some of the tables.
void requireDatabase(const store::DatabaseAddress& address, ExitCode missing, ExitCode failure);

// Removes a database this run has just made and could not fill: the file (and its
// journal), or the three tables on the server. Any failure to do so is left unsaid: the
// failure that led here is the one to tell.
void removeMadeDatabase(const store::DatabaseAddress& address);

// Refuses with NeedsFile, for the commands that work on the SQLite file itself, a
// database on a server; useInstead says what does that job there.
void requireFile(const store::DatabaseAddress& address, const QString& command, const QString& useInstead);

} // namespace setup
