// horavo-setup on a PostgreSQL server (the test command's own), run as a process as an
// administrator would: create, add-admin, report and online there, copy between a file
// and the server both ways, and the commands that work only on a file.
#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <memory>
#include <vector>

#include <libpq-fe.h>

#include "store/Esql.h"
#include "tests/doubles/SetupProgram.h"
#include "tests/doubles/PgTestServer.h"
#include "tests/setup/FileRows.h"

namespace {

using doubles::PgTestServer;
using setuptest::everyRowOf;
using setuptest::kFileTables;
using setuptest::onFile;

using doubles::runSetup;
using doubles::setupProgram;
using Outcome = doubles::SetupOutcome;

QStringList serverCounts(const QString& conninfo)
{
    return doubles::rowsOn(conninfo, QStringLiteral("select (select count(*) from users), (select count(*) from internet),"
                                                    " (select count(*) from knumber)"));
}

class SetupOnAServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        HORAVO_REQUIRE_PG_SERVER();
        ASSERT_TRUE(QFileInfo(setupProgram()).isExecutable()) << setupProgram().toStdString();
        server = PgTestServer::freshDatabase();
    }
    void TearDown() override
    {
        for (const QString& database : {server, other})
            if (!database.isEmpty())
                PgTestServer::dropDatabase(database);
    }
    QString otherServer()
    {
        other = PgTestServer::freshDatabase();
        return other;
    }
    // The server made by the tool: administrator 老板, account in use at price.
    void created(const QString& price = QStringLiteral("1.5"))
    {
        const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--database"), server, QStringLiteral("--admin"),
                                    QStringLiteral("老板"), QStringLiteral("--password-stdin"), QStringLiteral("--isp-account"),
                                    QStringLiteral("0571"), QStringLiteral("--isp-password-stdin"), QStringLiteral("--price"), price},
                                   folder.path(), {"p'w\nkp\n"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    QString file(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }

    QTemporaryDir folder;
    QString server;
    QString other;
};

// --- create and add-admin ---------------------------------------------------------------

TEST_F(SetupOnAServer, CreateMakesTablesAndAdministratorThatTheProgramsRead)
{
    created(QStringLiteral("0.1"));
    // As tallyon's log-in reads it: through the store, the server's key hidden.
    const store::DatabaseAddress address = store::DatabaseAddress::server(server);
    const auto admin = store::Esql(QStringLiteral("select * from users where iuser='老板'"), address);
    ASSERT_EQ(admin->rowCount(), 1u);
    EXPECT_EQ(admin->fieldCount(), 3);
    EXPECT_EQ(admin->value(QStringLiteral("passw")).toString(), QStringLiteral("p'w"));
    EXPECT_EQ(admin->value(QStringLiteral("quanxian")).toInt(), 1);
    const auto account = store::Esql(QStringLiteral("select * from knumber"), address);
    ASSERT_EQ(account->rowCount(), 1u);
    EXPECT_EQ(account->value(QStringLiteral("kuser")).toString(), QStringLiteral("0571"));
    EXPECT_EQ(account->value(QStringLiteral("useyn")), QVariant(true));
    EXPECT_EQ(account->value(QStringLiteral("price")).toDouble(), 0.1);
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select count(*) from pg_indexes where tablename = 'internet'")),
              QStringList{QStringLiteral("3")}); // its key and the two look-ups

    // Again: the tables are there, nothing changes, and no password was needed to say so.
    const Outcome again = runSetup({QStringLiteral("create"), QStringLiteral("--database"), server, QStringLiteral("--admin"),
                                    QStringLiteral("x")},
                                   folder.path());
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_TRUE(again.err.contains(QStringLiteral("users"))) << again.err.toStdString();
    EXPECT_EQ(serverCounts(server), QStringList{QStringLiteral("1|0|1")});
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(SetupOnAServer, HoravoDatabaseNamesTheServerUnlessAFileIsGiven)
{
    created();
    const Outcome added = runSetup({QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("O'Neil"),
                                    QStringLiteral("--password-stdin")},
                                   folder.path(), {"x\n", server});
    ASSERT_EQ(added.exitCode, 0) << added.err.toStdString();
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select iuser, quanxian from users order by horavo_key")),
              (QStringList{QStringLiteral("老板|1"), QStringLiteral("O'Neil|1")}));
    EXPECT_FALSE(QFileInfo::exists(file("horavo.mdb")));
    EXPECT_EQ(runSetup({QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("O'Neil"),
                        QStringLiteral("--password-stdin")},
                       folder.path(), {"y\n", server})
                  .exitCode,
              5);

    // --file wins over the variable.
    const Outcome onFile = runSetup({QStringLiteral("create"), QStringLiteral("--file"), file("local.mdb"), QStringLiteral("--admin"),
                                     QStringLiteral("a"), QStringLiteral("--password-stdin")},
                                    folder.path(), {"p\n", server});
    ASSERT_EQ(onFile.exitCode, 0) << onFile.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(file("local.mdb")));
    EXPECT_EQ(serverCounts(server), QStringList{QStringLiteral("2|0|1")});

    // Both given: a mistake of the command line, nothing touched.
    const Outcome both = runSetup({QStringLiteral("add-admin"), QStringLiteral("--file"), file("local.mdb"), QStringLiteral("--database"),
                                   server, QStringLiteral("--admin"), QStringLiteral("b"), QStringLiteral("--password-stdin")},
                                  folder.path(), {"p\n"});
    EXPECT_EQ(both.exitCode, 1);
    EXPECT_EQ(serverCounts(server), QStringList{QStringLiteral("2|0|1")});

    // A server database without the tables is missing, as a file would be.
    const Outcome empty = runSetup({QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("a"),
                                    QStringLiteral("--password-stdin")},
                                   folder.path(), {"p\n", otherServer()});
    EXPECT_EQ(empty.exitCode, 3);
    EXPECT_TRUE(doubles::rowsOn(other, QStringLiteral("select tablename from pg_tables where schemaname = 'public'")).isEmpty());
}

TEST_F(SetupOnAServer, MessagesNeverShowThePassword)
{
    const QString withPassword = server + QStringLiteral(" password=hunter2");
    const Outcome missing = runSetup({QStringLiteral("report")}, folder.path(), {{}, withPassword});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(missing.err.contains(doubles::conninfoValue(server, "dbname"))) << missing.err.toStdString();
    EXPECT_FALSE(missing.err.contains(QStringLiteral("hunter2"))) << missing.err.toStdString();
}

// --- copy ---------------------------------------------------------------------------

TEST_F(SetupOnAServer, CopyFileToServerToFileKeepsEveryRowAndValue)
{
    const QString original = file("original.mdb");
    onFile(original, QString::fromLatin1(kFileTables)
                         + QStringLiteral(
                             "insert into users values ('张三', '密码''\"', 3);"
                             "insert into users values ('admin', NULL, 1);"
                             "insert into users values (NULL, '', NULL);"
                             "insert into internet values ('张三', '2026-11-02', 4611686018427387905, '23:59:59', NULL);"
                             "insert into internet values ('zed', '2026-01-31', 0, '00:00:00', '00:00:01');"
                             "insert into internet values ('admin', NULL, -5, NULL, NULL);"
                             "insert into internet values ('张三', '2026-11-01', 60, '08:00:00', '09:00:00');"
                             "insert into knumber values ('0571', 'kp', 1, 0.1);"
                             "insert into knumber values ('宽带', NULL, 0, 2.675);"
                             "insert into knumber values ('none', 'x', NULL, NULL);"));
    const Outcome up = runSetup({QStringLiteral("copy"), original, server}, folder.path());
    ASSERT_EQ(up.exitCode, 0) << up.err.toStdString();
    EXPECT_TRUE(up.out.contains("users 3 行") && up.out.contains("internet 4 行") && up.out.contains("knumber 3 行"))
        << up.out.toStdString();
    // On the server, in the order written, with their types.
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select iuser, itime, idate from internet order by horavo_key")),
              (QStringList{QStringLiteral("张三|4611686018427387905|2026-11-02"), QStringLiteral("zed|0|2026-01-31"),
                           QStringLiteral("admin|-5|<null>"), QStringLiteral("张三|60|2026-11-01")}));
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select price = 0.1, price = 2.675 from knumber order by horavo_key")),
              (QStringList{QStringLiteral("t|f"), QStringLiteral("f|t"), QStringLiteral("<null>|<null>")}));

    const Outcome down = runSetup({QStringLiteral("copy"), server, QStringLiteral("back.mdb")}, folder.path());
    ASSERT_EQ(down.exitCode, 0) << down.err.toStdString();
    const QStringList rows = everyRowOf(original);
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(everyRowOf(file("back.mdb")), rows);

    // Server to server as well.
    const Outcome across = runSetup({QStringLiteral("copy"), server, otherServer()}, folder.path());
    ASSERT_EQ(across.exitCode, 0) << across.err.toStdString();
    const QString internet = QStringLiteral("select iuser, idate, itime, stime, xtime from internet order by horavo_key");
    EXPECT_EQ(doubles::rowsOn(other, internet), doubles::rowsOn(server, internet));
}

// What the server's bulk path must escape or tell apart (tab, line ends, backslashes, a
// text that reads "\N", empty text and NULL), text longer than its chunks (where no
// index limits its length), and the extremes the store allows, through the server and
// back: the same values, in the same order, and the server's keys go on after them.
TEST_F(SetupOnAServer, CopyToAServerKeepsEveryAwkwardValue)
{
    const QString original = file("awkward.mdb");
    onFile(original,
           QString::fromLatin1(kFileTables)
               + QStringLiteral(
                   "insert into users values ('张三', 'back\\slash \\N \\. \\t' || char(9) || char(10) || char(13), 32767);"
                   "insert into users values ('', NULL, -32768);"
                   "insert into users values (NULL, '', 0);"
                   "insert into users values ('\\N', '\\', 4);"
                   "insert into internet values ('tab' || char(9) || 'line' || char(10) || 'cr' || char(13) || 'end\\', '0001-01-01',"
                   " 9223372036854775807, '00:00:00', '23:59:59');"
                   "insert into internet values ('', '9999-12-31', -9223372036854775808, NULL, NULL);"
                   "insert into internet values (NULL, NULL, NULL, NULL, NULL);"
                   "with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000)"
                   " insert into internet select 'u' || i || char(9) || '\\' || char(10), '2026-11-02', i, '08:00:00', '09:00:00' from n;"
                   "insert into knumber values ('最大', 'k' || char(9) || 'p', 1, 3.4028234663852886e38);"
                   "insert into knumber values ('最小', '\\N', 0, 1.401298464324817e-45);"
                   "insert into knumber values ('负', '', 1, -3.4028234663852886e38);"
                   "insert into knumber values ('tenth', NULL, NULL, 0.1);"
                   "insert into knumber values ('长', replace(printf('%.200000c', '_'), '_', '长\\'), 1, 1.5);"));
    const Outcome up = runSetup({QStringLiteral("copy"), original, server}, folder.path());
    ASSERT_EQ(up.exitCode, 0) << up.err.toStdString();
    EXPECT_TRUE(up.err.isEmpty()) << "no progress line on a pipe: " << up.err.toStdString();

    // On the server as the values themselves, not as their escapes.
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select passw, iuser is null, passw is null from users order by horavo_key")),
              (QStringList{QStringLiteral("back\\slash \\N \\. \\t\t\n\r|f|f"), QStringLiteral("<null>|f|t"),
                           QStringLiteral("|t|f"), QStringLiteral("\\|f|f")}));
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select length(iuser), right(iuser, 4), itime from internet where idate in"
                                                     " ('0001-01-01', '9999-12-31') order by horavo_key")),
              (QStringList{QStringLiteral("16|end\\|9223372036854775807"), QStringLiteral("0||-9223372036854775808")}));
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select length(kpassw), right(kpassw, 4) from knumber where kuser = '长'")),
              QStringList{QStringLiteral("400000|长\\长\\")});
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select count(*) from internet where iuser = 'u' || itime || chr(9) || '\\' || chr(10)")),
              QStringList{QStringLiteral("3000")});
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select price = 3.4028234663852886e38, price = 1.401298464324817e-45, price = 0.1"
                                                     " from knumber order by horavo_key")),
              (QStringList{QStringLiteral("t|f|f"), QStringLiteral("f|t|f"), QStringLiteral("f|f|f"), QStringLiteral("f|f|t"),
                           QStringLiteral("f|f|f")}));

    const Outcome down = runSetup({QStringLiteral("copy"), server, QStringLiteral("back.mdb")}, folder.path());
    ASSERT_EQ(down.exitCode, 0) << down.err.toStdString();
    const QStringList rows = everyRowOf(original);
    ASSERT_EQ(rows.size(), 4 + 3003 + 5);
    EXPECT_EQ(everyRowOf(file("back.mdb")), rows);

    // A row written afterwards, as a window writes it, takes the next key.
    const QString last = doubles::rowsOn(server, QStringLiteral("select max(horavo_key) from internet")).value(0);
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("insert into internet (iuser) values ('next') returning horavo_key > %1").arg(last)),
              QStringList{QStringLiteral("t")});
}

TEST_F(SetupOnAServer, CopyRefusesATargetThatHoldsRowsOrASourceThatIsMissing)
{
    created();
    const QString source = file("source.mdb");
    onFile(source, QString::fromLatin1(kFileTables) + QStringLiteral("insert into users values ('u', 'p', 2);"));

    const Outcome intoRows = runSetup({QStringLiteral("copy"), source, server}, folder.path());
    EXPECT_EQ(intoRows.exitCode, 7);
    EXPECT_TRUE(intoRows.err.contains(QStringLiteral("users 1 行"))) << intoRows.err.toStdString();
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select iuser from users")), QStringList{QStringLiteral("老板")});

    // A file holding rows is left alone the same way.
    const Outcome intoFile = runSetup({QStringLiteral("copy"), server, source}, folder.path());
    EXPECT_EQ(intoFile.exitCode, 7);
    EXPECT_EQ(onFile(source, QStringLiteral("select * from users")), QStringList{QStringLiteral("u|p|2")});

    // A source that is not there: neither the file nor the tables on the server.
    EXPECT_EQ(runSetup({QStringLiteral("copy"), file("nothing.mdb"), otherServer()}, folder.path()).exitCode, 3);
    EXPECT_EQ(runSetup({QStringLiteral("copy"), other, file("new.mdb")}, folder.path()).exitCode, 3);
    EXPECT_FALSE(QFileInfo::exists(file("new.mdb")));
    EXPECT_TRUE(doubles::rowsOn(other, QStringLiteral("select tablename from pg_tables where schemaname = 'public'")).isEmpty());
}

// Users and accounts are written before the usage rows: a usage row the target refuses
// comes after writes that must all be undone.
TEST_F(SetupOnAServer, ACopyThatFailsMidwayLeavesTheTargetAsItWas)
{
    const QString source = file("source.mdb");
    onFile(source, QString::fromLatin1(kFileTables)
                       + QStringLiteral("insert into users values ('u', 'p', 2);"
                                        "insert into internet values ('u', '2026-11-01', 10, '08:00:00', '08:10:00');"
                                        "insert into internet values ('u', '2026-11-02', 5000, '08:00:00', '08:10:00');"));
    // The server's own rule refuses the second usage row.
    created();
    doubles::execOn(server, QStringLiteral("delete from users; delete from knumber;"
                                           "alter table internet add constraint short_sessions check (itime < 1000)"));
    const Outcome refused = runSetup({QStringLiteral("copy"), source, server}, folder.path());
    EXPECT_EQ(refused.exitCode, 6);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("short_sessions"))) << refused.err.toStdString();
    EXPECT_EQ(serverCounts(server), QStringList{QStringLiteral("0|0|0")});

    // A server without the tables gets none when the copy fails.
    doubles::execOn(server, QStringLiteral("insert into internet (iuser, idate, itime) values ('v', '2026-11-31', 1)"));
    const QString empty = otherServer();
    const Outcome noTables = runSetup({QStringLiteral("copy"), server, empty}, folder.path());
    EXPECT_EQ(noTables.exitCode, 6);
    EXPECT_TRUE(doubles::rowsOn(empty, QStringLiteral("select tablename from pg_tables where schemaname = 'public'")).isEmpty());

    // A file the store refuses a value for (no such day): an empty target stays empty, a
    // target that was not there is not left behind.
    const QString emptyFile = file("empty.mdb");
    onFile(emptyFile, QString::fromLatin1(kFileTables));
    const Outcome intoFile = runSetup({QStringLiteral("copy"), server, emptyFile}, folder.path());
    EXPECT_EQ(intoFile.exitCode, 6);
    EXPECT_TRUE(intoFile.err.contains(QStringLiteral("2026-11-31"))) << intoFile.err.toStdString();
    EXPECT_TRUE(everyRowOf(emptyFile).isEmpty());
    EXPECT_EQ(runSetup({QStringLiteral("copy"), server, file("new.mdb")}, folder.path()).exitCode, 6);
    EXPECT_FALSE(QFileInfo::exists(file("new.mdb")));
}

// Two copies into one empty database at once, both past the first look for rows while
// another connection holds the users table: the server lets only one of them commit, and
// the other, run again, finds the rows and leaves them alone.
TEST_F(SetupOnAServer, TwoCopiesAtOnceFillTheTargetOnce)
{
    created();
    doubles::execOn(server, QStringLiteral("delete from users; delete from knumber"));
    QStringList sources;
    for (const char* name : {"first.mdb", "second.mdb"}) {
        sources << file(name);
        onFile(sources.back(), QString::fromLatin1(kFileTables)
                                   + QStringLiteral("insert into users values ('%1', 'p', 2);"
                                                    "insert into internet values ('%1', '2026-11-01', 1, '08:00:00', '08:01:00');")
                                         .arg(QString::fromLatin1(name)));
    }
    PGconn* holder = PQconnectdb(server.toUtf8().constData());
    ASSERT_EQ(PQstatus(holder), CONNECTION_OK) << PQerrorMessage(holder);
    PQclear(PQexec(holder, "BEGIN; LOCK TABLE users IN SHARE MODE"));

    std::vector<std::unique_ptr<QProcess>> copies;
    for (const QString& source : sources) {
        copies.push_back(std::make_unique<QProcess>());
        copies.back()->setWorkingDirectory(folder.path());
        copies.back()->start(setupProgram(), {QStringLiteral("copy"), source, server});
    }
    QThread::msleep(1500); // both wait for the lock (the tool waits up to 10 s)
    PQclear(PQexec(holder, "COMMIT"));
    PQfinish(holder);
    QList<int> codes;
    for (const auto& copy : copies) {
        ASSERT_TRUE(copy->waitForFinished(60000));
        codes << copy->exitCode();
    }
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (QList<int>{0, 7})) << copies[0]->readAllStandardError().toStdString()
                                         << copies[1]->readAllStandardError().toStdString();
    const QStringList users = doubles::rowsOn(server, QStringLiteral("select iuser from users"));
    ASSERT_EQ(users.size(), 1);
    EXPECT_EQ(doubles::rowsOn(server, QStringLiteral("select iuser from internet")), users);
}

// --- report and online ----------------------------------------------------------------

// Usage rows written alike to a file and to the server, with dates a window cannot read.
const char* const kUsage =
    "insert into internet values ('张三', '2026-11-01', 60, '08:00:00', '09:00:00');"
    "insert into internet values ('张三', '2026-11-30', 40, '08:00:00', '08:40:00');"
    "insert into internet values ('a,b\"c', '2026-11-15', 3, '08:00:00', '08:03:00');"
    "insert into internet values ('a,b\"c', '2026-11-15', NULL, '08:00:00', '08:00:00');"
    "insert into internet values ('bob', '2026-11-16', 14, '08:00:00', '08:14:00');"
    "insert into internet values ('Bob', '2026-10-31', 1000, '08:00:00', '08:14:00');"
    "insert into internet values ('bob', '2026-12-01', 1000, '08:00:00', '08:14:00');"
    "insert into internet values ('bob', '2026-11-31', 5, '08:00:00', '08:05:00');"
    "insert into internet values ('bob', '2026/11/16', 6, '08:00:00', '08:06:00');"
    "insert into internet values ('bob', '2026-11-00', 2, '08:00:00', '08:06:00');"
    "insert into internet values ('bob', '0000-11-05', 3, '08:00:00', '08:06:00');"
    "insert into internet values ('bob', '2024-02-29', 4, '08:00:00', '08:06:00');"
    "insert into internet values ('bob', '2100-02-29', 9, '08:00:00', '08:06:00');"
    "insert into internet values ('张三', NULL, 7, '08:00:00', '08:07:00');"
    "insert into internet values (NULL, '2026-11-20', 8, '08:00:00', '08:07:00');";

TEST_F(SetupOnAServer, ReportAndOnlineGiveOnAServerWhatTheyGiveOnAFile)
{
    created();
    const Outcome made = runSetup({QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("老板"),
                                   QStringLiteral("--password-stdin"), QStringLiteral("--isp-account"), QStringLiteral("0571"),
                                   QStringLiteral("--isp-password-stdin"), QStringLiteral("--price"), QStringLiteral("1.5")},
                                  folder.path(), {"pw\nkp\n"});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString recent = QStringLiteral("insert into internet values ('zed', '%1', 3, '00:00:01', '%2');"
                                          "insert into internet values ('Amy', '%1', 5, '00:00:02', '%2');"
                                          "insert into internet values ('old', '%1', 5, '00:00:02', '00:00:00');"
                                          "insert into internet values (NULL, '%1', 1, NULL, '%2');"
                                          "insert into internet values ('Amy', '%1', 2, NULL, '%2');")
                               .arg(now.left(10), now.mid(11));
    onFile(file("horavo.mdb"), QString::fromLatin1(kUsage) + recent);
    doubles::execOn(server, QString::fromLatin1(kUsage) + recent);

    const QStringList period{QStringLiteral("--from"), QStringLiteral("2026-11-01"), QStringLiteral("--to"), QStringLiteral("2026-11-30")};
    const QList<QStringList> reports{
        QStringList{QStringLiteral("report")} + period,
        QStringList{QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("csv")} + period,
        QStringList{QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--user"),
                    QStringLiteral("bob"), QStringLiteral("--from"), QStringLiteral("2000-01-01"), QStringLiteral("--to"),
                    QStringLiteral("2100-12-31")},
        QStringList{QStringLiteral("online")},
    };
    for (const QStringList& arguments : reports) {
        const Outcome onTheFile = runSetup(arguments, folder.path());
        const Outcome onTheServer = runSetup(arguments, folder.path(), {{}, server});
        ASSERT_EQ(onTheFile.exitCode, 0) << onTheFile.err.toStdString();
        EXPECT_EQ(onTheServer.exitCode, 0) << onTheServer.err.toStdString();
        EXPECT_FALSE(onTheFile.out.isEmpty());
        EXPECT_EQ(onTheServer.out.toStdString(), onTheFile.out.toStdString()) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(onTheServer.err, onTheFile.err);
    }
    // What the server gives is right, not only alike: of the rows above, 2026-11-31,
    // 2026/11/16, 2026-11-00, 0000-11-05, 2100-02-29 and NULL are no dates (32 minutes);
    // 2024-02-29 is one, outside the period.
    const QJsonObject json =
        QJsonDocument::fromJson(runSetup(QStringList{QStringLiteral("report"), QStringLiteral("--format=json")} + period, folder.path(), {{}, server}).out)
            .object();
    const QJsonObject unreadable = json.value(QStringLiteral("unreadableDates")).toObject();
    EXPECT_EQ(unreadable.value(QStringLiteral("rows")).toInteger(), 6);
    EXPECT_EQ(unreadable.value(QStringLiteral("minutes")).toInteger(), 32);
    EXPECT_EQ(json.value(QStringLiteral("total")).toObject().value(QStringLiteral("minutes")).toInteger(), 60 + 40 + 3 + 14 + 8);
    const QString online = QString::fromUtf8(runSetup({QStringLiteral("online")}, folder.path(), {{}, server}).out);
    EXPECT_TRUE(online.indexOf(QStringLiteral("Amy")) < online.indexOf(QStringLiteral("zed"))) << online.toStdString();
    EXPECT_FALSE(online.contains(QStringLiteral("old"))) << online.toStdString();
}

TEST_F(SetupOnAServer, ReportForANameThatEscapesAQuoteGivesNobodysRows)
{
    created();
    doubles::execOn(server, QString::fromLatin1(kUsage));
    doubles::execOn(server, QStringLiteral("alter database %1 set standard_conforming_strings = off")
                                .arg(doubles::conninfoValue(server, "dbname")));
    const Outcome r = runSetup({QStringLiteral("report"), QStringLiteral("--database"), server, QStringLiteral("--from"),
                           QStringLiteral("2026-11-01"), QStringLiteral("--user"), QStringLiteral("nobody\\' or 1=1 --"),
                           QStringLiteral("--format=csv")},
                          folder.path());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("bob")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("\r\n合计,,0,0,")) << r.out.toStdString();
}

// --- the commands of the file ----------------------------------------------------------

TEST_F(SetupOnAServer, BackupRefusesAServerAndCheckReadsItsRows)
{
    created();
    doubles::execOn(server, QStringLiteral("insert into users values ('乙', '', 5)"));
    const Outcome backup = runSetup({QStringLiteral("backup"), QStringLiteral("--database"), server, QStringLiteral("copy.mdb")},
                                    folder.path());
    EXPECT_EQ(backup.exitCode, 8);
    EXPECT_TRUE(backup.err.contains(QStringLiteral("pg_dump"))) << backup.err.toStdString();
    const Outcome check = runSetup({QStringLiteral("check")}, folder.path(), {{}, server});
    EXPECT_EQ(check.exitCode, 1) << check.err.toStdString();
    EXPECT_EQ(check.text(), QStringLiteral("users horavo_key 2：iuser='乙' passw='' quanxian=5：没有密码；权限不是 1 到 4 的整数\n"
                                           "发现 1 处问题（users 2 行，internet 0 行，knumber 1 行）\n"));
    EXPECT_TRUE(QDir(folder.path()).isEmpty());

    // With --file they work on the file as before, whatever HORAVO_DATABASE says.
    ASSERT_EQ(runSetup({QStringLiteral("copy"), server, QStringLiteral("local.mdb")}, folder.path()).exitCode, 0);
    EXPECT_EQ(runSetup({QStringLiteral("check"), QStringLiteral("--file"), QStringLiteral("local.mdb")}, folder.path(), {{}, server}).exitCode, 1);
    EXPECT_EQ(runSetup({QStringLiteral("backup"), QStringLiteral("--file"), QStringLiteral("local.mdb"), QStringLiteral("copy.mdb")},
                       folder.path(), {{}, server})
                  .exitCode,
              0);
    EXPECT_EQ(everyRowOf(file("copy.mdb")), everyRowOf(file("local.mdb")));
}

} // namespace
