// Esql("select * from internet") over a large table, measured against the least any
// reader must do: step through the rows and copy the values into plain structs.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "bench/common/UsageRows.h"
#include "store/DatabaseFile.h"
#include "store/Esql.h"

namespace {

struct Database {
    QTemporaryDir dir;
    QString path;
    std::size_t rows = 0;
    double rawBytes = 0; // UTF-8 bytes of the texts plus 8 bytes per number
};

sqlite3* openRaw(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", path.toUtf8().constData());
        std::exit(1);
    }
    return db;
}

Database& database()
{
    static Database db = [] {
        Database d;
        d.path = d.dir.filePath(QStringLiteral("horavo.mdb"));
        const char* env = std::getenv("HORAVO_BENCH_ROWS");
        d.rows = env ? std::strtoull(env, nullptr, 10) : 1000000;
        store::createDatabase(d.path);

        bench::fillUsageRows(d.path, d.rows, [](std::size_t i) { return bench::numberedUser(i % 200); });

        sqlite3* raw = openRaw(d.path);
        sqlite3_stmt* sum = nullptr;
        sqlite3_prepare_v2(raw,
            "select sum(length(cast(iuser as blob)) + length(cast(idate as blob)) + 8"
            " + length(cast(stime as blob)) + length(cast(xtime as blob))) from internet",
            -1, &sum, nullptr);
        sqlite3_step(sum);
        d.rawBytes = sqlite3_column_double(sum, 0);
        sqlite3_finalize(sum);
        sqlite3_close_v2(raw);
        return d;
    }();
    return db;
}

struct UsageRow {
    std::string iuser;
    std::string idate;
    std::int64_t itime = 0;
    std::string stime;
    std::string xtime;
};

std::string text(sqlite3_stmt* stmt, int column)
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return p ? std::string(p, std::size_t(sqlite3_column_bytes(stmt, column))) : std::string();
}

void BM_BareStepLoop(benchmark::State& state)
{
    Database& db = database();
    for (auto _ : state) {
        sqlite3* raw = openRaw(db.path);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(raw, "select * from internet", -1, &stmt, nullptr);
        std::vector<UsageRow> rows;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            rows.push_back({text(stmt, 0), text(stmt, 1), sqlite3_column_int64(stmt, 2), text(stmt, 3), text(stmt, 4)});
        sqlite3_finalize(stmt);
        sqlite3_close_v2(raw);
        if (rows.size() != db.rows)
            state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["rows"] = double(db.rows);
}

void BM_EsqlSelectAll(benchmark::State& state)
{
    Database& db = database();
    std::size_t storage = 0;
    for (auto _ : state) {
        auto rs = store::Esql(QStringLiteral("select * from internet"), db.path);
        if (rs->rowCount() != db.rows || !rs->updatable())
            state.SkipWithError("wrong row count or not updatable");
        storage = rs->storageBytes();
        benchmark::DoNotOptimize(rs.get());
    }
    state.counters["rows"] = double(db.rows);
    state.counters["raw_bytes"] = db.rawBytes;
    state.counters["storage_bytes"] = double(storage);
    state.counters["storage_per_raw"] = double(storage) / db.rawBytes;
}

BENCHMARK(BM_BareStepLoop)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);
BENCHMARK(BM_EsqlSelectAll)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

// Prints, besides the usual table, the ratios of the two mean times (wall clock and CPU;
// on a loaded machine the CPU figure is the steadier one).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean")
                means[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> means;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    database(); // built before any timing starts
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto bare = reporter.means.find("BM_BareStepLoop");
    const auto esql = reporter.means.find("BM_EsqlSelectAll");
    if (bare != reporter.means.end() && esql != reporter.means.end())
        std::printf("Esql time / bare step loop time: %.2f (wall clock), %.2f (CPU)\n",
                    esql->second.first / bare->second.first, esql->second.second / bare->second.second);
    benchmark::Shutdown();
    return 0;
}
