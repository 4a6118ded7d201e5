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
#include "tools/horavo-setup/ToolOutput.h"

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
float databasePrice(store::ReadOnlyDatabase& database)
{
    std::optional<float> price;
    database.forEachRow(QStringLiteral("select useyn, price from knumber"), {}, [&](const store::ReadRow& account) {
        if (!price && horavo::isInUse(account.value(0)))
            price = horavo::unitPrice(account.value(1));
    });
    return price.value_or(horavo::kFallbackPrice);
}

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
void tally(const SetupRequest& request, store::ReadOnlyDatabase& database, UsageTally& tally)
{
    QString sql = QStringLiteral("select iuser, idate, itime from internet");
    QStringList parameters;
    if (request.user) {
        sql += QStringLiteral(" where iuser = $1");
        parameters << *request.user;
    }
    std::string name;
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
    try {
        tally(request, *read, rows);
    } catch (const store::StoreError& error) {
        refuse(DatabaseFailure, QStringLiteral("读不了使用记录：%1").arg(error.message()));
    }
    rows.finishInto(usage);
    return usage;
}

QString hoursOf(const Line& line)
{
    return horavo::formatDouble(horavo::hoursOf(line.minutes));
}

// nullopt when the amount is out of double's range.
std::optional<double> amount(const Line& line, double price)
{
    const double amount = horavo::amountOf(line.minutes, price);
    return std::isfinite(amount) ? std::optional<double>(amount) : std::nullopt;
}

QString amountOf(const Line& line, double price)
{
    return horavo::formatDouble(amount(line, price).value_or(0));
}

// Every amount the report shows can be written as a number; only a price given on the
// command line can be that large.
void requireAmounts(const Usage& usage)
{
    QVector<Line> lines = usage.users;
    lines << usage.total;
    for (const Line& line : lines) {
        if (!amount(line, usage.price))
            refuse(BadCommandLine, QStringLiteral("--price %1 太大：%2 分钟的金额超出了能计算的范围（绝对值约 1.8E+308 以内），"
                                                  "没有输出报表")
                                       .arg(usage.priceText)
                                       .arg(line.minutes));
    }
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
    requireAmounts(usage);
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
