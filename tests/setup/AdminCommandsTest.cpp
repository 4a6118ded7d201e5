// The administrator's commands of horavo-setup (backup, report, check, online), run as a
// process on real database files: made by the tool itself and by hand with odd values.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <cmath>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>

#include <random>

#include <sqlite3.h>

#include "rules/NumberFormat.h"
#include "store/Esql.h"
#include "tests/doubles/SetupProgram.h"

namespace {

using doubles::runSetup;
using doubles::setupProgram;
using Outcome = doubles::SetupOutcome;

// Statements on a file through SQLite itself, as by hand; "|"-joined rows of the last one.
QStringList sql(const QString& path, const QString& statements)
{
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
              SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    QStringList rows;
    const QByteArray text = statements.toUtf8();
    const char* next = text.constData();
    while (next && *next) {
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, next, -1, &stmt, &tail) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db) << " in " << next;
            break;
        }
        next = tail;
        if (!stmt)
            continue;
        rows.clear();
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList cells;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                cells << (sqlite3_column_type(stmt, c) == SQLITE_NULL
                              ? QStringLiteral("<null>")
                              : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))));
            rows << cells.join(QLatin1Char('|'));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

// A small RFC 4180 reader: records of fields, quoted fields with doubled quotes, CRLF
// between records. A bare LF or a stray quote is a fault of the writer.
QList<QStringList> parseCsv(const QString& text, bool* wellFormed)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    *wellFormed = true;
    qsizetype i = 0;
    bool quoted = false;
    bool fieldStarted = false;
    while (i < text.size()) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                i += 2;
            } else if (c == u'"') {
                quoted = false;
                ++i;
                if (i < text.size() && text[i] != u',' && text[i] != u'\r')
                    *wellFormed = false;
            } else {
                field += c;
                ++i;
            }
        } else if (c == u'"' && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
            ++i;
        } else if (c == u',') {
            record << field;
            field.clear();
            fieldStarted = false;
            ++i;
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            record << field;
            records << record;
            record.clear();
            field.clear();
            fieldStarted = false;
            i += 2;
        } else {
            if (c == u'\n' || c == u'\r' || c == u'"')
                *wellFormed = false;
            field += c;
            fieldStarted = true;
            ++i;
        }
    }
    if (quoted || fieldStarted || !record.isEmpty())
        *wellFormed = false; // the last record lacks its CRLF
    return records;
}

class AdminCommands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo(setupProgram()).isExecutable()) << setupProgram().toStdString(); }

    // A file made by the tool: administrator 老板, account in use at price.
    QString created(const QString& price = QStringLiteral("1.5"))
    {
        const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("老板"),
                                    QStringLiteral("--password-stdin"), QStringLiteral("--isp-account"), QStringLiteral("0571"),
                                    QStringLiteral("--isp-password-stdin"), QStringLiteral("--price"), price},
                                   folder.path(), {"pw\nkp\n"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return file();
    }
    // A file made by hand with the programs' three tables.
    QString byHand()
    {
        sql(file(), QStringLiteral("create table users(iuser TEXT, passw TEXT, quanxian INTEGER);"
                                   "create table internet(iuser TEXT, idate TEXT, itime INTEGER, stime TEXT, xtime TEXT);"
                                   "create table knumber(kuser TEXT, kpassw TEXT, useyn INTEGER, price REAL);"));
        return file();
    }
    QString file() const { return folder.filePath(QStringLiteral("horavo.mdb")); }

    QTemporaryDir folder;
};

// --- backup -------------------------------------------------------------------------

TEST_F(AdminCommands, BackupWhileAnotherProcessRecordsIsACompleteConsistentCopy)
{
    const QString path = created();
    // Enough rows for the copy to take many steps.
    sql(path, QStringLiteral("insert into knumber values ('counter', '', 0, 0);"
                             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000)"
                             " insert into internet select 'old' || (i % 7), '2026-11-02', i, '08:00:00', '09:00:00' from n;"));
    QProcess writer;
    writer.start(QStringLiteral(ADMIN_TEST_WRITER), {path, QStringLiteral("w"), QStringLiteral("3")});
    ASSERT_TRUE(writer.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (sql(path, QStringLiteral("select count(*) from internet where iuser='w'")).value(0).toInt() < 20
           && waited.elapsed() < 20000)
        QThread::msleep(20);
    const QStringList before = sql(path, QStringLiteral("select max(rowid), count(*) from internet"));
    const qint64 lastBefore = before.value(0).section(QLatin1Char('|'), 0, 0).toLongLong();

    const Outcome r = runSetup({QStringLiteral("backup"), QStringLiteral("--file"), path, QStringLiteral("copy.mdb")}, folder.path());
    const qint64 lastAfter = sql(path, QStringLiteral("select max(rowid) from internet")).value(0).toLongLong();
    const bool writerRan = writer.state() == QProcess::Running;
    writer.kill();
    writer.waitForFinished();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(writerRan);
    EXPECT_GT(lastAfter, lastBefore) << "the writer did not write while the backup ran";

    const QString copy = folder.filePath(QStringLiteral("copy.mdb"));
    EXPECT_EQ(sql(copy, QStringLiteral("pragma integrity_check")), QStringList{QStringLiteral("ok")});
    EXPECT_EQ(sql(copy, QStringLiteral("pragma journal_mode")), QStringList{QStringLiteral("delete")});
    EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral("-wal")));
    // Every row committed before the backup began, as it is in the file.
    const QString upTo = QStringLiteral(" from internet where rowid <= %1 order by rowid").arg(lastBefore);
    const QString sum = QStringLiteral("select count(*), sum(length(iuser || idate || itime || stime || xtime))") + upTo;
    EXPECT_EQ(sql(copy, sum), sql(path, sum));
    EXPECT_EQ(sql(copy, QStringLiteral("select count(*) from internet where rowid <= %1").arg(lastBefore)).value(0).toLongLong(),
              lastBefore);
    // One moment of the file: the writer adds its row and raises the counter in one transaction.
    const qint64 counter = sql(copy, QStringLiteral("select price from knumber where kuser='counter'")).value(0).toDouble();
    const qint64 rows = sql(copy, QStringLiteral("select count(*) from internet where iuser='w'")).value(0).toLongLong();
    EXPECT_EQ(counter, rows);
    EXPECT_GE(rows, 20);
    // The programs open it.
    auto users = store::Esql(QStringLiteral("select * from users"), copy);
    ASSERT_FALSE(users->atEnd());
    EXPECT_EQ(users->value(QStringLiteral("iuser")).toString(), QStringLiteral("老板"));
}

TEST_F(AdminCommands, BackupLeavesAnExistingFileAloneUnlessForced)
{
    const QString path = created();
    const QString target = folder.filePath(QStringLiteral("old.mdb"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("notes");
    old.close();
    const Outcome refused = runSetup({QStringLiteral("backup"), QStringLiteral("old.mdb")}, folder.path());
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--force"))) << refused.err.toStdString();
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("notes"));
    old.close();

    // The copy holds every password: its owner's alone, whatever the database's mode and
    // the umask.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0664), 0);
    const mode_t umask = ::umask(0);
    const Outcome forced = runSetup({QStringLiteral("backup"), QStringLiteral("--force"), QStringLiteral("old.mdb")}, folder.path());
    ::umask(umask);
    EXPECT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    struct stat copy {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &copy), 0);
    EXPECT_EQ(copy.st_mode & 07777, 0600u);
    EXPECT_EQ(sql(target, QStringLiteral("select iuser, quanxian from users")), QStringList{QStringLiteral("老板|1")});
    // Nothing is left beside it.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    const Outcome missing = runSetup({QStringLiteral("backup"), QStringLiteral("--file"), QStringLiteral("none.mdb"), QStringLiteral("x.mdb")},
                                     folder.path());
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("x.mdb"))));
    EXPECT_EQ(runSetup({QStringLiteral("backup")}, folder.path()).exitCode, 1);
    EXPECT_EQ(runSetup({QStringLiteral("backup"), QStringLiteral("a"), QStringLiteral("b")}, folder.path()).exitCode, 1);
}

TEST_F(AdminCommands, EveryCommandReadsWhileAnotherProcessRecords)
{
    const QString path = created();
    sql(path, QStringLiteral("insert into knumber values ('counter', 'p', 0, 0);"));
    QProcess writer;
    writer.start(QStringLiteral(ADMIN_TEST_WRITER), {path, QStringLiteral("w"), QStringLiteral("3")});
    ASSERT_TRUE(writer.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (sql(path, QStringLiteral("select count(*) from internet")).value(0).toInt() < 5 && waited.elapsed() < 20000)
        QThread::msleep(10);
    for (int round = 0; round < 3; ++round) {
        const Outcome report = runSetup({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("json")}, folder.path());
        EXPECT_EQ(report.exitCode, 0) << report.err.toStdString();
        // The writer's rows are today's: this month's.
        const QJsonArray users = QJsonDocument::fromJson(report.out).object().value(QStringLiteral("users")).toArray();
        ASSERT_EQ(users.size(), 1) << report.out.toStdString();
        EXPECT_GT(users[0].toObject().value(QStringLiteral("rows")).toInteger(), 0);
        const Outcome check = runSetup({QStringLiteral("check")}, folder.path());
        EXPECT_EQ(check.exitCode, 0) << check.err.toStdString() << check.out.toStdString();
        const Outcome online = runSetup({QStringLiteral("online")}, folder.path());
        EXPECT_EQ(online.exitCode, 0) << online.err.toStdString();
        EXPECT_TRUE(online.text().contains(QStringLiteral("\nw  "))) << online.out.toStdString();
    }
    EXPECT_EQ(writer.state(), QProcess::Running) << "the writer failed while the commands read";
    writer.kill();
    writer.waitForFinished();
}

// --- report -------------------------------------------------------------------------

// A month with a CJK name, a name CSV must quote, odd minutes and dates.
QString usageOfNovember(const QString& path)
{
    sql(path, QStringLiteral(
                  "insert into internet values ('张三', '2026-11-01', 60, '08:00:00', '09:00:00');"
                  "insert into internet values ('张三', '2026-11-30', 40, '08:00:00', '08:40:00');"
                  "insert into internet values ('a,b\"c', '2026-11-15', '2.5', '08:00:00', '08:02:30');" // text: 2
                  "insert into internet values ('a,b\"c', '2026-11-15', 3.5, '08:00:00', '08:03:30');"   // real: 4
                  "insert into internet values ('a,b\"c', '2026-11-15', 'abc', '08:00:00', '08:00:00');" // 0
                  "insert into internet values ('a,b\"c', '2026-11-15', NULL, '08:00:00', '08:00:00');"  // 0
                  "insert into internet values ('bob', '2026-11-16', 14, '08:00:00', '08:14:00');"
                  "insert into internet values ('bob', '2026-10-31', 1000, '08:00:00', '08:14:00');" // before
                  "insert into internet values ('bob', '2026-12-01', 1000, '08:00:00', '08:14:00');" // after
                  "insert into internet values ('bob', '2026-11-31', 5, '08:00:00', '08:05:00');"    // no such day
                  "insert into internet values ('bob', '2026/11/16', 6, '08:00:00', '08:06:00');"
                  "insert into internet values ('张三', NULL, 7, '08:00:00', '08:07:00');"));
    return path;
}

const QStringList kNovember{QStringLiteral("report"), QStringLiteral("--from"), QStringLiteral("2026-11-01"),
                            QStringLiteral("--to"), QStringLiteral("2026-11-30")};

TEST_F(AdminCommands, ReportTableIsAlignedAndCountsMinutesAsTheWindows)
{
    usageOfNovember(created());
    const Outcome r = runSetup(kNovember, folder.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Names to the left, numbers to the right, CJK characters two columns wide; amounts
    // to the fen.
    EXPECT_EQ(r.text().toStdString(), QStringLiteral("期间 2026-11-01 至 2026-11-30，单价 1.5 元/小时，金额按分四舍五入\n"
                                                     "用户名            记录数  分钟               小时  金额（元）\n"
                                                     "a,b\"c                  4     6                0.1        0.15\n"
                                                     "bob                    1    14  0.233333333333333        0.35\n"
                                                     "张三                   2   100   1.66666666666667        2.50\n"
                                                     "合计                   7   120                  2        3.00\n"
                                                     "（日期无法识别）       3    18\n")
                                          .toStdString());
    EXPECT_TRUE(r.err.contains(QStringLiteral("3 条使用记录的日期无法识别"))) << r.err.toStdString();

    // A line per user and day, the amounts unrounded.
    const Outcome days = runSetup(kNovember + QStringList{QStringLiteral("--by"), QStringLiteral("day"), QStringLiteral("--exact")},
                                  folder.path());
    ASSERT_EQ(days.exitCode, 0) << days.err.toStdString();
    EXPECT_EQ(days.text().toStdString(), QStringLiteral("期间 2026-11-01 至 2026-11-30，单价 1.5 元/小时，金额未取整\n"
                                                        "用户名            日期        记录数  分钟               小时  金额（元）\n"
                                                        "a,b\"c             2026-11-15       4     6                0.1        0.15\n"
                                                        "bob               2026-11-16       1    14  0.233333333333333        0.35\n"
                                                        "张三              2026-11-01       1    60                  1         1.5\n"
                                                        "张三              2026-11-30       1    40  0.666666666666667           1\n"
                                                        "合计                               7   120                  2           3\n"
                                                        "（日期无法识别）                   3    18\n")
                                             .toStdString());
}

TEST_F(AdminCommands, ReportCsvFollowsRfc4180)
{
    usageOfNovember(created());
    sql(file(), QStringLiteral("insert into internet values ('line' || char(10) || 'break', '2026-11-20', 0, '08:00:00', '08:00:00');"));
    const Outcome plain = runSetup(kNovember + QStringList{QStringLiteral("--format"), QStringLiteral("csv")}, folder.path());
    ASSERT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_FALSE(plain.out.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(plain.out.contains("\"a,b\"\"c\""));
    EXPECT_TRUE(plain.out.contains(",line\\x0abreak,")) << "a stored line break shown, not written";
    bool wellFormed = false;
    const QList<QStringList> records = parseCsv(plain.text(), &wellFormed);
    EXPECT_TRUE(wellFormed) << plain.out.toStdString();
    // The period and the price close every record, so each stands alone.
    const QStringList period{QStringLiteral("2026-11-01"), QStringLiteral("2026-11-30"), QStringLiteral("1.5")};
    const QList<QStringList> expected{
        {QStringLiteral("类别"), QStringLiteral("用户名"), QStringLiteral("记录数"), QStringLiteral("分钟"), QStringLiteral("小时"),
         QStringLiteral("金额"), QStringLiteral("期间开始"), QStringLiteral("期间结束"), QStringLiteral("单价（元/小时）")},
        QStringList{QStringLiteral("用户"), QStringLiteral("a,b\"c"), QStringLiteral("4"), QStringLiteral("6"), QStringLiteral("0.1"),
                    QStringLiteral("0.15")} + period,
        QStringList{QStringLiteral("用户"), QStringLiteral("bob"), QStringLiteral("1"), QStringLiteral("14"),
                    QStringLiteral("0.233333333333333"), QStringLiteral("0.35")} + period,
        QStringList{QStringLiteral("用户"), QStringLiteral("line\\x0abreak"), QStringLiteral("1"), QStringLiteral("0"),
                    QStringLiteral("0"), QStringLiteral("0.00")} + period,
        QStringList{QStringLiteral("用户"), QStringLiteral("张三"), QStringLiteral("2"), QStringLiteral("100"),
                    QStringLiteral("1.66666666666667"), QStringLiteral("2.50")} + period,
        QStringList{QStringLiteral("合计"), QString(), QStringLiteral("8"), QStringLiteral("120"), QStringLiteral("2"),
                    QStringLiteral("3.00")} + period,
        QStringList{QStringLiteral("日期无法识别"), QString(), QStringLiteral("3"), QStringLiteral("18"), QString(), QString()} + period,
    };
    EXPECT_EQ(records, expected);

    const Outcome bom = runSetup(kNovember + QStringList{QStringLiteral("--format=csv"), QStringLiteral("--bom")}, folder.path());
    EXPECT_EQ(bom.out, "\xEF\xBB\xBF" + plain.out);
    EXPECT_EQ(runSetup(kNovember + QStringList{QStringLiteral("--bom")}, folder.path()).exitCode, 1);
}

TEST_F(AdminCommands, ReportJsonForOneUserAtAGivenPrice)
{
    usageOfNovember(created());
    const Outcome r = runSetup(kNovember + QStringList{QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--user"),
                                                       QStringLiteral("张三"), QStringLiteral("--price"), QStringLiteral("0.6")},
                               folder.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QJsonParseError error{};
    const QJsonObject root = QJsonDocument::fromJson(r.out, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    EXPECT_EQ(root.value(QStringLiteral("from")).toString(), QStringLiteral("2026-11-01"));
    EXPECT_EQ(root.value(QStringLiteral("to")).toString(), QStringLiteral("2026-11-30"));
    EXPECT_EQ(root.value(QStringLiteral("price")).toString(), QStringLiteral("0.6"));
    const QJsonArray users = root.value(QStringLiteral("users")).toArray();
    ASSERT_EQ(users.size(), 1);
    const QJsonObject zhang = users[0].toObject();
    EXPECT_EQ(zhang.value(QStringLiteral("user")).toString(), QStringLiteral("张三"));
    EXPECT_EQ(zhang.value(QStringLiteral("rows")).toInteger(), 2);
    EXPECT_EQ(zhang.value(QStringLiteral("minutes")).toInteger(), 100);
    EXPECT_EQ(zhang.value(QStringLiteral("hours")).toString(), QStringLiteral("1.66666666666667"));
    EXPECT_EQ(zhang.value(QStringLiteral("amount")).toString(), QStringLiteral("1.00"));
    EXPECT_EQ(root.value(QStringLiteral("rounding")).toString(), QStringLiteral("fen"));
    // Only this user's row without a date.
    const QJsonObject unreadable = root.value(QStringLiteral("unreadableDates")).toObject();
    EXPECT_EQ(unreadable.value(QStringLiteral("rows")).toInteger(), 1);
    EXPECT_EQ(unreadable.value(QStringLiteral("minutes")).toInteger(), 7);
    EXPECT_FALSE(root.value(QStringLiteral("minutesOverflowed")).toBool());
}

TEST_F(AdminCommands, ReportTakesThePriceOfTheFirstAccountInUseOrThreeTenths)
{
    const QString path = byHand();
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString first = QDate::currentDate().addDays(1 - QDate::currentDate().day()).toString(QStringLiteral("yyyy-MM-dd"));
    const QString lastMonth = QDate::currentDate().addDays(-QDate::currentDate().day()).toString(QStringLiteral("yyyy-MM-dd"));
    sql(path, QStringLiteral("insert into internet values ('u', '%1', 60, '08:00:00', '09:00:00');"
                             "insert into internet values ('u', '%2', 60, '08:00:00', '09:00:00');"
                             "insert into internet values ('u', '%3', 500, '08:00:00', '09:00:00');"
                             "insert into knumber values ('off', 'p', 0, 9);"
                             "insert into knumber values ('on', 'p', 1, 0);"
                             "insert into knumber values ('later', 'p', 1, 6);")
                  .arg(today, first, lastMonth));
    const auto json = [&](const QStringList& more) {
        return QJsonDocument::fromJson(runSetup(QStringList{QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("json")} + more,
                                                folder.path())
                                           .out)
            .object();
    };
    // The current month, from its first day to today; price 0 gives 0.3.
    QJsonObject root = json({});
    EXPECT_EQ(root.value(QStringLiteral("from")).toString(), first);
    EXPECT_EQ(root.value(QStringLiteral("to")).toString(), today);
    EXPECT_EQ(root.value(QStringLiteral("price")).toString(), QStringLiteral("0.3"));
    const QJsonObject total = root.value(QStringLiteral("total")).toObject();
    EXPECT_EQ(total.value(QStringLiteral("minutes")).toInteger(), 120);
    EXPECT_EQ(total.value(QStringLiteral("amount")).toString(), QStringLiteral("0.60"));

    sql(path, QStringLiteral("update knumber set price = 2.25 where kuser = 'on'"));
    EXPECT_EQ(json({}).value(QStringLiteral("price")).toString(), QStringLiteral("2.25"));
    sql(path, QStringLiteral("update knumber set useyn = 0"));
    EXPECT_EQ(json({}).value(QStringLiteral("price")).toString(), QStringLiteral("0.3"));
}

TEST_F(AdminCommands, ReportSaturatesAnOverflowingSumAndSaysSo)
{
    const QString path = byHand();
    sql(path, QStringLiteral("insert into internet values ('big', '2026-11-02', 9223372036854775807, '08:00:00', '09:00:00');"
                             "insert into internet values ('big', '2026-11-03', 5, '08:00:00', '09:00:00');"
                             "insert into internet values ('small', '2026-11-03', 5, '08:00:00', '09:00:00');"));
    const Outcome r = runSetup(kNovember + QStringList{QStringLiteral("--format"), QStringLiteral("json")}, folder.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    EXPECT_TRUE(root.value(QStringLiteral("minutesOverflowed")).toBool());
    const QJsonArray users = root.value(QStringLiteral("users")).toArray();
    ASSERT_EQ(users.size(), 2);
    EXPECT_TRUE(users[0].toObject().value(QStringLiteral("minutesOverflowed")).toBool());
    EXPECT_EQ(users[0].toObject().value(QStringLiteral("minutes")).toInteger(), std::numeric_limits<qint64>::max());
    EXPECT_FALSE(users[1].toObject().contains(QStringLiteral("minutesOverflowed")));
    EXPECT_EQ(users[1].toObject().value(QStringLiteral("minutes")).toInteger(), 5);
    EXPECT_TRUE(r.err.contains(QStringLiteral("超出了能计算的范围"))) << r.err.toStdString();
}

TEST_F(AdminCommands, ReportAtAPriceNearTheLimitGivesANumberOrRefuses)
{
    const QString path = byHand();
    sql(path, QStringLiteral("insert into internet values ('u', '2026-11-02', 100, '08:00:00', '09:40:00');"));
    const QStringList largest = kNovember + QStringList{QStringLiteral("--format=json"), QStringLiteral("--price"), QStringLiteral("1e308")};
    const Outcome r = runSetup(largest, folder.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    bool number = false;
    const double amount = QJsonDocument::fromJson(r.out)[u"total"][u"amount"].toString().toDouble(&number);
    EXPECT_TRUE(number && std::isfinite(amount)) << r.out.toStdString();
    EXPECT_NEAR(amount / (1e308 / 60 * 100), 1.0, 1e-12);

    sql(path, QStringLiteral("insert into internet values ('u', '2026-11-03', 1000000, '08:00:00', '09:40:00');"));
    const Outcome refused = runSetup(largest, folder.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.out.isEmpty()) << refused.out.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--price 1E+308 太大"))) << refused.err.toStdString();
}

TEST_F(AdminCommands, ReportRefusesAMalformedPeriodOrAMissingFile)
{
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("report"), QStringLiteral("--from"), QStringLiteral("2026-02-30")},
          QStringList{QStringLiteral("report"), QStringLiteral("--to"), QStringLiteral("2026-2-3")},
          QStringList{QStringLiteral("report"), QStringLiteral("--from"), QStringLiteral("2026-11-02"), QStringLiteral("--to"),
                      QStringLiteral("2026-11-01")},
          QStringList{QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("xml")},
          QStringList{QStringLiteral("report"), QStringLiteral("--price"), QStringLiteral("0")}}) {
        const Outcome r = runSetup(arguments, folder.path());
        EXPECT_EQ(r.exitCode, 1) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_EQ(runSetup({QStringLiteral("report")}, folder.path()).exitCode, 3);
    EXPECT_FALSE(QFileInfo::exists(file()));
}

// The page of an HTML report read back as XML: the cells of the table's body and foot,
// and the chart's bars (date, minutes, height) and day labels.
struct ReportPage {
    bool wellFormed = false;
    QList<QStringList> body;
    QList<QStringList> foot;
    struct Bar {
        QString date;
        qint64 minutes = 0;
        double height = 0;
    };
    QList<Bar> bars;
    QStringList labels;
};

ReportPage readPage(const QByteArray& html)
{
    ReportPage page;
    QXmlStreamReader xml(html);
    QList<QStringList>* section = nullptr;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == u"tbody")
                section = &page.body;
            else if (name == u"tfoot")
                section = &page.foot;
            else if (name == u"tr" && section)
                section->append(QStringList());
            else if (name == u"td" && section)
                section->last() << xml.readElementText();
            else if (name == u"rect" && xml.attributes().value(QStringLiteral("class")) == u"bar")
                page.bars.append({xml.attributes().value(QStringLiteral("data-date")).toString(),
                                  xml.attributes().value(QStringLiteral("data-minutes")).toLongLong(),
                                  xml.attributes().value(QStringLiteral("height")).toDouble()});
            else if (name == u"text" && xml.attributes().value(QStringLiteral("class")) == u"date")
                page.labels << xml.readElementText();
        } else if (xml.isEndElement() && (xml.name() == u"tbody" || xml.name() == u"tfoot")) {
            section = nullptr;
        }
    }
    page.wellFormed = !xml.hasError();
    return page;
}

// The fen of minutes at 0.3 yuan an hour, rounded half away from zero: 3 fen per 6 minutes.
QString fenAtThreeTenths(qint64 minutes)
{
    const qint64 fen = (minutes * 3 + 3) / 6; // minutes >= 0: a half (odd minutes) goes up
    return QStringLiteral("%1.%2").arg(fen / 100).arg(fen % 100, 2, 10, QLatin1Char('0'));
}

// Random usage in and around November, through the real tool; the page's table against
// SQLite's own sums of the same rows, its bars against the minutes of each day.
TEST_F(AdminCommands, ReportPageAddsUpTheRowsAndDrawsEachDayInProportion)
{
    const QString path = created(QStringLiteral("0.3"));
    const QStringList users{QStringLiteral("张三"), QStringLiteral("a<&\"b'"), QStringLiteral("bob")};
    std::mt19937 random(1208);
    QString inserts;
    for (int i = 0; i < 300; ++i) {
        const QString user = users[int(random() % users.size())];
        const QDate day = QDate(2026, 10, 28).addDays(int(random() % 40));
        inserts += QStringLiteral("insert into internet values ('%1', '%2', %3, '08:00:00', '09:00:00');")
                       .arg(QString(user).replace(QLatin1Char('\''), QStringLiteral("''")), day.toString(Qt::ISODate))
                       .arg(random() % 500);
    }
    sql(path, inserts);
    const QString inNovember = QStringLiteral(" from internet where idate between '2026-11-01' and '2026-11-30'");

    for (const bool byDay : {false, true}) {
        const Outcome r = runSetup(kNovember + QStringList{QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--by"),
                                                           byDay ? QStringLiteral("day") : QStringLiteral("user")},
                                   folder.path());
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_FALSE(r.out.contains("a<&")) << "a name's markup characters escaped";
        for (const char* reach : {"<script", "src=", "href=", "url(", "@import"})
            EXPECT_FALSE(r.out.contains(reach)) << reach;
        EXPECT_TRUE(r.out.contains("Noto Sans CJK SC") && r.out.contains("@media print"));
        EXPECT_TRUE(r.out.contains("2026-11-01") && r.out.contains("2026-11-30") && r.out.contains(">0.3<"));
        const ReportPage page = readPage(r.out);
        ASSERT_TRUE(page.wellFormed) << r.out.toStdString();

        QList<QStringList> expected;
        const QString grouping = byDay ? QStringLiteral("iuser, idate") : QStringLiteral("iuser");
        for (const QString& line : sql(path, QStringLiteral("select %1, count(*), sum(itime)%2 group by %1 order by %1")
                                                 .arg(grouping, inNovember))) {
            QStringList cells = line.split(QLatin1Char('|'));
            const qint64 minutes = cells.last().toLongLong();
            cells << horavo::formatDouble(minutes / 60.0) << fenAtThreeTenths(minutes);
            expected << cells;
        }
        EXPECT_EQ(page.body, expected);
        const QStringList total = sql(path, QStringLiteral("select count(*), sum(itime)") + inNovember).first().split(QLatin1Char('|'));
        QStringList totalLine{QStringLiteral("合计")};
        if (byDay)
            totalLine << QString();
        totalLine << total << horavo::formatDouble(total[1].toLongLong() / 60.0) << fenAtThreeTenths(total[1].toLongLong());
        EXPECT_EQ(page.foot, QList<QStringList>{totalLine});

        // One bar a day of use, in order, as tall as its minutes allow beside the longest.
        const QStringList days = sql(path, QStringLiteral("select idate, sum(itime)%1 group by idate order by idate").arg(inNovember));
        ASSERT_EQ(page.bars.size(), days.size());
        qint64 most = 0;
        for (const ReportPage::Bar& bar : page.bars)
            most = std::max(most, bar.minutes);
        for (qsizetype d = 0; d < days.size(); ++d) {
            const ReportPage::Bar& bar = page.bars[d];
            EXPECT_EQ(QStringLiteral("%1|%2").arg(bar.date).arg(bar.minutes), days[d]);
            EXPECT_NEAR(bar.height, 180.0 * double(bar.minutes) / double(most), 0.01) << bar.date.toStdString();
            EXPECT_EQ(page.labels.value(d), bar.date.mid(5));
        }
    }
}

TEST_F(AdminCommands, StoredNamesReachNoTerminalOrSpreadsheetAsCommands)
{
    const QString path = byHand();
    const QDateTime recent = QDateTime::currentDateTime().addSecs(-30);
    sql(path, QStringLiteral("insert into users values ('admin' || char(8203), 'pw', 1);"
                             "insert into internet values ('admin' || char(8203), '2026-11-02', 5, '08:00:00', '08:05:00');"
                             "insert into internet values ('=HYPERLINK(\"http://x\")', '2026-11-02', 2, '08:00:00', '08:02:00');"
                             "insert into internet values ('neg', '2026-11-02', -3, '08:00:00', '08:00:00');"
                             "insert into internet values (char(27) || ']0;pwned' || char(7), '%1', 1, '07:00:00', '%2');")
                  .arg(recent.date().toString(QStringLiteral("yyyy-MM-dd")), recent.time().toString(QStringLiteral("HH:mm:ss"))));
    const QString zeroWidth = QStringLiteral("admin\u200b");
    const QString retitle = QStringLiteral("\x1b]0;pwned\x07");

    const Outcome table = runSetup(kNovember, folder.path());
    EXPECT_TRUE(table.text().contains(QStringLiteral("admin\\u200b "))) << table.text().toStdString();
    const Outcome online = runSetup({QStringLiteral("online")}, folder.path());
    EXPECT_TRUE(online.text().contains(QStringLiteral("\\x1b]0;pwned\\x07 "))) << online.text().toStdString();
    const Outcome check = runSetup({QStringLiteral("check")}, folder.path());
    EXPECT_TRUE(check.text().contains(QStringLiteral("iuser='admin\\u200b' passw=*** quanxian=1：用户名含有控制字符或格式字符")))
        << check.text().toStdString();
    for (const Outcome* r : {&table, &online, &check})
        EXPECT_FALSE(r->text().contains(zeroWidth) || r->text().contains(retitle)) << r->text().toStdString();

    // A formula in a name is text to a spreadsheet; negative minutes and amounts stay numbers.
    const Outcome csv = runSetup(kNovember + QStringList{QStringLiteral("--format=csv")}, folder.path());
    bool wellFormed = false;
    const QList<QStringList> records = parseCsv(csv.text(), &wellFormed);
    ASSERT_EQ(records.size(), 5) << csv.text().toStdString();
    EXPECT_EQ(records[1].mid(1, 2), (QStringList{QStringLiteral("'=HYPERLINK(\"http://x\")"), QStringLiteral("1")}));
    // -0.015 yuan exactly, rounded away from zero.
    EXPECT_EQ(records[3].mid(1, 5), (QStringList{QStringLiteral("neg"), QStringLiteral("1"), QStringLiteral("-3"),
                                                 QStringLiteral("-0.05"), QStringLiteral("-0.02")}));

    // JSON keeps the stored names, written as escapes.
    const Outcome json = runSetup(kNovember + QStringList{QStringLiteral("--format=json")}, folder.path());
    EXPECT_TRUE(json.out.contains("\"admin\\u200b\"")) << json.out.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(json.out)[u"users"][1][u"user"].toString(), zeroWidth);
}

// --- check --------------------------------------------------------------------------

TEST_F(AdminCommands, CheckListsWhatTheWindowsWouldRefuseOrMisread)
{
    const QString path = byHand();
    // Past the first batch of rows, so that every batch is read.
    sql(path, QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < 2500)"
                             " insert into internet select 'ok', '2026-11-02', i, '08:00:00', '09:00:00' from n;"
                             "insert into users values ('甲', 'pw', 2);"
                             "insert into users values ('乙', '', 5);"
                             "insert into users values ('甲', 'other', 1.5);"
                             "insert into users values ('丙', NULL, 'admin');"
                             "insert into internet values ('甲', '2026-11-31', 2.5, '8:00:00', '24:00:00');"
                             "insert into internet values ('甲', '2026-11-02', -3, '08:00:00', '09:00:00');"
                             "insert into internet values ('it''s', NULL, 'x', NULL, '09:00:00');"
                             "insert into knumber values ('k1', 'p', 'yes', -1);"
                             "insert into knumber values ('k2', 'p', 0, 1e300);"
                             "insert into knumber values ('k3', 'p', 2, NULL);"
                             "insert into knumber values ('k4', 'p', 0, 0.5);"));
    const QByteArray before = [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const Outcome r = runSetup({QStringLiteral("check")}, folder.path());
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(r.text(),
              QStringLiteral(
                  "users rowid 2：iuser='乙' passw='' quanxian=5：没有密码；权限不是 1 到 4 的整数\n"
                  "users rowid 3：iuser='甲' passw=*** quanxian=1.5：用户名与 rowid 1 重复，登录时只认第一行；权限不是 1 到 4 的整数\n"
                  "users rowid 4：iuser='丙' passw=NULL quanxian='admin'：没有密码；权限不是 1 到 4 的整数\n"
                  "internet rowid 2501：iuser='甲' idate='2026-11-31' itime=2.5 stime='8:00:00' xtime='24:00:00'："
                  "日期不是 YYYY-MM-DD 格式的有效日期；分钟数不是整数；开始时刻不是 HH:MM:SS 格式的有效时刻；"
                  "结束时刻不是 HH:MM:SS 格式的有效时刻\n"
                  "internet rowid 2502：iuser='甲' idate='2026-11-02' itime=-3 stime='08:00:00' xtime='09:00:00'：分钟数是负数\n"
                  "internet rowid 2503：iuser='it''s' idate=NULL itime='x' stime=NULL xtime='09:00:00'："
                  "日期不是 YYYY-MM-DD 格式的有效日期；分钟数不是整数；开始时刻不是 HH:MM:SS 格式的有效时刻\n"
                  "knumber rowid 1：kuser='k1' kpassw=*** useyn='yes' price=-1.0：“使用与否”不是“是/否”（1、0 或 -1）；"
                  "单价不是大于 0 的数字（按 0.3 元/小时计算）\n"
                  "knumber rowid 2：kuser='k2' kpassw=*** useyn=0 price=1.0e+300：单价超出单精度范围（按 0.3 元/小时计算）\n"
                  "knumber rowid 3：kuser='k3' kpassw=*** useyn=2 price=NULL：“使用与否”不是“是/否”（1、0 或 -1）；"
                  "单价不是大于 0 的数字（按 0.3 元/小时计算）\n"
                  "users：没有管理员（权限 1）：请用 add-admin 添加\n"
                  "发现 10 处问题（users 4 行，internet 2503 行，knumber 4 行）\n"));
    QFile after(path);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
}

TEST_F(AdminCommands, CheckIsCleanOnAFreshFileAndRefusesWhatIsNoDatabase)
{
    created();
    Outcome r = runSetup({QStringLiteral("check")}, folder.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.text(), QStringLiteral("没有发现问题（users 1 行，internet 0 行，knumber 1 行）\n"));

    // The only account not in use.
    sql(file(), QStringLiteral("update knumber set useyn = 0"));
    r = runSetup({QStringLiteral("check")}, folder.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.text().startsWith(QStringLiteral("knumber：没有标为使用的宽带帐号"))) << r.text().toStdString();

    EXPECT_EQ(runSetup({QStringLiteral("check"), QStringLiteral("--file"), QStringLiteral("none.mdb")}, folder.path()).exitCode, 2);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("none.mdb"))));
    QFile notes(folder.filePath(QStringLiteral("notes.mdb")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("this is not a database, it only has a name like one");
    notes.close();
    EXPECT_EQ(runSetup({QStringLiteral("check"), QStringLiteral("--file"), QStringLiteral("notes.mdb")}, folder.path()).exitCode, 2);
    sql(folder.filePath(QStringLiteral("other.mdb")), QStringLiteral("create table users(iuser TEXT)"));
    EXPECT_EQ(runSetup({QStringLiteral("check"), QStringLiteral("--file"), QStringLiteral("other.mdb")}, folder.path()).exitCode, 2);
    // A pipe would wait for a writer for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("pipe.mdb"))).constData(), 0600), 0);
    const Outcome pipe = runSetup({QStringLiteral("check"), QStringLiteral("--file"), QStringLiteral("pipe.mdb")}, folder.path());
    EXPECT_EQ(pipe.exitCode, 2);
    EXPECT_TRUE(pipe.err.contains(QStringLiteral("不是普通文件"))) << pipe.err.toStdString();
}

TEST_F(AdminCommands, AWriteInterruptedByAKilledWriterIsRolledBackBeforeTheFileIsRead)
{
    const QString path = created();
    QProcess writer;
    writer.start(QStringLiteral(ADMIN_TEST_WRITER), {path});
    ASSERT_TRUE(writer.waitForReadyRead(30000)) << writer.readAllStandardError().toStdString();
    writer.kill();
    writer.waitForFinished();
    ASSERT_TRUE(QFileInfo::exists(path + QStringLiteral("-journal")));

    const Outcome r = runSetup({QStringLiteral("check")}, folder.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.text(), QStringLiteral("没有发现问题（users 1 行，internet 0 行，knumber 1 行）\n"));
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-journal")));
}

// --- online -------------------------------------------------------------------------

TEST_F(AdminCommands, OnlineListsTheRowsWrittenInTheLastTwoMinutes)
{
    const QString path = created();
    const QDateTime recent = QDateTime::currentDateTime().addSecs(-30);
    const QDateTime stale = QDateTime::currentDateTime().addSecs(-600);
    const auto row = [](const QString& user, const QDateTime& at, const QString& minutes) {
        return QStringLiteral("insert into internet values ('%1', '%2', %3, '07:05:00', '%4');")
            .arg(user, at.date().toString(QStringLiteral("yyyy-MM-dd")), minutes, at.time().toString(QStringLiteral("HH:mm:ss")));
    };
    EXPECT_EQ(runSetup({QStringLiteral("online")}, folder.path()).text(), QStringLiteral("现在没有正在计时的用户\n"));
    // A session begun yesterday at 23:50 and running since, one minute counted a tick.
    const QDateTime lateStart(QDate::currentDate().addDays(-1), QTime(23, 50));
    const qint64 lateMinutes = lateStart.secsTo(recent) / 60 + 1;
    sql(path, row(QStringLiteral("张三"), recent, QStringLiteral("12")) + row(QStringLiteral("bob"), recent, QStringLiteral("'3.5'"))
                  + row(QStringLiteral("old"), stale, QStringLiteral("40"))
                  + row(QStringLiteral("yesterday"), recent.addDays(-1), QStringLiteral("40"))
                  + QStringLiteral("insert into internet values ('夜猫', '%1', %2, '23:50:00', '%3');")
                        .arg(lateStart.date().toString(QStringLiteral("yyyy-MM-dd")))
                        .arg(lateMinutes)
                        .arg(recent.time().toString(QStringLiteral("HH:mm:ss"))));
    const Outcome r = runSetup({QStringLiteral("online")}, folder.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString last = recent.time().toString(QStringLiteral("HH:mm:ss"));
    EXPECT_EQ(r.text(), QStringLiteral("用户名  开始      分钟  最后写入\n"
                                       "bob     07:05:00     4  %1\n"
                                       "夜猫    23:50:00  %2  %1\n"
                                       "张三    07:05:00    12  %1\n")
                            .arg(last)
                            .arg(lateMinutes, 4));
    EXPECT_EQ(runSetup({QStringLiteral("online"), QStringLiteral("--file"), QStringLiteral("none.mdb")}, folder.path()).exitCode, 3);
}

} // namespace
