#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include <QDir>
#include <QFile>
#include <QString>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "store/Esql.h"
#include "store/StoreError.h"
#include "tests/doubles/PgTestServer.h"
#include "tests/doubles/ServerDatabase.h"
#include "tests/doubles/TempDatabase.h"

// Runs a statement and expects StoreError; gives its message (empty when none came).
template <typename Fn>
QString storeErrorOf(Fn&& fn)
{
    try {
        fn();
    } catch (const store::StoreError& error) {
        return error.message();
    }
    return {};
}

// A second connection of this process, for writing behind a record set's back or holding
// the file's write lock.
class RawConnection {
public:
    explicit RawConnection(const QString& path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(db_, 5000);
    }
    ~RawConnection() { sqlite3_close_v2(db_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    int exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

private:
    sqlite3* db_ = nullptr;
};

// The current folder for as long as it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const QString& folder) : previous_(QDir::currentPath()) { QDir::setCurrent(folder); }
    ~CurrentFolder() { QDir::setCurrent(previous_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    QString previous_;
};

// What differs between the two engines where a test reads it: the column that holds a
// row's key, and the engines' own messages.
template <typename Db>
struct EngineTexts;
template <>
struct EngineTexts<doubles::TempDatabase> {
    static constexpr const char* keyColumn = "rowid";
    static constexpr const char* missingTable = "no such table: userz";
};
template <>
struct EngineTexts<doubles::ServerDatabase> {
    static constexpr const char* keyColumn = "horavo_key";
    static constexpr const char* missingTable = "relation \"userz\" does not exist";
};

// A fixture whose tests run once on a database file and once on a server's database;
// the server's runs are skipped where no test server runs (failed in CI).
template <typename Db>
class OnEachEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!db.ready())
            HORAVO_REQUIRE_PG_SERVER();
    }
    QString keyColumn() const { return QString::fromLatin1(EngineTexts<Db>::keyColumn); }
    static constexpr bool onServer = std::is_same_v<Db, doubles::ServerDatabase>;

    Db db;
};

using BothEngines = ::testing::Types<doubles::TempDatabase, doubles::ServerDatabase>;

class EngineNames {
public:
    template <typename Db>
    static std::string GetName(int)
    {
        return std::is_same_v<Db, doubles::ServerDatabase> ? "Server" : "File";
    }
};
