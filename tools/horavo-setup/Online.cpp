#include <algorithm>
#include <optional>
#include <tuple>

#include <QDateTime>
#include <QVector>

#include "rules/DateText.h"
#include "rules/Minutes.h"
#include "store/ReadOnlyDatabase.h"
#include "store/Schema.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// The timer writes its row every minute; a row written within two minutes (one tick and
// a margin) belongs to a timer that is running.
constexpr int kRecentSeconds = 120;
constexpr qint64 kMinutesPerDay = 24 * 60;

std::optional<QDate> dateOf(const store::StoredValue& value)
{
    if (value.type != store::StoredValue::Type::Text || !horavo::isStoredDate(value.bytes))
        return std::nullopt;
    return QDate::fromString(store::storedText(value), QStringLiteral("yyyy-MM-dd"));
}

std::optional<QTime> timeOf(const store::StoredValue& value)
{
    if (value.type != store::StoredValue::Type::Text || !horavo::isStoredTime(value.bytes))
        return std::nullopt;
    return QTime::fromString(store::storedText(value), QStringLiteral("HH:mm:ss"));
}

// When a row was last written. idate is the day its session began and xtime the time of
// day of its last write, which falls as many days later as the session's minutes, from
// its start, have run past midnights: the timer adds one a minute, from 1 at the start.
std::optional<QDateTime> lastWrite(const store::ReadRow& row)
{
    const std::optional<QDate> day = dateOf(row.stored(1));
    const std::optional<QTime> start = timeOf(row.stored(2));
    const std::optional<QTime> last = timeOf(row.stored(4));
    if (!day || !last)
        return std::nullopt;
    qint64 midnights = 0;
    const std::optional<qint64> minutes = store::wholeNumber(row.stored(3));
    if (start && minutes) {
        const qint64 ran = std::clamp<qint64>(*minutes - 1, 0, kMinutesPerDay * 36500);
        midnights = (start->msecsSinceStartOfDay() / 60000 + ran) / kMinutesPerDay;
    }
    return QDateTime(day->addDays(midnights), *last);
}

// A row as listed, with what it is put in order by: the name, the day and the start, each
// as the bytes a file compares, a value that is none first.
struct Listed {
    QStringList cells;
    std::tuple<bool, QByteArray, QByteArray, bool, QByteArray> order;
};

std::tuple<bool, QByteArray, QByteArray, bool, QByteArray> orderOf(const store::ReadRow& row)
{
    const auto present = [&](int field) { return row.stored(field).type != store::StoredValue::Type::Null; };
    return {present(0), store::storedText(row.stored(0)).toUtf8(), store::storedText(row.stored(1)).toUtf8(), present(2),
            store::storedText(row.stored(2)).toUtf8()};
}

using Table = QVector<QStringList>;

const QStringList kHeader{QStringLiteral("用户名"), QStringLiteral("开始"), QStringLiteral("分钟"), QStringLiteral("最后写入")};

// The rows last written at or after two minutes ago. Only rows whose last write's time
// of day lies in those two minutes can be such rows: the rest are passed over by the
// statement, each of its window's two days when it crosses midnight.
Table recentRows(store::ReadOnlyDatabase& database)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime since = now.addSecs(-kRecentSeconds);
    const QDateTime sinceSecond = since.addMSecs(-since.time().msec());
    const QString sinceTime = since.time().toString(QStringLiteral("HH:mm:ss"));
    const bool crossesMidnight = since.date() != now.date();
    const QString sql = QStringLiteral("select iuser, idate, stime, itime, xtime from internet where xtime >= $1")
        + (crossesMidnight ? QStringLiteral(" or xtime <= $2") : QString());
    QStringList parameters{sinceTime};
    if (crossesMidnight)
        parameters << now.time().toString(QStringLiteral("HH:mm:ss"));

    std::vector<Listed> listed;
    database.forEachRow(sql, parameters, [&](const store::ReadRow& row) {
        const std::optional<QDateTime> written = lastWrite(row);
        if (!written || *written < sinceSecond)
            return;
        listed.push_back({{store::storedText(row.stored(0)), store::storedText(row.stored(2)),
                           QString::number(horavo::minutesOf(store::storedVariant(row.stored(3)))),
                           store::storedText(row.stored(4))},
                          orderOf(row)});
    });
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) { return a.order < b.order; });
    Table rows;
    for (const Listed& row : listed)
        rows.push_back(row.cells);
    return rows;
}

} // namespace

ExitCode online(const store::DatabaseAddress& database)
{
    const std::unique_ptr<store::ReadOnlyDatabase> read = openForReading(database, FileMissing, DatabaseFailure);
    Table rows{kHeader};
    try {
        rows += recentRows(*read);
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(error.message()));
    }
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
