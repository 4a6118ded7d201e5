#include <QDateTime>
#include <QVector>

#include <sqlite3.h>

#include "rules/Minutes.h"
#include "store/Esql.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/DatabaseChoice.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// The timer writes its row every minute; a row written within two minutes (one tick and
// a margin) belongs to a timer that is running.
constexpr int kRecentSeconds = 120;

QString textOf(sqlite3_stmt* stmt, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

QVariant valueOf(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, column);
    case SQLITE_NULL:
        return {};
    default:
        return textOf(stmt, column);
    }
}

// The moment of the query: rows of today (and of yesterday just after midnight) whose
// last write is at or after since.
struct Recent {
    QByteArray today;
    QByteArray sinceDay;
    QByteArray since; // "YYYY-MM-DD HH:MM:SS"
};

Recent recentNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime since = now.addSecs(-kRecentSeconds);
    return {now.date().toString(QStringLiteral("yyyy-MM-dd")).toUtf8(),
            since.date().toString(QStringLiteral("yyyy-MM-dd")).toUtf8(),
            since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8()};
}

using Table = QVector<QStringList>;

const QStringList kHeader{QStringLiteral("用户名"), QStringLiteral("开始"), QStringLiteral("分钟"), QStringLiteral("最后写入")};

Table fromFile(const QString& path, const Recent& recent)
{
    const store::DatabaseHandle db = openForReading(path, FileMissing, DatabaseFailure);
    sqlite3* raw = db.get();
    sqlite3_stmt* stmtRaw = nullptr;
    const char* sql = "select iuser, stime, itime, xtime from internet"
                      " where idate in (?1, ?2) and idate || ' ' || xtime >= ?3 order by iuser, idate, stime";
    if (sqlite3_prepare_v2(raw, sql, -1, &stmtRaw, nullptr) != SQLITE_OK)
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(QString::fromUtf8(sqlite3_errmsg(raw))));
    const store::Statement stmt(stmtRaw);
    sqlite3_bind_text(stmtRaw, 1, recent.today.constData(), int(recent.today.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmtRaw, 2, recent.sinceDay.constData(), int(recent.sinceDay.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmtRaw, 3, recent.since.constData(), int(recent.since.size()), SQLITE_STATIC);

    Table rows;
    int rc = firstStep(stmtRaw);
    for (; rc == SQLITE_ROW; rc = sqlite3_step(stmtRaw))
        rows.push_back({textOf(stmtRaw, 0), textOf(stmtRaw, 1), QString::number(horavo::minutesOf(valueOf(stmtRaw, 2))),
                        textOf(stmtRaw, 3)});
    if (rc != SQLITE_DONE)
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(QString::fromUtf8(sqlite3_errmsg(raw))));
    return rows;
}

// The same rows from a server, in the order a file gives them: bytes compared, NULL first.
Table fromServer(const store::DatabaseAddress& database, const Recent& recent)
{
    requireDatabase(database, FileMissing, DatabaseFailure);
    const QString sql = QStringLiteral("select iuser, stime, itime, xtime from internet"
                                       " where idate in ($1, $2) and (idate || ' ' || xtime) collate \"C\" >= $3"
                                       " order by iuser collate \"C\" nulls first, idate collate \"C\", stime collate \"C\" nulls first");
    Table rows;
    try {
        const auto found = store::Esql(sql,
                                       {QString::fromUtf8(recent.today), QString::fromUtf8(recent.sinceDay),
                                        QString::fromUtf8(recent.since)},
                                       database);
        for (std::size_t row = 0; row < found->rowCount(); ++row)
            rows.push_back({found->valueAt(row, 0).toString(), found->valueAt(row, 1).toString(),
                            QString::number(horavo::minutesOf(found->valueAt(row, 2))), found->valueAt(row, 3).toString()});
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(error.message()));
    }
    return rows;
}

} // namespace

ExitCode online(const store::DatabaseAddress& database)
{
    const Recent recent = recentNow();
    Table rows{kHeader};
    rows += database.isServer() ? fromServer(database, recent) : fromFile(database.text(), recent);
    if (rows.size() == 1) {
        say(stdout, QStringLiteral("现在没有正在计时的用户"));
        return Done;
    }
    for (QStringList& row : rows)
        for (QString& cell : row)
            cell = shownText(cell);
    QVector<int> widths(4, 0);
    for (const QStringList& row : rows)
        for (int c = 0; c < 4; ++c)
            widths[c] = qMax(widths[c], displayWidth(row[c]));
    QString text;
    for (const QStringList& row : rows) {
        QStringList shownCells;
        for (int c = 0; c < 4; ++c)
            shownCells << padded(row[c], widths[c], c == 2);
        text += shownCells.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    }
    put(stdout, text.toUtf8());
    return Done;
}

} // namespace setup
