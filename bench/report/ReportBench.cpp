// "horavo-setup report" over one month of usage rows: the whole command as the
// administrator runs it (a process: start, reading the price, the grouped sum with the
// windows' minute rule, the date test, the table) against the least the engine must do,
//   SELECT iuser, SUM(itime) FROM internet WHERE idate BETWEEN ... GROUP BY iuser
// on the same file, read to the end. The file is made once; each is timed RUNS times, the
// median is shown, and the ratio that must stay at most 2.
//   bench_report [ROWS] [RUNS]     (default 1000000 rows, 5 runs)
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "bench/common/Timing.h"

namespace {

void check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(2);
    }
}

// ROWS rows over November, 300 users on every day, whole minutes as the timer writes
// them; one row in a thousand has its minutes as text, and one in a thousand a day that
// November has not (counted on the line of unreadable dates).
void makeFile(const QString& path, long long rows)
{
    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), db, "open");
    check(sqlite3_exec(db,
                       "create table users(iuser TEXT, passw TEXT, quanxian INTEGER);"
                       "create table internet(iuser TEXT, idate TEXT, itime INTEGER, stime TEXT, xtime TEXT);"
                       "create table knumber(kuser TEXT, kpassw TEXT, useyn INTEGER, price REAL);"
                       "insert into knumber values ('0571', 'kp', 1, 1.5);",
                       nullptr, nullptr, nullptr),
          db, "schema");
    const QByteArray fill = QByteArray("with recursive n(i) as (select 1 union all select i + 1 from n where i < ")
        + QByteArray::number(rows)
        + ") insert into internet select '用户' || (i % 300),"
          " case when i % 1000 = 7 then '2026-11-31' else printf('2026-11-%02d', 1 + (i / 7) % 30) end,"
          " case when i % 1000 = 3 then ' 12.5' else i % 240 end, '08:00:00', '12:00:00' from n";
    check(sqlite3_exec(db, fill.constData(), nullptr, nullptr, nullptr), db, "rows");
    sqlite3_close(db);
}

double bareQuery(const QString& path)
{
    const auto start = bench::Clock::now();
    sqlite3* db = nullptr;
    check(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    sqlite3_stmt* stmt = nullptr;
    check(sqlite3_prepare_v2(db,
                             "SELECT iuser, SUM(itime) FROM internet WHERE idate BETWEEN '2026-11-01' AND '2026-11-30'"
                             " GROUP BY iuser",
                             -1, &stmt, nullptr),
          db, "prepare");
    long long users = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        ++users;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    if (users != 300)
        std::fprintf(stderr, "bare query: %lld users\n", users);
    return bench::secondsSince(start);
}

double report(const QString& path)
{
    const auto start = bench::Clock::now();
    QProcess process;
    process.start(QStringLiteral(HORAVO_SETUP), {QStringLiteral("report"), QStringLiteral("--file"), path, QStringLiteral("--from"),
                                                 QStringLiteral("2026-11-01"), QStringLiteral("--to"), QStringLiteral("2026-11-30")});
    process.waitForFinished(-1);
    const double seconds = bench::secondsSince(start);
    const QByteArray out = process.readAllStandardOutput();
    // The period, the heading, 300 users, the total and the unreadable dates.
    if (process.exitCode() != 0 || out.count('\n') != 300 + 4) {
        std::fprintf(stderr, "report failed (%d): %s\n", process.exitCode(), process.readAllStandardError().constData());
        std::exit(2);
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long long rows = bench::numberArgument(argc, argv, 1, 1000000);
    const int runs = int(bench::numberArgument(argc, argv, 2, 5));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("horavo.mdb"));
    makeFile(path, rows);
    bareQuery(path); // the file into the page cache
    const bench::PairedRuns times = bench::timeInTurn(runs, [&] { return bareQuery(path); }, [&] { return report(path); });
    const double b = times.bareMedian();
    const double t = times.programMedian();
    std::printf("rows %lld, runs %d\n", rows, runs);
    std::printf("bare GROUP BY        %.3f s\n", b);
    std::printf("horavo-setup report  %.3f s\n", t);
    std::printf("ratio                %.2f (at most 2)\n", t / b);
    std::printf("under 2 s            %s\n", t < 2.0 ? "yes" : "NO");
    return t / b <= 2.0 && t < 2.0 ? 0 : 1;
}
