#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>

#include <sqlite3.h>

#include "rules/Amount.h"
#include "rules/DateText.h"
#include "rules/Minutes.h"
#include "rules/NumberFormat.h"
#include "rules/UnitPrice.h"
#include "store/Esql.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/DatabaseChoice.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// The minutes of one row's itime as the windows count them; whole numbers, nearly every
// row, straight.
qint64 minutesOfColumn(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(stmt, column);
    case SQLITE_NULL:
        return 0;
    case SQLITE_FLOAT:
        return horavo::minutesOf(sqlite3_column_double(stmt, column));
    default:
        return horavo::minutesOf(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                                    sqlite3_column_bytes(stmt, column)));
    }
}

// The rows and minutes of one user on one day.
struct Group {
    std::size_t nameLength = 0; // the key begins with the name
    bool textDate = false;
    qint64 rows = 0;
    horavo::MinutesTotal minutes;
};

struct TransparentHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};

struct Line {
    QString user;
    qint64 rows = 0;
    qint64 minutes = 0;
    bool overflowed = false;
};

struct Usage {
    QString from;
    QString to;
    double price = 0;
    QString priceText;
    QVector<Line> users;
    Line total;
    Line unreadable; // rows whose idate is not a date in the stored form, of any time
    bool overflowed = false;
};

// The unit price the windows take: that of the first account in use, else 0.3.
float databasePrice(const store::DatabaseAddress& database)
{
    return horavo::priceOfTheAccountInUse(*store::Esql(QStringLiteral("select * from knumber"), database));
}

// A date as the usage rows store it (its UTF-8 bytes): YYYY-MM-DD, a real day.
bool storedDate(std::string_view text)
{
    return text.size() == 10 && horavo::isStoredDate(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void addGroup(Line& line, horavo::MinutesTotal& sum, const Group& group)
{
    line.rows += group.rows;
    sum.add(group.minutes.value());
    line.overflowed = line.overflowed || group.minutes.overflowed() || sum.overflowed();
    line.minutes = sum.value();
}

// The usage rows as they are read, summed per user and day in a hash table: SQLite would
// sort them for a GROUP BY, which takes longer than the whole scan (bench/report). The
// rows given may be more than those of the period: a row counts in the period only when
// its date is a stored date within it, and rows whose date is none count apart.
class UsageTally {
public:
    // user: the name's UTF-8 bytes; date: the idate's text, or nullopt for a value that
    // is no text (NULL, a number).
    void add(std::string_view user, std::optional<std::string_view> date, qint64 minutes)
    {
        // Keyed by the user's name, a 0 byte and the day; a date that is not text gets
        // its own key after a 1 byte.
        key_.assign(user);
        if (date) {
            key_.push_back('\0');
            key_.append(*date);
        } else {
            key_.push_back('\1');
        }
        auto found = groups_.find(std::string_view(key_));
        if (found == groups_.end())
            found = groups_.emplace(key_, Group{user.size(), date.has_value(), 0, {}}).first;
        ++found->second.rows;
        found->second.minutes.add(minutes);
    }

    // The lines of usage.from to usage.to into usage.
    void finishInto(Usage& usage) const
    {
        const QByteArray from = usage.from.toUtf8();
        const QByteArray to = usage.to.toUtf8();
        // Users in the byte order of their names, as SQLite compares them.
        std::map<std::string_view, std::pair<Line, horavo::MinutesTotal>> users;
        horavo::MinutesTotal unreadable;
        for (const auto& [groupKey, group] : groups_) {
            const std::string_view name = std::string_view(groupKey).substr(0, group.nameLength);
            const std::string_view date = std::string_view(groupKey).substr(group.nameLength + 1);
            const bool inPeriod = group.textDate && storedDate(date) && date >= std::string_view(from.constData())
                && date <= std::string_view(to.constData());
            if (!inPeriod) {
                addGroup(usage.unreadable, unreadable, group);
                continue;
            }
            auto& [line, sum] = users[name];
            addGroup(line, sum, group);
        }
        horavo::MinutesTotal all;
        for (auto& [name, entry] : users) {
            Line& line = entry.first;
            line.user = QString::fromUtf8(name.data(), qsizetype(name.size()));
            usage.total.rows += line.rows;
            all.add(line.minutes);
            usage.total.overflowed = usage.total.overflowed || line.overflowed;
            usage.users << line;
        }
        usage.total.minutes = all.value();
        usage.total.overflowed = usage.total.overflowed || all.overflowed();
        usage.overflowed = usage.total.overflowed || usage.unreadable.overflowed;
    }

private:
    std::unordered_map<std::string, Group, TransparentHash, std::equal_to<>> groups_;
    std::string key_;
};

// One statement, so one read transaction: the rows of the period, and those whose date
// is none (SQLite's own test: date(x, '+0 days') gives x back only for a valid date
// YYYY-MM-DD, carrying 2026-11-31 over into December). The rows of other days go by on a
// comparison of text.
constexpr const char* kFileSql =
    "select iuser, idate, itime from internet"
    " where (idate between ?1 and ?2"
    "  or not (typeof(idate) = 'text' and date(idate, '+0 days') is idate and idate > '0000-12-31'))"
    "%1";

// A column's text, valid until the next step (NULL gives none).
std::string_view textOfColumn(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return {text, std::size_t(sqlite3_column_bytes(stmt, column))};
}

void tallyFile(const SetupRequest& request, const Usage& usage, const store::DatabaseHandle& db, UsageTally& tally)
{
    sqlite3* raw = db.get();
    sqlite3_stmt* stmtRaw = nullptr;
    const QByteArray sql = QByteArray(kFileSql).replace("%1", request.user ? " and iuser = ?3" : "");
    if (sqlite3_prepare_v2(raw, sql.constData(), int(sql.size()), &stmtRaw, nullptr) != SQLITE_OK)
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(QString::fromUtf8(sqlite3_errmsg(raw))));
    const store::Statement stmt(stmtRaw);
    const QByteArray from = usage.from.toUtf8();
    const QByteArray to = usage.to.toUtf8();
    const QByteArray user = request.user.value_or(QString()).toUtf8();
    sqlite3_bind_text(stmtRaw, 1, from.constData(), int(from.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmtRaw, 2, to.constData(), int(to.size()), SQLITE_STATIC);
    if (request.user)
        sqlite3_bind_text(stmtRaw, 3, user.constData(), int(user.size()), SQLITE_STATIC);

    int rc = firstStep(stmtRaw);
    for (; rc == SQLITE_ROW; rc = sqlite3_step(stmtRaw)) {
        std::optional<std::string_view> date;
        if (sqlite3_column_type(stmtRaw, 1) == SQLITE_TEXT)
            date = textOfColumn(stmtRaw, 1);
        tally.add(textOfColumn(stmtRaw, 0), date, minutesOfColumn(stmtRaw, 2));
    }
    if (rc != SQLITE_DONE)
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(QString::fromUtf8(sqlite3_errmsg(raw))));
}

// The same rows from a server, where idate is text or NULL: a date is a stored one when
// it has the form YYYY-MM-DD and names a real day of the years 1 to 9999, worked out
// without any cast that could fail. Dates compare as bytes (collation "C"), as in a file.
constexpr const char* kServerSql =
    "select iuser, idate, itime from internet"
    " where (idate collate \"C\" between $1 and $2"
    "  or not coalesce(case when idate ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}$' then"
    "   substr(idate, 1, 4)::int >= 1 and substr(idate, 6, 2)::int between 1 and 12"
    "   and substr(idate, 9, 2)::int between 1 and case"
    "    when substr(idate, 6, 2)::int in (4, 6, 9, 11) then 30"
    "    when substr(idate, 6, 2)::int <> 2 then 31"
    "    when substr(idate, 1, 4)::int % 400 = 0 then 29"
    "    when substr(idate, 1, 4)::int % 100 = 0 then 28"
    "    when substr(idate, 1, 4)::int % 4 = 0 then 29"
    "    else 28 end"
    "   end, false))"
    "%1";

void tallyServer(const SetupRequest& request, const Usage& usage, const store::DatabaseAddress& database, UsageTally& tally)
{
    QStringList parameters{usage.from, usage.to};
    if (request.user)
        parameters << *request.user;
    const QString sql = QString::fromLatin1(kServerSql).arg(request.user ? QStringLiteral(" and iuser = $3") : QString());
    std::unique_ptr<store::RecordSet> rows;
    try {
        rows = store::Esql(sql, parameters, database);
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(error.message()));
    }
    std::string name;
    std::string date;
    for (std::size_t row = 0; row < rows->rowCount(); ++row) {
        name = rows->valueAt(row, 0).toString().toStdString();
        const QVariant day = rows->valueAt(row, 1);
        std::optional<std::string_view> dateText;
        if (!day.isNull()) {
            date = day.toString().toStdString();
            dateText = date;
        }
        tally.add(name, dateText, horavo::minutesOf(rows->valueAt(row, 2)));
    }
}

Usage gather(const SetupRequest& request, const store::DatabaseAddress& database)
{
    Usage usage;
    const QDate today = QDate::currentDate();
    usage.from = request.from.value_or(QDate(today.year(), today.month(), 1).toString(QStringLiteral("yyyy-MM-dd")));
    usage.to = request.to.value_or(today.toString(QStringLiteral("yyyy-MM-dd")));
    if (usage.from > usage.to)
        refuse(BadCommandLine, QStringLiteral("期间的开始 %1 在结束 %2 之后").arg(usage.from, usage.to));

    std::optional<store::DatabaseHandle> file;
    if (database.isServer())
        requireDatabase(database, FileMissing, DatabaseFailure);
    else
        file.emplace(openForReading(database.text(), FileMissing, DatabaseFailure));
    if (request.price) {
        usage.price = *request.price;
        usage.priceText = horavo::formatDouble(usage.price);
    } else {
        try {
            // The price as the windows show it (single precision, 7 digits), so that 0.3
            // bills as 0.3 and not as the single-precision 0.300000011920929.
            usage.priceText = horavo::formatSingle(databasePrice(database));
            usage.price = usage.priceText.toDouble();
        } catch (const store::StoreError& error) {
            refuse(DatabaseFailure, error.message());
        }
    }

    UsageTally tally;
    if (file)
        tallyFile(request, usage, *file, tally);
    else
        tallyServer(request, usage, database, tally);
    tally.finishInto(usage);
    return usage;
}

QString hoursOf(const Line& line)
{
    return horavo::formatDouble(horavo::hoursOf(line.minutes));
}

QString amountOf(const Line& line, double price)
{
    return horavo::formatDouble(horavo::amountOf(line.minutes, price));
}

const QString kUnreadableLabel = QStringLiteral("（日期无法识别）");
const QString kTotalLabel = QStringLiteral("合计");

QByteArray asTable(const Usage& usage)
{
    QVector<QStringList> cells{{QStringLiteral("用户名"), QStringLiteral("记录数"), QStringLiteral("分钟"),
                                QStringLiteral("小时"), QStringLiteral("金额（元）")}};
    const auto add = [&](const QString& label, const Line& line, bool priced) {
        cells.push_back({label, QString::number(line.rows), QString::number(line.minutes),
                         priced ? hoursOf(line) : QString(), priced ? amountOf(line, usage.price) : QString()});
    };
    for (const Line& line : usage.users)
        add(shownText(line.user), line, true);
    add(kTotalLabel, usage.total, true);
    if (usage.unreadable.rows > 0)
        add(kUnreadableLabel, usage.unreadable, false);
    QVector<int> widths(5, 0);
    for (const QStringList& row : cells)
        for (int c = 0; c < 5; ++c)
            widths[c] = qMax(widths[c], displayWidth(row[c]));
    QString text = QStringLiteral("期间 %1 至 %2，单价 %3 元/小时\n").arg(usage.from, usage.to, usage.priceText);
    for (const QStringList& row : cells) {
        QStringList shown;
        for (int c = 0; c < 5; ++c)
            shown << padded(row[c], widths[c], c > 0);
        text += shown.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    }
    return text.toUtf8();
}

QString csvField(const QString& field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n'))
        && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray asCsv(const Usage& usage, bool bom)
{
    QString text;
    const auto record = [&](const QStringList& fields) {
        QStringList quoted;
        for (const QString& f : fields)
            quoted << csvField(f);
        text += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    record({QStringLiteral("类别"), QStringLiteral("用户名"), QStringLiteral("记录数"), QStringLiteral("分钟"),
            QStringLiteral("小时"), QStringLiteral("金额")});
    for (const Line& line : usage.users)
        record({QStringLiteral("用户"), csvTextCell(line.user), QString::number(line.rows), QString::number(line.minutes),
                hoursOf(line), amountOf(line, usage.price)});
    record({kTotalLabel, QString(), QString::number(usage.total.rows), QString::number(usage.total.minutes),
            hoursOf(usage.total), amountOf(usage.total, usage.price)});
    if (usage.unreadable.rows > 0)
        record({QStringLiteral("日期无法识别"), QString(), QString::number(usage.unreadable.rows),
                QString::number(usage.unreadable.minutes), QString(), QString()});
    return (bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8();
}

QJsonObject jsonLine(const Line& line, double price, bool priced)
{
    QJsonObject o{{QStringLiteral("rows"), line.rows}, {QStringLiteral("minutes"), line.minutes}};
    if (priced) {
        o.insert(QStringLiteral("hours"), hoursOf(line));
        o.insert(QStringLiteral("amount"), amountOf(line, price));
    }
    if (line.overflowed)
        o.insert(QStringLiteral("minutesOverflowed"), true);
    return o;
}

QByteArray asJson(const Usage& usage)
{
    QJsonArray users;
    for (const Line& line : usage.users) {
        QJsonObject o = jsonLine(line, usage.price, true);
        o.insert(QStringLiteral("user"), line.user);
        users.append(o);
    }
    const QJsonObject root{
        {QStringLiteral("from"), usage.from},
        {QStringLiteral("to"), usage.to},
        {QStringLiteral("price"), usage.priceText},
        {QStringLiteral("users"), users},
        {QStringLiteral("total"), jsonLine(usage.total, usage.price, true)},
        {QStringLiteral("unreadableDates"), jsonLine(usage.unreadable, usage.price, false)},
        {QStringLiteral("minutesOverflowed"), usage.overflowed},
    };
    return escapedJson(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

} // namespace

ExitCode report(const SetupRequest& request, const store::DatabaseAddress& database)
{
    const Usage usage = gather(request, database);
    switch (request.format) {
    case SetupRequest::Format::Table:
        put(stdout, asTable(usage));
        break;
    case SetupRequest::Format::Csv:
        put(stdout, asCsv(usage, request.bom));
        break;
    case SetupRequest::Format::Json:
        put(stdout, asJson(usage));
        break;
    }
    if (usage.overflowed)
        say(stderr, QStringLiteral("horavo-setup：") + horavo::totalTooLargeText());
    if (usage.unreadable.rows > 0)
        say(stderr, QStringLiteral("horavo-setup：有 %1 条使用记录的日期无法识别，没有计入任何期间（见 check）")
                        .arg(usage.unreadable.rows));
    return Done;
}

} // namespace setup
