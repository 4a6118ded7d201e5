#pragma once

#include <string_view>

#include <QString>

namespace store {

// The three tables of horavo.mdb and what each column holds. Neither program creates
// the file; the setup tool does, from this one definition.
enum class ColumnKind {
    Text,      // free text
    UserName,  // text, a user's name: no control or format characters (store/UserName.h)
    Integer16, // 16-bit signed whole number (permission code)
    Integer,   // whole number (minutes)
    Real,      // floating-point number (price)
    YesNo,     // stored as 0 or 1, read as a bool
    Date,      // "YYYY-MM-DD"
    Time,      // "HH:MM:SS", 24-hour
};

// The kind of table.column, or Text for a column the schema does not name.
ColumnKind columnKind(const QString& table, const QString& column);


// "create table ..." statements for a new database file, in order; null-terminated.
const char* const* createStatements();
// The same on a PostgreSQL server, with each table's key column and the indexes.
const char* const* serverCreateStatements();

inline constexpr const char* kDatabaseFileName = "horavo.mdb";

} // namespace store
