#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include <QFileInfo>

#include "store/DatabaseFile.h"
#include "store/Esql.h"
#include "store/ServerConnection.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/DatabaseChoice.h"
#include "tools/horavo-setup/ProgressLine.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

struct TableColumns {
    QString name;
    QStringList columns;
};

const std::array<TableColumns, 3> kTables{{
    {QStringLiteral("users"), {QStringLiteral("iuser"), QStringLiteral("passw"), QStringLiteral("quanxian")}},
    {QStringLiteral("internet"),
     {QStringLiteral("iuser"), QStringLiteral("idate"), QStringLiteral("itime"), QStringLiteral("stime"), QStringLiteral("xtime")}},
    {QStringLiteral("knumber"), {QStringLiteral("kuser"), QStringLiteral("kpassw"), QStringLiteral("useyn"), QStringLiteral("price")}},
}};

using Counts = std::array<qlonglong, kTables.size()>;
using SourceRows = std::array<std::unique_ptr<store::RecordSet>, kTables.size()>;

// The rows of one table in the order they were written: by rowid in a file, by the key
// column on a server.
QString readingStatement(const TableColumns& table, const store::DatabaseAddress& from)
{
    return QStringLiteral("select %1 from %2 order by %3")
        .arg(table.columns.join(QStringLiteral(", ")), table.name, from.isServer() ? QString::fromLatin1(store::kServerKeyColumn) : QStringLiteral("rowid"));
}

QString countsText(const Counts& counts)
{
    QStringList parts;
    for (std::size_t t = 0; t < kTables.size(); ++t)
        parts << QStringLiteral("%1 %2 行").arg(kTables[t].name).arg(counts[t]);
    return parts.join(QStringLiteral("，"));
}

Counts countRows(const std::function<std::unique_ptr<store::RecordSet>(const QString&)>& esql)
{
    Counts counts{};
    for (std::size_t t = 0; t < kTables.size(); ++t)
        counts[t] = esql(QStringLiteral("select count(*) from %1").arg(kTables[t].name))->value(0).toLongLong();
    return counts;
}

void refuseRowsIn(const store::DatabaseAddress& to, const Counts& counts)
{
    for (const qlonglong count : counts) {
        if (count > 0)
            refuse(TargetHoldsRows, QStringLiteral("%1里已经有记录（%2），没有改动它：copy 只复制到空的数据库")
                                        .arg(named(to), countsText(counts)));
    }
}

// Whether the database to write into is there yet. A server database with some of the
// tables only is refused: createDatabase would refuse it too.
bool targetExists(const store::DatabaseAddress& to)
{
    if (!to.isServer()) {
        const QFileInfo info(to.text());
        if (info.isDir())
            refuse(DatabaseFailure, QStringLiteral("“%1”是文件夹，不是数据库文件").arg(shownPath(to.text())));
        return info.exists() || info.isSymLink();
    }
    QStringList tables;
    try {
        tables = store::systemTablesOnServer(to);
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, error.message());
    }
    if (!tables.isEmpty() && tables.size() < int(kTables.size()))
        refuse(DatabaseFailure, QStringLiteral("%1只有表 %2，没有改动它").arg(named(to), tables.join(QStringLiteral("、"))));
    return !tables.isEmpty();
}

void refuseTheSameFile(const store::DatabaseAddress& from, const store::DatabaseAddress& to)
{
    if (from.isServer() || to.isServer())
        return;
    const QString fromFile = QFileInfo(from.text()).canonicalFilePath(); // empty for a file that is not there
    if (from.text() == to.text() || (!fromFile.isEmpty() && fromFile == QFileInfo(to.text()).canonicalFilePath()))
        refuse(BadCommandLine, QStringLiteral("FROM 和 TO 是同一个数据库文件“%1”").arg(shownPath(from.text())));
}

// Appends every row of rows to the table in one go of the transaction (a server's COPY),
// value by value as read, so the store checks each value as it checks the windows'
// writes and names the row of a value it refuses; what the engine says when writing goes
// on as it is, so that the transaction still knows a failure it may simply run again.
void appendRows(const store::Transaction& transaction, const TableColumns& table, const store::RecordSet& rows,
                ProgressLine& progress)
{
    const int fields = rows.fieldCount();
    std::size_t row = 0;
    transaction.appendRows(table.name, table.columns, [&](QVariantList& values) {
        if (progress.due())
            progress.show(QStringLiteral("正在写入表 %1：%2 / %3 行").arg(table.name).arg(row).arg(rows.rowCount()));
        if (row == rows.rowCount())
            return false;
        for (int f = 0; f < fields; ++f)
            values << rows.valueAt(row, f);
        ++row;
        return true;
    });
}

// Every row of the three tables of from, each table read by one statement.
SourceRows readAll(const store::DatabaseAddress& from, ProgressLine& progress)
{
    SourceRows source;
    for (std::size_t t = 0; t < kTables.size(); ++t) {
        progress.show(QStringLiteral("正在读取表 %1").arg(kTables[t].name));
        source[t] = store::Esql(readingStatement(kTables[t], from), from);
    }
    return source;
}

// Writes every row of source into to in one transaction, after asking again there that
// to holds no rows: nothing may have been written since the first look.
void writeAll(const store::DatabaseAddress& to, const SourceRows& source, ProgressLine& progress)
{
    store::inOneTransaction(to, [&](const store::Transaction& transaction) {
        refuseRowsIn(to, countRows([&](const QString& sql) { return transaction.esql(sql); }));
        for (std::size_t t = 0; t < kTables.size(); ++t)
            appendRows(transaction, kTables[t], *source[t], progress);
        progress.show(QStringLiteral("正在提交"));
    });
}

// Whether to holds no rows (a database made by this copy that another copy has not
// filled meanwhile).
bool holdsNoRows(const store::DatabaseAddress& to)
{
    try {
        const Counts counts = countRows([&](const QString& sql) { return store::Esql(sql, to); });
        return std::all_of(counts.begin(), counts.end(), [](qlonglong count) { return count == 0; });
    } catch (const store::StoreError&) {
        return true; // not even readable: nothing of anyone's is in it
    }
}

} // namespace

ExitCode copy(const store::DatabaseAddress& from, const store::DatabaseAddress& to)
{
    refuseTheSameFile(from, to);
    requireDatabase(from, FileMissing, DatabaseFailure);
    const bool existed = targetExists(to);
    SourceRows source;
    ProgressLine progress(stderr);
    try {
        if (existed)
            refuseRowsIn(to, countRows([&](const QString& sql) { return store::Esql(sql, to); }));
        source = readAll(from, progress);
        if (!existed)
            store::createDatabase(to);
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, error.message());
    }
    try {
        writeAll(to, source, progress);
        progress.finish();
    } catch (const store::StoreError& error) {
        if (!existed && holdsNoRows(to))
            removeMadeDatabase(to);
        refuse(DatabaseFailure, QStringLiteral("复制失败，%1没有改动：%2").arg(named(to), error.message()));
    }
    Counts copied{};
    for (std::size_t t = 0; t < kTables.size(); ++t)
        copied[t] = qlonglong(source[t]->rowCount());
    say(stdout, QStringLiteral("已把%1复制到%2：%3").arg(named(from), named(to), countsText(copied)));
    return Done;
}

} // namespace setup
