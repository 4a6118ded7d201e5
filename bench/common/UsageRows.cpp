#include "bench/common/UsageRows.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QFile>

#include <sqlite3.h>

namespace bench {

namespace {

void check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

} // namespace

void fillUsageRows(const QString& path, std::size_t count, const std::function<std::string(std::size_t)>& userOf)
{
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), db, "open");
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(db, "insert into internet values (?, ?, ?, ?, ?)", -1, &insert, nullptr), db, "prepare");
    char text[32];
    for (std::size_t i = 0; i < count; ++i) {
        sqlite3_bind_text(insert, 1, userOf(i).c_str(), -1, SQLITE_TRANSIENT);
        std::snprintf(text, sizeof text, "2024-%02zu-%02zu", 1 + i % 12, 1 + i % 28);
        sqlite3_bind_text(insert, 2, text, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 3, std::int64_t(1 + i % 600));
        std::snprintf(text, sizeof text, "%02zu:%02zu:%02zu", i % 24, i % 60, (i / 7) % 60);
        sqlite3_bind_text(insert, 4, text, -1, SQLITE_TRANSIENT);
        std::snprintf(text, sizeof text, "%02zu:%02zu:%02zu", (i + 1) % 24, (i + 3) % 60, (i / 5) % 60);
        sqlite3_bind_text(insert, 5, text, -1, SQLITE_TRANSIENT);
        check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close_v2(db);
}

std::string numberedUser(std::size_t number)
{
    char name[32];
    std::snprintf(name, sizeof name, "user%03zu", number);
    return name;
}

} // namespace bench
