#pragma once

#include <cstdio>
#include <memory>

#include <QString>

#include "store/DatabaseAddress.h"
#include "store/ReadOnlyDatabase.h"
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

// The database opened only to read it. Refused with missing when it is not there (no
// such file, or a server's database without any of the three tables), with failure when
// it cannot be opened or is not this system's.
std::unique_ptr<store::ReadOnlyDatabase> openForReading(const store::DatabaseAddress& address, ExitCode missing,
                                                        ExitCode failure);

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
