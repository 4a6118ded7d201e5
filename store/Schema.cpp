#include "store/Schema.h"

#include <array>
#include <initializer_list>

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

bool digitsAt(std::string_view text, std::initializer_list<std::size_t> positions)
{
    for (const std::size_t i : positions) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

int number(std::string_view digits)
{
    int value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

} // namespace

bool isStoredDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digitsAt(text, {0, 1, 2, 3, 5, 6, 8, 9}))
        return false;
    const int year = number(text.substr(0, 4));
    const int month = number(text.substr(5, 2));
    const int day = number(text.substr(8, 2));
    if (year < 1 || month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool isStoredTime(std::string_view text)
{
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !digitsAt(text, {0, 1, 3, 4, 6, 7}))
        return false;
    return number(text.substr(0, 2)) < 24 && number(text.substr(3, 2)) < 60 && number(text.substr(6, 2)) < 60;
}

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
