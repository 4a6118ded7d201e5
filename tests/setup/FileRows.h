#pragma once

// Rows of a database file read and written through SQLite itself, as by hand: what the
// tool wrote, seen without the store.
#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

namespace setuptest {

// Statements on a file through SQLite itself (the file is made when missing); the rows of
// the last, values as SQLite gives them as text, joined by "|".
inline QStringList onFile(const QString& path, const QString& statements)
{
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
              SQLITE_OK);
    QStringList rows;
    const QByteArray text = statements.toUtf8();
    const char* next = text.constData();
    while (next && *next) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, next, -1, &stmt, &next) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db) << " in " << next;
            break;
        }
        if (!stmt)
            continue;
        rows.clear();
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList cells;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                cells << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)));
            rows << cells.join(QLatin1Char('|'));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

// Every row of the three tables of a file in the order they were written, every value
// with its type.
inline QStringList everyRowOf(const QString& path)
{
    return onFile(path, QStringLiteral("select 'users', quote(iuser), quote(passw), quote(quanxian) from users order by rowid;"))
        + onFile(path, QStringLiteral("select 'internet', quote(iuser), quote(idate), quote(itime), quote(stime), quote(xtime)"
                                      " from internet order by rowid;"))
        + onFile(path, QStringLiteral("select 'knumber', quote(kuser), quote(kpassw), quote(useyn), quote(price)"
                                      " from knumber order by rowid;"));
}

// The programs' three tables, as a file made by hand has them.
inline const char* const kFileTables = "create table users(iuser TEXT, passw TEXT, quanxian INTEGER);"
                                       "create table internet(iuser TEXT, idate TEXT, itime INTEGER, stime TEXT, xtime TEXT);"
                                       "create table knumber(kuser TEXT, kpassw TEXT, useyn INTEGER, price REAL);";

} // namespace setuptest
