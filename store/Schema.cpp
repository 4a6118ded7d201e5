#include "store/Schema.h"

#include <array>

#include "store/AsciiCase.h"

namespace store {

namespace {

struct ColumnDef {
    const char* table;
    const char* column;
    ColumnKind kind;
};

constexpr std::array kColumns{
    ColumnDef{"users", "iuser", ColumnKind::UserName},
    ColumnDef{"users", "passw", ColumnKind::Text},
    ColumnDef{"users", "quanxian", ColumnKind::Integer16},
    ColumnDef{"internet", "iuser", ColumnKind::Text},
    ColumnDef{"internet", "idate", ColumnKind::Date},
    ColumnDef{"internet", "itime", ColumnKind::Integer},
    ColumnDef{"internet", "stime", ColumnKind::Time},
    ColumnDef{"internet", "xtime", ColumnKind::Time},
    ColumnDef{"knumber", "kuser", ColumnKind::Text},
    ColumnDef{"knumber", "kpassw", ColumnKind::Text},
    ColumnDef{"knumber", "useyn", ColumnKind::YesNo},
    ColumnDef{"knumber", "price", ColumnKind::Real},
};

constexpr const char* kCreateStatements[] = {
    "create table users(iuser TEXT, passw TEXT, quanxian INTEGER)",
    "create table internet(iuser TEXT, idate TEXT, itime INTEGER, stime TEXT, xtime TEXT)",
    "create table knumber(kuser TEXT, kpassw TEXT, useyn INTEGER, price REAL)",
    nullptr,
};

// On a server each table has a key of its own (ServerConnection's key column), which
// record sets use to write a row back and never show; usage rows are looked up by user
// and by day.
// The key comes last, so that "insert into users values (...)" fills the same columns as
// in a file.
constexpr const char* kServerCreateStatements[] = {
    "create table users(iuser text, passw text, quanxian smallint,"
    " horavo_key bigint generated always as identity primary key)",
    "create table internet(iuser text, idate text, itime bigint, stime text, xtime text,"
    " horavo_key bigint generated always as identity primary key)",
    "create table knumber(kuser text, kpassw text, useyn smallint, price double precision,"
    " horavo_key bigint generated always as identity primary key)",
    "create index internet_iuser on internet(iuser)",
    "create index internet_idate on internet(idate)",
    nullptr,
};

// SQLite compares identifiers without regard to ASCII letter case, so a file made by
// hand with "USERS" or "Quanxian" has the same columns.
bool sameIdentifier(const QString& a, const char* b)
{
    return detail::equalsIgnoringAsciiCase(a, QString::fromLatin1(b));
}

} // namespace

ColumnKind columnKind(const QString& table, const QString& column)
{
    for (const ColumnDef& def : kColumns) {
        if (sameIdentifier(table, def.table) && sameIdentifier(column, def.column))
            return def.kind;
    }
    return ColumnKind::Text;
}

const char* const* createStatements()
{
    return kCreateStatements;
}

const char* const* serverCreateStatements()
{
    return kServerCreateStatements;
}

} // namespace store
