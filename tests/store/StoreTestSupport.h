#pragma once

#include <memory>

#include <QDir>
#include <QFile>
#include <QString>

#include <sqlite3.h>

#include "store/Esql.h"
#include "store/StoreError.h"

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
