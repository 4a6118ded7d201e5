#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

#include <QHash>

#include "rules/DateText.h"
#include "rules/Permission.h"
#include "store/ReadOnlyDatabase.h"
#include "store/Schema.h"
#include "store/UserName.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/ProgressLine.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// Rows read per statement: each statement is a read transaction of its own, so a program
// that records waits at most for one batch.
constexpr int kBatch = 1000;

using Value = store::StoredValue;
using Type = store::StoredValue::Type;

bool isNull(const Value& v)
{
    return v.type == Type::Null;
}

bool isNumber(const Value& v)
{
    return v.type == Type::Integer || v.type == Type::Real;
}

bool isEmptyText(const Value& v)
{
    return isNull(v) || ((v.type == Type::Text || v.type == Type::Blob) && v.bytes.empty());
}

// A value as the lines show it: NULL, a number as stored, text in single quotes (quotes
// doubled), a blob as X'..'. Passwords are shown only as whether there is one.
QString shown(const Value& v, bool secret = false)
{
    switch (v.type) {
    case Type::Null:
        return QStringLiteral("NULL");
    case Type::Integer:
    case Type::Real:
        return store::storedText(v);
    case Type::Blob:
        return QStringLiteral("X'%1'").arg(QString::fromLatin1(QByteArray(v.bytes.data(), qsizetype(v.bytes.size())).toHex()));
    case Type::Text:
        break;
    }
    if (secret && !v.bytes.empty())
        return QStringLiteral("***");
    return QLatin1Char('\'') + shownText(store::storedText(v)).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

// A value of a date or time column in the form the programs store.
bool storedAs(const Value& v, bool (*form)(std::string_view))
{
    return v.type == Type::Text && form(v.bytes);
}

class Checker {
public:
    explicit Checker(store::ReadOnlyDatabase& database) : database_(database), key_(database.rowKeyColumn()) {}

    // Reads table in batches by the row's key; row gets the key and the columns.
    void eachRow(const char* table, const char* columns, const std::function<void(qint64, const store::ReadRow&)>& row)
    {
        const QString sql = QStringLiteral("select %1, %2 from %3 where %1 > $1 order by %1 limit %4")
                                .arg(key_, QString::fromLatin1(columns), QString::fromLatin1(table))
                                .arg(kBatch);
        qint64 last = std::numeric_limits<qint64>::min();
        qint64 read = 0;
        for (;;) {
            int count = 0;
            try {
                database_.forEachRow(sql, {QString::number(last)}, [&](const store::ReadRow& stored) {
                    last = store::wholeNumber(stored.stored(0)).value_or(last);
                    ++count;
                    row(last, stored);
                    ++read;
                    if (progress_.due())
                        progress_.show(QStringLiteral("正在检查表 %1：已读 %2 行").arg(QString::fromLatin1(table)).arg(read));
                });
            } catch (const store::StoreError& error) {
                refuse(CheckUnreadable, QStringLiteral("读不了表 %1：%2").arg(QString::fromLatin1(table), error.message()));
            }
            if (count < kBatch)
                return;
        }
    }

    void found(const QString& table, qint64 key, const QStringList& values, const QStringList& reasons)
    {
        if (reasons.isEmpty())
            return;
        progress_.clear();
        say(stdout, QStringLiteral("%1 %2 %3：%4：%5").arg(table, key_).arg(key).arg(values.join(QLatin1Char(' ')),
                                                                                   reasons.join(QStringLiteral("；"))));
        ++problems_;
    }
    void found(const QString& table, const QString& reason)
    {
        progress_.finish();
        say(stdout, QStringLiteral("%1：%2").arg(table, reason));
        ++problems_;
    }
    const QString& key() const { return key_; }
    // Ends the progress line before the summary.
    void finishReading() { progress_.finish(); }
    int problems() const { return problems_; }

private:
    store::ReadOnlyDatabase& database_;
    QString key_;
    int problems_ = 0;
    ProgressLine progress_{stderr};
};

void checkUsers(Checker& checker, bool& administrator, qint64& count)
{
    QHash<QString, qint64> firstRow;
    checker.eachRow("users", "iuser, passw, quanxian", [&](qint64 key, const store::ReadRow& row) {
        ++count;
        const Value& user = row.stored(1);
        const Value& password = row.stored(2);
        const Value& code = row.stored(3);
        QStringList reasons;
        const QString name = store::storedText(user);
        if (isEmptyText(user))
            reasons << QStringLiteral("没有用户名");
        else if (!store::isAllowedUserName(name))
            reasons << QStringLiteral("用户名含有控制字符或格式字符（看不见的字符），程序不会这样写入");
        else if (const auto first = firstRow.constFind(name); first != firstRow.constEnd())
            reasons << QStringLiteral("用户名与 %1 %2 重复，登录时只认第一行").arg(checker.key()).arg(*first);
        else
            firstRow.insert(name, key);
        if (isEmptyText(password))
            reasons << QStringLiteral("没有密码");
        const std::optional<qint64> whole = store::wholeNumber(code);
        const std::optional<horavo::Permission> permission = whole ? horavo::permissionOf(*whole) : std::nullopt;
        if (!permission)
            reasons << QStringLiteral("权限不是 1 到 4 的整数");
        else if (*permission == horavo::Permission::Administrator)
            administrator = true;
        checker.found(QStringLiteral("users"), key,
                      {QStringLiteral("iuser=") + shown(user), QStringLiteral("passw=") + shown(password, true),
                       QStringLiteral("quanxian=") + shown(code)},
                      reasons);
    });
}

void checkUsage(Checker& checker, qint64& count)
{
    checker.eachRow("internet", "iuser, idate, itime, stime, xtime", [&](qint64 key, const store::ReadRow& row) {
        ++count;
        const Value& user = row.stored(1);
        const Value& date = row.stored(2);
        const Value& minutes = row.stored(3);
        const Value& start = row.stored(4);
        const Value& end = row.stored(5);
        QStringList reasons;
        if (!storedAs(date, horavo::isStoredDate))
            reasons << QStringLiteral("日期不是 YYYY-MM-DD 格式的有效日期");
        const std::optional<qint64> whole = store::wholeNumber(minutes);
        if (!whole)
            reasons << QStringLiteral("分钟数不是整数");
        else if (*whole < 0)
            reasons << QStringLiteral("分钟数是负数");
        if (!storedAs(start, horavo::isStoredTime))
            reasons << QStringLiteral("开始时刻不是 HH:MM:SS 格式的有效时刻");
        if (!storedAs(end, horavo::isStoredTime))
            reasons << QStringLiteral("结束时刻不是 HH:MM:SS 格式的有效时刻");
        checker.found(QStringLiteral("internet"), key,
                      {QStringLiteral("iuser=") + shown(user), QStringLiteral("idate=") + shown(date),
                       QStringLiteral("itime=") + shown(minutes), QStringLiteral("stime=") + shown(start),
                       QStringLiteral("xtime=") + shown(end)},
                      reasons);
    });
}

void checkAccounts(Checker& checker, bool& inUse, qint64& count)
{
    checker.eachRow("knumber", "kuser, kpassw, useyn, price", [&](qint64 key, const store::ReadRow& row) {
        ++count;
        const Value& account = row.stored(1);
        const Value& password = row.stored(2);
        const Value& flag = row.stored(3);
        const Value& price = row.stored(4);
        QStringList reasons;
        const std::optional<qint64> yesNo = store::wholeNumber(flag);
        if (!yesNo || (*yesNo != 0 && *yesNo != 1 && *yesNo != -1))
            reasons << QStringLiteral("“使用与否”不是“是/否”（1、0 或 -1）");
        // As the windows read it: a number other than 0, or text other than empty, 0 and false.
        const QString flagText = store::storedText(flag);
        if (isNumber(flag) ? (flag.type == Type::Integer ? flag.integer != 0 : flag.real != 0)
                           : (!isEmptyText(flag) && flagText != QStringLiteral("0")
                              && flagText.compare(QStringLiteral("false"), Qt::CaseInsensitive) != 0))
            inUse = true;
        const double value = price.type == Type::Integer ? double(price.integer) : price.real;
        if (!isNumber(price) || !(value > 0))
            reasons << QStringLiteral("单价不是大于 0 的数字（按 0.3 元/小时计算）");
        else if (!(value <= double(std::numeric_limits<float>::max())))
            reasons << QStringLiteral("单价超出单精度范围（按 0.3 元/小时计算）");
        checker.found(QStringLiteral("knumber"), key,
                      {QStringLiteral("kuser=") + shown(account), QStringLiteral("kpassw=") + shown(password, true),
                       QStringLiteral("useyn=") + shown(flag), QStringLiteral("price=") + shown(price)},
                      reasons);
    });
}

} // namespace

ExitCode check(const store::DatabaseAddress& database)
{
    const std::unique_ptr<store::ReadOnlyDatabase> read = openForReading(database, CheckUnreadable, CheckUnreadable);
    Checker checker(*read);
    bool administrator = false;
    bool inUse = false;
    qint64 users = 0;
    qint64 usage = 0;
    qint64 accounts = 0;
    checkUsers(checker, administrator, users);
    checkUsage(checker, usage);
    checkAccounts(checker, inUse, accounts);
    checker.finishReading();
    if (!administrator)
        checker.found(QStringLiteral("users"), QStringLiteral("没有管理员（权限 1）：请用 add-admin 添加"));
    if (!inUse)
        checker.found(QStringLiteral("knumber"), QStringLiteral("没有标为使用的宽带帐号：不会拨号，单价按 0.3 元/小时计算"));
    const QString counted = QStringLiteral("users %1 行，internet %2 行，knumber %3 行").arg(users).arg(usage).arg(accounts);
    if (checker.problems() == 0) {
        say(stdout, QStringLiteral("没有发现问题（%1）").arg(counted));
        return Done;
    }
    say(stdout, QStringLiteral("发现 %1 处问题（%2）").arg(checker.problems()).arg(counted));
    return CheckFound;
}

} // namespace setup
