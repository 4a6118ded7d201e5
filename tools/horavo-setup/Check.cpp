#include <cmath>
#include <functional>
#include <limits>

#include <QHash>

#include <sqlite3.h>

#include "rules/DateText.h"
#include "rules/Permission.h"
#include "store/UserName.h"
#include "tools/horavo-setup/AdminCommands.h"
#include "tools/horavo-setup/ToolOutput.h"

namespace setup {

namespace {

// Rows read per statement: each statement is a read transaction of its own, so a program
// that records waits at most for one batch.
constexpr int kBatch = 1000;

// One column of a row as SQLite stored it.
struct Field {
    int type = SQLITE_NULL;
    qint64 integer = 0;
    double real = 0;
    QString text; // the stored text, or SQLite's text of a number

    bool isNull() const { return type == SQLITE_NULL; }
    bool isNumber() const { return type == SQLITE_INTEGER || type == SQLITE_FLOAT; }
    // The whole number it holds: an integer, or a real without fraction.
    std::optional<qint64> whole() const
    {
        if (type == SQLITE_INTEGER)
            return integer;
        if (type == SQLITE_FLOAT && std::isfinite(real) && std::trunc(real) == real && std::fabs(real) < 9.0e18)
            return qint64(real);
        return std::nullopt;
    }
};

Field fieldOf(sqlite3_stmt* stmt, int column)
{
    Field f;
    f.type = sqlite3_column_type(stmt, column);
    if (f.type == SQLITE_INTEGER)
        f.integer = sqlite3_column_int64(stmt, column);
    else if (f.type == SQLITE_FLOAT)
        f.real = sqlite3_column_double(stmt, column);
    if (f.type == SQLITE_BLOB)
        f.text = QString::fromLatin1(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                                                sqlite3_column_bytes(stmt, column))
                                         .toHex());
    else if (f.type != SQLITE_NULL)
        f.text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                   sqlite3_column_bytes(stmt, column));
    return f;
}

// A value as the lines show it: NULL, a number as stored, text in single quotes (quotes
// doubled), a blob as X'..'. Passwords are shown only as whether there is one.
QString shown(const Field& f, bool secret = false)
{
    switch (f.type) {
    case SQLITE_NULL:
        return QStringLiteral("NULL");
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return f.text;
    case SQLITE_BLOB:
        return QStringLiteral("X'%1'").arg(f.text);
    default:
        if (secret && !f.text.isEmpty())
            return QStringLiteral("***");
        return QLatin1Char('\'') + shownText(f.text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
    }
}

bool storedDate(const Field& f)
{
    return f.type == SQLITE_TEXT && horavo::isStoredDate(f.text);
}

bool storedTime(const Field& f)
{
    return f.type == SQLITE_TEXT && horavo::isStoredTime(f.text);
}

class Checker {
public:
    explicit Checker(sqlite3* db) : db_(db) {}

    // Reads table in batches by rowid; row gets the rowid and the columns.
    void eachRow(const char* table, const char* columns, const std::function<void(qint64, sqlite3_stmt*)>& row)
    {
        const QByteArray sql = QByteArray("select rowid, ") + columns + " from " + table
            + " where rowid > ?1 order by rowid limit " + QByteArray::number(kBatch);
        qint64 last = std::numeric_limits<qint64>::min();
        for (;;) {
            sqlite3_stmt* raw = nullptr;
            if (sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &raw, nullptr) != SQLITE_OK)
                fail(table);
            const store::Statement stmt(raw);
            sqlite3_bind_int64(raw, 1, last);
            int count = 0;
            int rc = firstStep(raw);
            for (; rc == SQLITE_ROW; rc = sqlite3_step(raw)) {
                last = sqlite3_column_int64(raw, 0);
                ++count;
                row(last, raw);
            }
            if (rc != SQLITE_DONE)
                fail(table);
            if (count < kBatch)
                return;
        }
    }

    void found(const QString& table, qint64 rowid, const QStringList& values, const QStringList& reasons)
    {
        if (reasons.isEmpty())
            return;
        say(stdout, QStringLiteral("%1 rowid %2：%3：%4").arg(table).arg(rowid).arg(values.join(QLatin1Char(' ')),
                                                                                  reasons.join(QStringLiteral("；"))));
        ++problems_;
    }
    void found(const QString& table, const QString& reason)
    {
        say(stdout, QStringLiteral("%1：%2").arg(table, reason));
        ++problems_;
    }
    int problems() const { return problems_; }

private:
    [[noreturn]] void fail(const char* table)
    {
        refuse(CheckUnreadable,
               QStringLiteral("读不了表 %1：%2").arg(QString::fromLatin1(table), QString::fromUtf8(sqlite3_errmsg(db_))));
    }

    sqlite3* db_;
    int problems_ = 0;
};

void checkUsers(Checker& checker, bool& administrator, qint64& count)
{
    QHash<QString, qint64> firstRow;
    checker.eachRow("users", "iuser, passw, quanxian", [&](qint64 rowid, sqlite3_stmt* stmt) {
        ++count;
        const Field user = fieldOf(stmt, 1);
        const Field password = fieldOf(stmt, 2);
        const Field code = fieldOf(stmt, 3);
        QStringList reasons;
        if (user.isNull() || user.text.isEmpty())
            reasons << QStringLiteral("没有用户名");
        else if (!store::isAllowedUserName(user.text))
            reasons << QStringLiteral("用户名含有控制字符或格式字符（看不见的字符），程序不会这样写入");
        else if (const auto first = firstRow.constFind(user.text); first != firstRow.constEnd())
            reasons << QStringLiteral("用户名与 rowid %1 重复，登录时只认第一行").arg(*first);
        else
            firstRow.insert(user.text, rowid);
        if (password.isNull() || password.text.isEmpty())
            reasons << QStringLiteral("没有密码");
        const std::optional<qint64> whole = code.whole();
        const std::optional<horavo::Permission> permission = whole ? horavo::permissionOf(*whole) : std::nullopt;
        if (!permission)
            reasons << QStringLiteral("权限不是 1 到 4 的整数");
        else if (*permission == horavo::Permission::Administrator)
            administrator = true;
        checker.found(QStringLiteral("users"), rowid,
                      {QStringLiteral("iuser=") + shown(user), QStringLiteral("passw=") + shown(password, true),
                       QStringLiteral("quanxian=") + shown(code)},
                      reasons);
    });
}

void checkUsage(Checker& checker, qint64& count)
{
    checker.eachRow("internet", "iuser, idate, itime, stime, xtime", [&](qint64 rowid, sqlite3_stmt* stmt) {
        ++count;
        const Field user = fieldOf(stmt, 1);
        const Field date = fieldOf(stmt, 2);
        const Field minutes = fieldOf(stmt, 3);
        const Field start = fieldOf(stmt, 4);
        const Field end = fieldOf(stmt, 5);
        QStringList reasons;
        if (!storedDate(date))
            reasons << QStringLiteral("日期不是 YYYY-MM-DD 格式的有效日期");
        const std::optional<qint64> whole = minutes.whole();
        if (!whole)
            reasons << QStringLiteral("分钟数不是整数");
        else if (*whole < 0)
            reasons << QStringLiteral("分钟数是负数");
        if (!storedTime(start))
            reasons << QStringLiteral("开始时刻不是 HH:MM:SS 格式的有效时刻");
        if (!storedTime(end))
            reasons << QStringLiteral("结束时刻不是 HH:MM:SS 格式的有效时刻");
        checker.found(QStringLiteral("internet"), rowid,
                      {QStringLiteral("iuser=") + shown(user), QStringLiteral("idate=") + shown(date),
                       QStringLiteral("itime=") + shown(minutes), QStringLiteral("stime=") + shown(start),
                       QStringLiteral("xtime=") + shown(end)},
                      reasons);
    });
}

void checkAccounts(Checker& checker, bool& inUse, qint64& count)
{
    checker.eachRow("knumber", "kuser, kpassw, useyn, price", [&](qint64 rowid, sqlite3_stmt* stmt) {
        ++count;
        const Field account = fieldOf(stmt, 1);
        const Field password = fieldOf(stmt, 2);
        const Field flag = fieldOf(stmt, 3);
        const Field price = fieldOf(stmt, 4);
        QStringList reasons;
        const std::optional<qint64> yesNo = flag.whole();
        if (!yesNo || (*yesNo != 0 && *yesNo != 1 && *yesNo != -1))
            reasons << QStringLiteral("“使用与否”不是“是/否”（1、0 或 -1）");
        // As the windows read it: a number other than 0, or text other than empty, 0 and false.
        if (flag.isNumber() ? (flag.type == SQLITE_INTEGER ? flag.integer != 0 : flag.real != 0)
                            : (!flag.isNull() && !flag.text.isEmpty() && flag.text != QStringLiteral("0")
                               && flag.text.compare(QStringLiteral("false"), Qt::CaseInsensitive) != 0))
            inUse = true;
        const double value = price.type == SQLITE_INTEGER ? double(price.integer) : price.real;
        if (!price.isNumber() || !(value > 0))
            reasons << QStringLiteral("单价不是大于 0 的数字（按 0.3 元/小时计算）");
        else if (!(value <= double(std::numeric_limits<float>::max())))
            reasons << QStringLiteral("单价超出单精度范围（按 0.3 元/小时计算）");
        checker.found(QStringLiteral("knumber"), rowid,
                      {QStringLiteral("kuser=") + shown(account), QStringLiteral("kpassw=") + shown(password, true),
                       QStringLiteral("useyn=") + shown(flag), QStringLiteral("price=") + shown(price)},
                      reasons);
    });
}

} // namespace

ExitCode check(const QString& path)
{
    const store::DatabaseHandle db = openForReading(path, CheckUnreadable, CheckUnreadable);
    Checker checker(db.get());
    bool administrator = false;
    bool inUse = false;
    qint64 users = 0;
    qint64 usage = 0;
    qint64 accounts = 0;
    checkUsers(checker, administrator, users);
    checkUsage(checker, usage);
    checkAccounts(checker, inUse, accounts);
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
