// Times what a user waits for with a data grid over many rows:
//  - fetching the record set (Esql) against opening a grid bound to it (until its first
//    paint is done);
//  - scrolling from the top to the bottom a page at a time, each page painted.
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QScrollBar>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "bench/common/Timing.h"
#include "platform/MessageBoxes.h"
#include "platform/grid/DataGrid.h"
#include "platform/widgets/QtMessageBoxes.h"
#include "store/DatabaseFile.h"
#include "store/Esql.h"
#include "store/RecordSet.h"

namespace {

void fill(const QString& path, int rows)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot open the bench database");
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "insert into internet (iuser, idate, itime, stime, xtime) values (?,?,?,?,?)", -1,
                       &insert, nullptr);
    for (int i = 0; i < rows; ++i) {
        const QByteArray user = "user" + QByteArray::number(i % 37);
        const QByteArray date = QStringLiteral("2026-%1-%2")
                                    .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                                    .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                    .toLatin1();
        sqlite3_bind_text(insert, 1, user.constData(), int(user.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, date.constData(), int(date.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 3, 1 + i % 300);
        sqlite3_bind_text(insert, 4, "09:15:00", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 5, "11:42:31", -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

const QString recordsSql =
    QStringLiteral("select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,xtime as 下机时间 from internet");

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = int(std::max(1LL, bench::numberArgument(argc, argv, 1, 100000)));
    constexpr int rounds = 7;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("horavo.mdb"));
    store::createDatabase(path);
    fill(path, rows);
    platform::QtMessageBoxes boxes(QStringLiteral("Pomerix"));

    // Warm the file cache and the fonts once.
    {
        auto set = store::Esql(recordsSql, path);
        platform::DataGrid grid(boxes);
        grid.setRecordSet(set.get());
        grid.show();
        QApplication::processEvents();
        grid.setRecordSet(nullptr);
    }

    std::unique_ptr<store::RecordSet> fetched;
    const auto fetchSet = [&] {
        fetched.reset(); // the last round's set goes before the clock starts
        const auto start = bench::Clock::now();
        fetched = store::Esql(recordsSql, path);
        const double took = bench::millisecondsSince(start);
        if (fetched->rowCount() != std::size_t(rows))
            throw std::runtime_error("the record set lost rows");
        return took;
    };
    const auto openGrid = [&] {
        const auto start = bench::Clock::now();
        platform::DataGrid grid(boxes);
        grid.setCaption(QStringLiteral("上网时间列表"));
        grid.setAllowDelete(true);
        grid.setRecordSet(fetched.get());
        grid.resize(800, 600);
        grid.show();
        QApplication::processEvents();
        grid.repaint();
        const double took = bench::millisecondsSince(start);
        grid.setRecordSet(nullptr);
        return took;
    };
    const bench::PairedRuns times = bench::timeInTurn(rounds, fetchSet, openGrid);
    fetched.reset();
    const double fetch = times.bareMedian();
    const double open = times.programMedian();
    std::printf("rows                    %d\n", rows);
    std::printf("fetch (Esql)            %8.2f ms (median of %d)\n", fetch, rounds);
    std::printf("open grid (first paint) %8.2f ms (median of %d)\n", open, rounds);
    std::printf("open / fetch            %8.3f\n", open / fetch);
    std::printf("(fetch + open) / fetch  %8.3f\n", (fetch + open) / fetch);

    // Scrolling: the whole set, a page at a time, each page painted before the next.
    auto set = store::Esql(recordsSql, path);
    platform::DataGrid grid(boxes);
    grid.setRecordSet(set.get());
    grid.resize(800, 600);
    grid.show();
    QApplication::processEvents();
    QScrollBar* bar = grid.view()->verticalScrollBar();
    const int page = std::max(1, bar->pageStep());
    std::vector<double> pages;
    const auto scrollStart = bench::Clock::now();
    for (int value = 0; value <= bar->maximum(); value += page) {
        const auto start = bench::Clock::now();
        bar->setValue(value);
        grid.view()->viewport()->repaint();
        pages.push_back(bench::millisecondsSince(start));
    }
    const double total = bench::millisecondsSince(scrollStart);
    std::sort(pages.begin(), pages.end());
    const double mean = total / double(pages.size());
    std::printf("scroll top to bottom    %8.2f ms, %zu pages of %d rows\n", total, pages.size(), page);
    std::printf("per page                mean %.3f ms, median %.3f ms, p99 %.3f ms, max %.3f ms\n", mean,
                pages[pages.size() / 2], pages[pages.size() * 99 / 100], pages.back());
    grid.setRecordSet(nullptr);
    return 0;
}
