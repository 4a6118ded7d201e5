#include <cmath>
#include <limits>
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

#include "rules/Amount.h"
#include "rules/DateText.h"
#include "rules/Minutes.h"
#include "rules/NumberFormat.h"
#include "rules/UnitPrice.h"
#include "store/ReadOnlyDatabase.h"
#include "store/StoreError.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/DatabaseChoice.h"
#include "tools/horavo-setup/ProgressLine.h"
#include "tools/horavo-setup/ToolOutput.h"
#include "tools/horavo-setup/UsageReport.h"

namespace setup {

namespace {

// The minutes of one row's itime as the windows count them; whole numbers, nearly every
// row, straight.
qint64 minutesOfValue(const store::StoredValue& value)
{
    if (value.type == store::StoredValue::Type::Integer)
        return value.integer;
    return horavo::minutesOf(store::storedVariant(value));
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

// The unit price the windows take: that of the first account in use, else 0.3.
float databasePrice(store::ReadOnlyDatabase& database)
{
    std::optional<float> price;
    database.forEachRow(QStringLiteral("select useyn, price from knumber"), {}, [&](const store::ReadRow& account) {
        if (!price && horavo::isInUse(account.value(0)))
            price = horavo::unitPrice(account.value(1));
    });
    return price.value_or(horavo::kFallbackPrice);
}

using Line = UsageLine;

void addGroup(Line& line, horavo::MinutesTotal& sum, const Group& group)
{
    line.rows += group.rows;
    sum.add(group.minutes.value());
    line.overflowed = line.overflowed || group.minutes.overflowed() || sum.overflowed();
    line.minutes = sum.value();
}

// The usage rows as they are read, summed per user and day in a hash table: SQLite would
// sort them for a GROUP BY, which takes longer than the whole scan (bench/report). Rows
// of dates outside the period are passed over; a row counts in the period only when its
// date is a stored date within it, and rows whose date is none count apart.
class UsageTally {
public:
    UsageTally(const QString& from, const QString& to) : from_(from.toStdString()), to_(to.toStdString()) {}

    // user: the name's UTF-8 bytes; date: the idate's text, or nullopt for a value that
    // is no text (NULL, a number).
    void add(std::string_view user, std::optional<std::string_view> date, qint64 minutes)
    {
        if (date && (*date < from_ || *date > to_) && horavo::isStoredDate(*date))
            return;
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
        std::map<std::pair<std::string_view, std::string_view>, std::pair<Line, horavo::MinutesTotal>> days;
        std::map<std::string_view, std::pair<Line, horavo::MinutesTotal>> daily;
        horavo::MinutesTotal unreadable;
        for (const auto& [groupKey, group] : groups_) {
            const std::string_view name = std::string_view(groupKey).substr(0, group.nameLength);
            const std::string_view date = std::string_view(groupKey).substr(group.nameLength + 1);
            const bool inPeriod = group.textDate && horavo::isStoredDate(date) && date >= std::string_view(from.constData())
                && date <= std::string_view(to.constData());
            if (!inPeriod) {
                addGroup(usage.unreadable, unreadable, group);
                continue;
            }
            auto& [line, sum] = users[name];
            addGroup(line, sum, group);
            auto& [dayLine, daySum] = days[{name, date}];
            addGroup(dayLine, daySum, group);
            auto& [dailyLine, dailySum] = daily[date];
            addGroup(dailyLine, dailySum, group);
        }
        for (auto& [nameAndDate, entry] : days) {
            entry.first.user = QString::fromUtf8(nameAndDate.first.data(), qsizetype(nameAndDate.first.size()));
            entry.first.date = QString::fromLatin1(nameAndDate.second.data(), qsizetype(nameAndDate.second.size()));
            usage.days << entry.first;
        }
        for (auto& [date, entry] : daily) {
            entry.first.date = QString::fromLatin1(date.data(), qsizetype(date.size()));
            usage.dailyTotals << entry.first;
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
    std::string from_;
    std::string to_;
    std::unordered_map<std::string, Group, TransparentHash, std::equal_to<>> groups_;
    std::string key_;
};

// The text of a stored value, valid as long as the value (NULL gives none).
std::string_view bytesOf(const store::StoredValue& value)
{
    return value.type == store::StoredValue::Type::Text || value.type == store::StoredValue::Type::Blob
        ? value.bytes
        : std::string_view();
}

// Every usage row (of one user), in one statement, so one read transaction.
void tally(const SetupRequest& request, store::ReadOnlyDatabase& database, UsageTally& tally, ProgressLine& progress)
{
    QString sql = QStringLiteral("select iuser, idate, itime from internet");
    QStringList parameters;
    if (request.user) {
        sql += QStringLiteral(" where iuser = $1");
        parameters << *request.user;
    }
    std::string name;
    qint64 read = 0;
    database.forEachRow(sql, parameters, [&](const store::ReadRow& row) {
        const store::StoredValue& user = row.stored(0);
        const store::StoredValue& date = row.stored(1);
        std::string_view userBytes = bytesOf(user);
        if (user.type == store::StoredValue::Type::Integer || user.type == store::StoredValue::Type::Real) {
            name = store::storedText(user).toStdString();
            userBytes = name;
        }
        std::optional<std::string_view> dateText;
        if (date.type == store::StoredValue::Type::Text)
            dateText = date.bytes;
        tally.add(userBytes, dateText, minutesOfValue(row.stored(2)));
        ++read;
        if (progress.due())
            progress.show(QStringLiteral("已读 %1 条使用记录").arg(read));
    });
}

Usage gather(const SetupRequest& request, const store::DatabaseAddress& database)
{
    Usage usage;
    const QDate today = QDate::currentDate();
    usage.from = request.from.value_or(QDate(today.year(), today.month(), 1).toString(QStringLiteral("yyyy-MM-dd")));
    usage.to = request.to.value_or(today.toString(QStringLiteral("yyyy-MM-dd")));
    if (usage.from > usage.to)
        refuse(BadCommandLine, QStringLiteral("期间的开始 %1 在结束 %2 之后").arg(usage.from, usage.to));

    const std::unique_ptr<store::ReadOnlyDatabase> read = openForReading(database, FileMissing, DatabaseFailure);
    if (request.price) {
        usage.price = *request.price;
        usage.priceText = horavo::formatDouble(usage.price);
    } else {
        try {
            // The price as the windows show it (single precision, 7 digits), so that 0.3
            // bills as 0.3 and not as the single-precision 0.300000011920929.
            usage.priceText = horavo::formatSingle(databasePrice(*read));
            usage.price = usage.priceText.toDouble();
        } catch (const store::StoreError& error) {
            refuse(DatabaseFailure, error.message());
        }
    }

    UsageTally rows(usage.from, usage.to);
    {
        ProgressLine progress(stderr);
        try {
            tally(request, *read, rows, progress);
        } catch (const store::StoreError& error) {
            refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(error.message()));
        }
    }
    rows.finishInto(usage);
    return usage;
}

// Every amount the report shows can be written as a number; only a price given on the
// command line can be that large.
void requireAmounts(const Usage& usage)
{
    QVector<Line> lines = usage.users;
    lines << usage.total;
    for (const Line& line : lines) {
        if (!std::isfinite(horavo::amountOf(line.minutes, usage.price)))
            refuse(BadCommandLine, QStringLiteral("--price %1 太大：%2 分钟的金额超出了能计算的范围（绝对值约 1.8E+308 以内），"
                                                  "没有输出报表")
                                       .arg(usage.priceText)
                                       .arg(line.minutes));
    }
}

const QString kUnreadableLabel = QStringLiteral("（日期无法识别）");
const QString kTotalLabel = QStringLiteral("合计");

const QVector<Line>& linesOf(const Usage& usage, const ReportLayout& layout)
{
    return layout.byDay ? usage.days : usage.users;
}

QByteArray asTable(const Usage& usage, const ReportLayout& layout)
{
    QStringList heading{QStringLiteral("用户名"), QStringLiteral("记录数"), QStringLiteral("分钟"), QStringLiteral("小时"),
                        QStringLiteral("金额（元）")};
    if (layout.byDay)
        heading.insert(1, QStringLiteral("日期"));
    const int columns = int(heading.size());
    QVector<QStringList> cells{heading};
    const auto add = [&](const QString& label, const Line& line, bool priced) {
        QStringList row{label, QString::number(line.rows), QString::number(line.minutes),
                        priced ? hoursText(line.minutes) : QString(), priced ? amountText(line.minutes, usage, layout) : QString()};
        if (layout.byDay)
            row.insert(1, line.date);
        cells.push_back(row);
    };
    for (const Line& line : linesOf(usage, layout))
        add(shownText(line.user), line, true);
    add(kTotalLabel, usage.total, true);
    if (usage.unreadable.rows > 0)
        add(kUnreadableLabel, usage.unreadable, false);
    QVector<int> widths(columns, 0);
    for (const QStringList& row : cells)
        for (int c = 0; c < columns; ++c)
            widths[c] = qMax(widths[c], displayWidth(row[c]));
    const int firstNumber = layout.byDay ? 2 : 1;
    QString text = QStringLiteral("期间 %1 至 %2，单价 %3 元/小时，金额%4\n")
                       .arg(usage.from, usage.to, usage.priceText, roundingText(layout));
    for (const QStringList& row : cells) {
        QStringList shown;
        for (int c = 0; c < columns; ++c)
            shown << padded(row[c], widths[c], c >= firstNumber);
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

// One record a line, every record with the same columns: the period and the price are
// the last three columns of each, so that a spreadsheet or a CSV reader needs no other
// line and any record taken alone still says what it bills.
QByteArray asCsv(const Usage& usage, const ReportLayout& layout, bool bom)
{
    QString text;
    const auto record = [&](QStringList fields, const QString& date) {
        if (layout.byDay)
            fields.insert(2, date);
        QStringList quoted;
        for (const QString& f : fields)
            quoted << csvField(f);
        text += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    const QStringList period{usage.from, usage.to, usage.priceText};
    record(QStringList{QStringLiteral("类别"), QStringLiteral("用户名"), QStringLiteral("记录数"), QStringLiteral("分钟"),
                       QStringLiteral("小时"), QStringLiteral("金额"), QStringLiteral("期间开始"), QStringLiteral("期间结束"),
                       QStringLiteral("单价（元/小时）")},
           QStringLiteral("日期"));
    for (const Line& line : linesOf(usage, layout))
        record(QStringList{QStringLiteral("用户"), csvTextCell(line.user), QString::number(line.rows),
                           QString::number(line.minutes), hoursText(line.minutes), amountText(line.minutes, usage, layout)}
                   + period,
               line.date);
    record(QStringList{kTotalLabel, QString(), QString::number(usage.total.rows), QString::number(usage.total.minutes),
                       hoursText(usage.total.minutes), amountText(usage.total.minutes, usage, layout)}
               + period,
           QString());
    if (usage.unreadable.rows > 0)
        record(QStringList{QStringLiteral("日期无法识别"), QString(), QString::number(usage.unreadable.rows),
                           QString::number(usage.unreadable.minutes), QString(), QString()}
                   + period,
               QString());
    return (bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8();
}

QJsonObject jsonLine(const Line& line, const Usage& usage, const ReportLayout& layout, bool priced)
{
    QJsonObject o{{QStringLiteral("rows"), line.rows}, {QStringLiteral("minutes"), line.minutes}};
    if (priced) {
        o.insert(QStringLiteral("hours"), hoursText(line.minutes));
        o.insert(QStringLiteral("amount"), amountText(line.minutes, usage, layout));
    }
    if (line.overflowed)
        o.insert(QStringLiteral("minutesOverflowed"), true);
    return o;
}

QByteArray asJson(const Usage& usage, const ReportLayout& layout)
{
    QJsonArray lines;
    for (const Line& line : linesOf(usage, layout)) {
        QJsonObject o = jsonLine(line, usage, layout, true);
        o.insert(QStringLiteral("user"), line.user);
        if (layout.byDay)
            o.insert(QStringLiteral("date"), line.date);
        lines.append(o);
    }
    const QJsonObject root{
        {QStringLiteral("from"), usage.from},
        {QStringLiteral("to"), usage.to},
        {QStringLiteral("price"), usage.priceText},
        {QStringLiteral("rounding"), layout.exact ? QStringLiteral("exact") : QStringLiteral("fen")},
        {layout.byDay ? QStringLiteral("days") : QStringLiteral("users"), lines},
        {QStringLiteral("total"), jsonLine(usage.total, usage, layout, true)},
        {QStringLiteral("unreadableDates"), jsonLine(usage.unreadable, usage, layout, false)},
        {QStringLiteral("minutesOverflowed"), usage.overflowed},
    };
    return escapedJson(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

} // namespace

QString amountText(qint64 minutes, const Usage& usage, const ReportLayout& layout)
{
    if (!layout.exact) {
        if (const std::optional<QString> fen = horavo::amountInFen(minutes, usage.priceText))
            return *fen;
    }
    // Beyond 128 bits of fen a double has no fen left to round.
    return horavo::formatDouble(horavo::amountOf(minutes, usage.price));
}

QString hoursText(qint64 minutes)
{
    return horavo::formatDouble(horavo::hoursOf(minutes));
}

QString roundingText(const ReportLayout& layout)
{
    return layout.exact ? QStringLiteral("未取整") : QStringLiteral("按分四舍五入");
}

ExitCode report(const SetupRequest& request, const store::DatabaseAddress& database)
{
    const Usage usage = gather(request, database);
    requireAmounts(usage);
    const ReportLayout layout{request.by == SetupRequest::Grouping::Day, request.exact, request.user.value_or(QString())};
    switch (request.format) {
    case SetupRequest::Format::Table:
        put(stdout, asTable(usage, layout));
        break;
    case SetupRequest::Format::Csv:
        put(stdout, asCsv(usage, layout, request.bom));
        break;
    case SetupRequest::Format::Json:
        put(stdout, asJson(usage, layout));
        break;
    case SetupRequest::Format::Html:
        put(stdout, usagePage(usage, layout));
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
