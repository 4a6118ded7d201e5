// "一键清除" over one user's rows: the records window's path (its record set, every row
// deleted from the cursor with its optimistic check, in one write transaction) against
// the least the engine must do, one DELETE FROM internet WHERE iuser=... of the same
// rows on a copy of the same file. Each run starts from a fresh copy; the reading of the
// rows when the window shows them is not timed.
//   bench_clear [ROWS] [RUNS]     (default 200000 rows of the user, 5 runs)
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "bench/common/Timing.h"
#include "bench/common/UsageRows.h"
#include "store/DatabaseFile.h"
#include "store/Esql.h"

namespace {

const QString recordsSql = QStringLiteral(
    "select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,xtime as 下机时间 from internet"
    " where iuser='ann'");

void check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// ann's rows, and a quarter as many of other users between them.
void fill(const QString& path, std::size_t rows)
{
    store::createDatabase(path);
    bench::fillUsageRows(path, rows + rows / 4,
                         [](std::size_t i) { return i % 5 != 4 ? std::string("ann") : bench::numberedUser(i % 50); });
}

QString freshCopy(const QString& original, const QTemporaryDir& dir)
{
    const QString copy = dir.filePath(QStringLiteral("horavo.mdb"));
    QFile::remove(copy);
    if (!QFile::copy(original, copy)) {
        std::fprintf(stderr, "cannot copy the file\n");
        std::exit(1);
    }
    return copy;
}

// One DELETE on a connection set up as the programs set theirs up.
double bareDelete(const QString& path, std::size_t expected)
{
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), db, "open");
    check(sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL", nullptr, nullptr, nullptr), db, "pragma");
    const auto start = bench::Clock::now();
    check(sqlite3_exec(db, "DELETE FROM internet WHERE iuser='ann'", nullptr, nullptr, nullptr), db, "delete");
    const double took = bench::secondsSince(start);
    if (std::size_t(sqlite3_changes(db)) != expected) {
        std::fprintf(stderr, "bare delete removed %d rows, not %zu\n", sqlite3_changes(db), expected);
        std::exit(1);
    }
    sqlite3_close_v2(db);
    return took;
}

double recordsWindowClear(const QString& path, std::size_t expected)
{
    auto records = store::Esql(recordsSql, path);
    if (records->rowCount() != expected) {
        std::fprintf(stderr, "the record set holds %zu rows, not %zu\n", records->rowCount(), expected);
        std::exit(1);
    }
    const auto start = bench::Clock::now();
    records->inOneTransaction([&] {
        for (records->first(); !records->atEnd();)
            records->deleteCurrent();
    });
    const double took = bench::secondsSince(start);
    if (records->rowCount() != 0) {
        std::fprintf(stderr, "rows left in the record set\n");
        std::exit(1);
    }
    return took;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto rows = std::size_t(bench::numberArgument(argc, argv, 1, 200000));
    const int runs = int(bench::numberArgument(argc, argv, 2, 5));

    QTemporaryDir templateDir;
    QTemporaryDir workDir;
    const QString original = templateDir.filePath(QStringLiteral("template.mdb"));
    fill(original, rows);

    const bench::PairedRuns times = bench::timeInTurn(
        runs, [&] { return bareDelete(freshCopy(original, workDir), rows); },
        [&] { return recordsWindowClear(freshCopy(original, workDir), rows); },
        [](int run, double bare, double window) {
            std::printf("run %d: bare DELETE %.3f s, records window %.3f s\n", run + 1, bare, window);
        });
    const double bareMedian = times.bareMedian();
    const double windowMedian = times.programMedian();
    std::printf("%zu rows of one user (of %zu), median of %d runs:\n", rows, rows + rows / 4, runs);
    std::printf("  bare DELETE FROM internet WHERE iuser='ann': %.3f s\n", bareMedian);
    std::printf("  records window clearing (one transaction):   %.3f s\n", windowMedian);
    std::printf("  ratio: %.2f (at most 3 expected)\n", windowMedian / bareMedian);
    return windowMedian <= 3 * bareMedian ? 0 : 1;
}
