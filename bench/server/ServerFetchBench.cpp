// Fetch-all of the usage rows from a database server: Esql's record set (a fresh
// connection, the statement described, every row fetched and packed) against the least
// libpq must do, one PQexec of the same statement into memory on an open connection.
// Runs alternate between the two; the medians and their ratio are printed.
//   bench_server_fetch CONNINFO [ROWS] [RUNS]   (default 1000000 rows, 7 runs)
// CONNINFO names an empty database; the tables are made and filled there first.
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>

#include <libpq-fe.h>

#include "bench/common/Timing.h"
#include "store/DatabaseFile.h"
#include "store/Esql.h"

namespace {

const char* const kStatement = "select * from internet";

void run(PGconn* link, const char* sql)
{
    PGresult* result = PQexec(link, sql);
    if (PQresultStatus(result) != PGRES_COMMAND_OK && PQresultStatus(result) != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "%s: %s", sql, PQerrorMessage(link));
        std::exit(1);
    }
    PQclear(result);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_server_fetch CONNINFO [ROWS] [RUNS]\n");
        return 2;
    }
    const QString conninfo = QString::fromLocal8Bit(argv[1]);
    const long rows = long(bench::numberArgument(argc, argv, 2, 1000000));
    const int runs = int(bench::numberArgument(argc, argv, 3, 7));
    const store::DatabaseAddress address = store::DatabaseAddress::server(conninfo);

    PGconn* link = PQconnectdb(argv[1]);
    if (PQstatus(link) != CONNECTION_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(link));
        return 1;
    }
    store::createDatabase(address);
    const QByteArray fill = QStringLiteral(
        "insert into internet (iuser, idate, itime, stime, xtime)"
        " select 'user' || lpad((i %% 50)::text, 3, '0'),"
        "  '2024-' || lpad((1 + i %% 12)::text, 2, '0') || '-' || lpad((1 + i %% 28)::text, 2, '0'),"
        "  1 + i %% 600, lpad((i %% 24)::text, 2, '0') || ':' || lpad((i %% 60)::text, 2, '0') || ':00',"
        "  lpad(((i + 1) %% 24)::text, 2, '0') || ':' || lpad(((i + 3) %% 60)::text, 2, '0') || ':00'"
        " from generate_series(1, %1) as i").arg(rows).replace(QStringLiteral("%%"), QStringLiteral("%")).toUtf8();
    run(link, fill.constData());
    run(link, "vacuum analyze internet");

    std::size_t fetched = 0;
    const auto bareExec = [&] {
        const auto start = bench::Clock::now();
        PGresult* result = PQexec(link, kStatement);
        const double took = bench::secondsSince(start);
        if (PQntuples(result) != rows) {
            std::fprintf(stderr, "PQexec gave %d rows\n", PQntuples(result));
            std::exit(1);
        }
        PQclear(result);
        return took;
    };
    const auto recordSet = [&] {
        const auto start = bench::Clock::now();
        const auto set = store::Esql(QString::fromLatin1(kStatement), address);
        const double took = bench::secondsSince(start);
        fetched = set->rowCount();
        return took;
    };
    const bench::PairedRuns times = bench::timeInTurn(runs, bareExec, recordSet);
    PQfinish(link);
    if (fetched != std::size_t(rows)) {
        std::fprintf(stderr, "the record set holds %zu rows\n", fetched);
        return 1;
    }
    const double b = times.bareMedian();
    const double s = times.programMedian();
    std::printf("rows %ld, runs %d\n", rows, runs);
    std::printf("bare PQexec:      %.3f s (median)\n", b);
    std::printf("Esql record set:  %.3f s (median)\n", s);
    std::printf("ratio:            %.2fx\n", s / b);
    return 0;
}
