#include <new>
#include <string>

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QVector>

#include <sqlite3.h>

#include "main_program/common/Minutes.h"
#include "main_program/common/NumberFormat.h"
#include "main_program/common/UnitPrice.h"
#include "store/Esql.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// What the aggregate horavo_minutes keeps for one group: the minutes as the windows count
// them (tallyon::minutesOf, tallyon::MinutesTotal) and the group's key, to name it when the
// sum overflowed.
struct MinutesGroup {
    bool started;
    tallyon::MinutesTotal total;
    std::string* key;
};

struct Overflows {
    QSet<QByteArray> keys;
};

QVariant valueOf(sqlite3_value* value)
{
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
        return sqlite3_value_double(value);
    case SQLITE_NULL:
        return {};
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(value)), sqlite3_value_bytes(value));
    }
}

QByteArray keyOf(sqlite3_value** args)
{
    const auto* kind = reinterpret_cast<const char*>(sqlite3_value_text(args[1]));
    const auto* user = reinterpret_cast<const char*>(sqlite3_value_text(args[2]));
    return QByteArray(kind ? kind : "") + '\x1f' + QByteArray(user ? user : "");
}

// horavo_minutes(itime, kind, iuser): the sum of minutesOf(itime), saturated.
void minutesStep(sqlite3_context* context, int, sqlite3_value** args)
{
    auto* group = static_cast<MinutesGroup*>(sqlite3_aggregate_context(context, sizeof(MinutesGroup)));
    if (!group)
        return sqlite3_result_error_nomem(context);
    if (!group->started) {
        new (&group->total) tallyon::MinutesTotal;
        group->key = new std::string(keyOf(args).toStdString());
        group->started = true;
    }
    // Whole numbers, nearly every row, go straight in.
    if (sqlite3_value_type(args[0]) == SQLITE_INTEGER)
        group->total.add(sqlite3_value_int64(args[0]));
    else
        group->total.add(tallyon::minutesOf(valueOf(args[0])));
}

void minutesFinal(sqlite3_context* context)
{
    auto* group = static_cast<MinutesGroup*>(sqlite3_aggregate_context(context, 0));
    if (!group || !group->started)
        return sqlite3_result_int64(context, 0);
    if (group->total.overflowed())
        static_cast<Overflows*>(sqlite3_user_data(context))->keys.insert(QByteArray::fromStdString(*group->key));
    delete group->key;
    sqlite3_result_int64(context, group->total.value());
}

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
float filePrice(const QString& path)
{
    const auto accounts = store::Esql(QStringLiteral("select * from knumber"), path);
    for (accounts->first(); !accounts->atEnd(); accounts->next()) {
        const QVariant inUse = accounts->value(QStringLiteral("useyn"));
        if (!inUse.isNull() && inUse.toBool())
            return tallyon::unitPrice(accounts->value(QStringLiteral("price")));
    }
    return tallyon::kFallbackPrice;
}

// One statement, so one read transaction: every row of internet is read once, grouped by
// kind (1 in the period, 2 date unreadable) and user. The test of the date is SQLite's
// own: date(x, '+0 days') gives x back only for a valid date written YYYY-MM-DD (the
// modifier makes it carry 2026-11-31 over into December); year 0 is no date either.
constexpr const char* kSql =
    "select k, iuser, count(*), horavo_minutes(itime, k, iuser) from ("
    " select iuser, itime, case when typeof(idate)='text' and date(idate, '+0 days') is idate and idate > '0000-12-31'"
    "  then idate between ?1 and ?2 else 2 end as k"
    " from internet where ?3 is null or iuser = ?3)"
    " where k > 0 group by k, iuser order by k, iuser";

Usage gather(const SetupRequest& request, const QString& path)
{
    Usage usage;
    const QDate today = QDate::currentDate();
    usage.from = request.from.value_or(QDate(today.year(), today.month(), 1).toString(QStringLiteral("yyyy-MM-dd")));
    usage.to = request.to.value_or(today.toString(QStringLiteral("yyyy-MM-dd")));
    if (usage.from > usage.to)
        refuse(BadCommandLine, QStringLiteral("期间的开始 %1 在结束 %2 之后").arg(usage.from, usage.to));

    const store::DatabaseHandle db = openForReading(path, FileMissing, DatabaseFailure);
    if (request.price) {
        usage.price = *request.price;
        usage.priceText = tallyon::formatDouble(usage.price);
    } else {
        try {
            // The price as the windows show it (single precision, 7 digits), so that 0.3
            // bills as 0.3 and not as the single-precision 0.300000011920929.
            usage.priceText = tallyon::formatSingle(filePrice(path));
            usage.price = usage.priceText.toDouble();
        } catch (const store::StoreError& error) {
            refuse(DatabaseFailure, error.message());
        }
    }

    Overflows overflows;
    sqlite3* raw = db.get();
    sqlite3_create_function_v2(raw, "horavo_minutes", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &overflows, nullptr,
                               minutesStep, minutesFinal, nullptr);
    sqlite3_stmt* stmtRaw = nullptr;
    const QByteArray sql(kSql);
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
    tallyon::MinutesTotal all;
    tallyon::MinutesTotal unreadable;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(stmtRaw)) == SQLITE_ROW) {
        Line line;
        const int kind = sqlite3_column_int(stmtRaw, 0);
        line.user = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmtRaw, 1)),
                                      sqlite3_column_bytes(stmtRaw, 1));
        line.rows = sqlite3_column_int64(stmtRaw, 2);
        line.minutes = sqlite3_column_int64(stmtRaw, 3);
        line.overflowed = overflows.keys.contains(QByteArray::number(kind) + '\x1f' + line.user.toUtf8());
        tallyon::MinutesTotal& sum = kind == 1 ? all : unreadable;
        Line& into = kind == 1 ? usage.total : usage.unreadable;
        sum.add(line.minutes);
        into.rows += line.rows;
        into.overflowed = into.overflowed || line.overflowed;
        if (kind == 1)
            usage.users << line;
    }
    if (rc != SQLITE_DONE)
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(QString::fromUtf8(sqlite3_errmsg(raw))));
    usage.total.minutes = all.value();
    usage.total.overflowed = usage.total.overflowed || all.overflowed();
    usage.unreadable.minutes = unreadable.value();
    usage.unreadable.overflowed = usage.unreadable.overflowed || unreadable.overflowed();
    usage.overflowed = usage.total.overflowed || usage.unreadable.overflowed;
    return usage;
}

QString hoursOf(const Line& line)
{
    return tallyon::formatDouble(double(line.minutes) / 60.0);
}

// gprice × minutes / 60, in double precision.
QString amountOf(const Line& line, double price)
{
    return tallyon::formatDouble(double(line.minutes) * price / 60.0);
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
        add(line.user, line, true);
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
        record({QStringLiteral("用户"), line.user, QString::number(line.rows), QString::number(line.minutes), hoursOf(line),
                amountOf(line, usage.price)});
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
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace

ExitCode report(const SetupRequest& request, const QString& path)
{
    const Usage usage = gather(request, path);
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
        say(stderr, QStringLiteral("horavo-setup：") + tallyon::totalTooLargeText());
    if (usage.unreadable.rows > 0)
        say(stderr, QStringLiteral("horavo-setup：有 %1 条使用记录的日期无法识别，没有计入任何期间（见 check）")
                        .arg(usage.unreadable.rows));
    return Done;
}

} // namespace setup
