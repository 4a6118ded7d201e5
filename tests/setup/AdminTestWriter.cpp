// A program recording into the same file while the administrator's commands run:
//   admin_test_writer PATH NAME PAUSE_MS
// Until it is killed, appends a usage row for NAME (today, the row's number as minutes)
// and raises the price of the knumber row "counter" by one, both in one transaction, then
// pauses PAUSE_MS milliseconds. A consistent copy of the file has as many rows of NAME as
// the counter says. Exit code 1 when a write fails.
//   admin_test_writer PATH
// Begins a transaction that writes more than its page cache holds, so that the file
// itself is changed and the journal holds what it was, says "writing" on standard output
// and waits to be killed: the file is left with a hot journal.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sqlite3.h>

namespace {

int leaveInterruptedWrite(sqlite3* db)
{
    if (sqlite3_exec(db,
                     "pragma cache_size = 2; begin immediate;"
                     " with recursive n(i) as (select 1 union all select i + 1 from n where i < 2000)"
                     " insert into internet select 'half', '2026-11-02', i, '08:00:00', hex(randomblob(200)) from n;",
                     nullptr, nullptr, nullptr)
        != SQLITE_OK)
        return 1;
    std::printf("writing\n");
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 2)
        return 2;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 1;
    sqlite3_busy_timeout(db, 5000);
    if (argc == 2)
        return leaveInterruptedWrite(db);
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* count = nullptr;
    if (sqlite3_prepare_v2(db, "insert into internet values (?1, date('now', 'localtime'), ?2, '08:00:00', time('now', 'localtime'))",
                           -1, &insert, nullptr)
            != SQLITE_OK
        || sqlite3_prepare_v2(db, "update knumber set price = price + 1 where kuser = 'counter'", -1, &count, nullptr) != SQLITE_OK)
        return 1;
    const int pause = std::atoi(argv[3]);
    for (long long i = 1;; ++i) {
        if (sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            continue; // busy beyond the timeout: try again
        }
        sqlite3_bind_text(insert, 1, argv[2], -1, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 2, i);
        const bool written = sqlite3_step(insert) == SQLITE_DONE && sqlite3_step(count) == SQLITE_DONE;
        sqlite3_reset(insert);
        sqlite3_reset(count);
        if (!written || sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
}
