#pragma once

#include <cstdio>

#include <QString>

#include "store/Connection.h"
#include "tools/horavo-setup/ExitCode.h"

namespace setup {

// Writes text and a line end to stream, in the locale's encoding, at once.
void say(std::FILE* stream, const QString& text);
// Writes bytes as they are (report output: UTF-8 whatever the locale).
void put(std::FILE* stream, const QByteArray& bytes);

// A failure already told to the user, with the exit code that goes with it.
struct Refusal {
    ExitCode code;
};

// Tells message on standard error and throws Refusal{code}.
[[noreturn]] void refuse(ExitCode code, const QString& message);

// The path as the messages show it: absolute, native separators.
QString shownPath(const QString& path);

// An existing database file opened only for reading, with the programs' busy timeout:
// every statement on it is a short read transaction of its own. A missing file is
// refused with missing, any other failure with failure.
store::DatabaseHandle openForReading(const QString& path, ExitCode missing, ExitCode failure);

// The first step of a read statement: a read that finds the file busy beyond the busy
// timeout (writers one after another hold off a new reader in rollback-journal mode) is
// tried again, for the programs' retry window. Before its first row a statement has read
// nothing, so starting it over is safe. The later steps hold the read lock: plain
// sqlite3_step.
int firstStep(sqlite3_stmt* stmt);

// Stored text as the tool writes it anywhere (a terminal, a table, CSV): control and
// format characters as escapes (store::visibleText), so that a name can neither act on
// the terminal nor pass for another name.
QString shownText(const QString& stored);
// A text cell of CSV output, shown as shownText shows it; a cell that a spreadsheet
// would take for a formula (beginning with =, +, -, @, a tab or a carriage return)
// begins with a single quote. Only text cells: a number, negative too, stays a number.
QString csvTextCell(const QString& stored);
// JSON whose strings hold control and format characters only as \u escapes, which a
// JSON reader turns back into the stored text and a terminal shows as they are.
QByteArray escapedJson(const QByteArray& json);

// The columns a terminal gives text: two for the wide (East Asian) characters, one for
// the others.
int displayWidth(const QString& text);
// text padded with spaces to width columns, on the right (left aligned) or on the left.
QString padded(const QString& text, int width, bool alignRight);

} // namespace setup
