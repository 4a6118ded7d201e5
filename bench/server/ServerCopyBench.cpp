// "horavo-setup copy" of a file's usage rows to a database server, as the administrator
// runs it (a process: reading the file, making the tables, writing every row in one
// transaction), against the least the server must do for the same rows: psql's \copy of
// them from a text file into the same, empty tables. Each run gets fresh databases; runs
// alternate between the two; the medians and their ratio (at most 2) are printed.
//   bench_server_copy CONNINFO [ROWS] [RUNS]   (default 1000000 rows, 3 runs)
// CONNINFO names the server's maintenance database (dbname=postgres), in which the
// benchmark makes and drops databases of its own.
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <libpq-fe.h>
#include <sqlite3.h>

#include "bench/common/Timing.h"
#include "bench/common/UsageRows.h"
#include "store/DatabaseAddress.h"
#include "store/DatabaseFile.h"

namespace {

[[noreturn]] void stop(const QString& what)
{
    std::fprintf(stderr, "%s\n", what.toLocal8Bit().constData());
    std::exit(1);
}

void run(const QString& conninfo, const QByteArray& sql)
{
    PGconn* link = PQconnectdb(conninfo.toUtf8().constData());
    PGresult* result = PQexec(link, sql.constData());
    if (PQresultStatus(result) != PGRES_COMMAND_OK)
        stop(QStringLiteral("%1: %2").arg(QString::fromUtf8(sql), QString::fromUtf8(PQerrorMessage(link))));
    PQclear(result);
    PQfinish(link);
}

// The same rows as psql's \copy reads them: COPY's text format (the names and times
// need no escapes).
void writeCopyText(const QString& database, const QString& textFile)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "select iuser, idate, itime, stime, xtime from internet order by rowid", -1, &stmt, nullptr);
    std::FILE* out = std::fopen(QFile::encodeName(textFile).constData(), "w");
    if (!stmt || !out)
        stop(QStringLiteral("cannot write %1").arg(textFile));
    while (sqlite3_step(stmt) == SQLITE_ROW)
        std::fprintf(out, "%s\t%s\t%lld\t%s\t%s\n", sqlite3_column_text(stmt, 0), sqlite3_column_text(stmt, 1),
                     sqlite3_column_int64(stmt, 2), sqlite3_column_text(stmt, 3), sqlite3_column_text(stmt, 4));
    std::fclose(out);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

// A database named name, new and empty, on the server of maintenance; its conninfo.
QString freshDatabase(const QString& maintenance, const QString& name)
{
    run(maintenance, "drop database if exists " + name.toUtf8());
    run(maintenance, "create database " + name.toUtf8());
    return maintenance + QStringLiteral(" dbname=") + name; // the last dbname counts
}

double timedProcess(const QString& program, const QStringList& arguments)
{
    const auto start = bench::Clock::now();
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = bench::secondsSince(start);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        stop(QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAllStandardError())));
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_server_copy CONNINFO [ROWS] [RUNS]\n");
        return 2;
    }
    const QString maintenance = QString::fromLocal8Bit(argv[1]);
    const long long rows = bench::numberArgument(argc, argv, 2, 1000000);
    const int runs = int(bench::numberArgument(argc, argv, 3, 3));

    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("horavo.mdb"));
    const QString text = folder.filePath(QStringLiteral("internet.txt"));
    store::createDatabase(file);
    bench::fillUsageRows(file, std::size_t(rows), [](std::size_t i) { return bench::numberedUser(i % 300); });
    writeCopyText(file, text);

    const auto bare = [&] {
        const QString target = freshDatabase(maintenance, QStringLiteral("copy_bare"));
        store::createDatabase(store::DatabaseAddress::server(target)); // the same tables, keys and indexes
        return timedProcess(QStringLiteral("psql"),
                            {QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), target, QStringLiteral("-c"),
                             QStringLiteral("\\copy internet (iuser, idate, itime, stime, xtime) from '%1'").arg(text)});
    };
    const auto program = [&] {
        const QString target = freshDatabase(maintenance, QStringLiteral("copy_tool"));
        return timedProcess(QStringLiteral(HORAVO_SETUP), {QStringLiteral("copy"), file, target});
    };
    const bench::PairedRuns times = bench::timeInTurn(runs, bare, program, [](int run, double b, double p) {
        std::printf("run %d: psql \\copy %.3f s, horavo-setup copy %.3f s\n", run, b, p);
    });
    std::printf("rows %lld, runs %d\n", rows, runs);
    std::printf("psql \\copy            %.3f s\n", times.bareMedian());
    std::printf("horavo-setup copy     %.3f s\n", times.programMedian());
    std::printf("ratio                 %.2f (at most 2)\n", times.ratio());
    return times.ratio() <= 2.0 ? 0 : 1;
}
