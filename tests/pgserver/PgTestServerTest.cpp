#include <stdexcept>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/stat.h>

#include "tests/doubles/PgTestServer.h"

using doubles::PgTestServer;

namespace {

QString firstRow(const QString& conninfo, const QString& sql)
{
    const QStringList rows = doubles::rowsOn(conninfo, sql);
    return rows.isEmpty() ? QStringLiteral("<no row>") : rows.first();
}

bool connects(const QString& conninfo)
{
    PGconn* connection = PQconnectdb(conninfo.toUtf8().constData());
    const bool ok = PQstatus(connection) == CONNECTION_OK;
    PQfinish(connection);
    return ok;
}

// The postmaster's own account of itself: line 5 its socket folder, line 6 its first
// TCP address ("" when it listens on none).
QStringList postmasterPidLines(const QString& conninfo)
{
    QFile file(QDir(firstRow(conninfo, QStringLiteral("SHOW data_directory"))).filePath(QStringLiteral("postmaster.pid")));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

} // namespace

TEST(PgTestServerDatabases, AFreshDatabaseIsWrittenAndReadBack)
{
    HORAVO_REQUIRE_PG_SERVER();
    const QString db = PgTestServer::freshDatabase();
    doubles::execOn(db, QStringLiteral("CREATE TABLE users (name text PRIMARY KEY, minutes bigint)"));
    doubles::execOn(db, QStringLiteral("INSERT INTO users VALUES ('张三', 9223372036854775807), ('ann', NULL)"));

    EXPECT_EQ(doubles::rowsOn(db, QStringLiteral("SELECT name, minutes FROM users ORDER BY name")),
              (QStringList{QStringLiteral("ann|<null>"), QStringLiteral("张三|9223372036854775807")}));
    EXPECT_EQ(firstRow(db, QStringLiteral("SELECT current_database()")), doubles::conninfoValue(db, "dbname"));
    EXPECT_TRUE(doubles::conninfoValue(db, "dbname").startsWith(QStringLiteral("horavo_t_")));
    EXPECT_EQ(firstRow(db, QStringLiteral("SHOW server_encoding")), QStringLiteral("UTF8"));
    PgTestServer::dropDatabase(db);
}

TEST(PgTestServerDatabases, TwoFreshDatabasesAreDistinct)
{
    HORAVO_REQUIRE_PG_SERVER();
    const QString first = PgTestServer::freshDatabase();
    const QString second = PgTestServer::freshDatabase();
    EXPECT_NE(doubles::conninfoValue(first, "dbname"), doubles::conninfoValue(second, "dbname"));

    doubles::execOn(first, QStringLiteral("CREATE TABLE only_here (n int)"));
    EXPECT_EQ(firstRow(first, QStringLiteral("SELECT to_regclass('only_here') IS NOT NULL")), QStringLiteral("t"));
    EXPECT_EQ(firstRow(second, QStringLiteral("SELECT to_regclass('only_here') IS NOT NULL")), QStringLiteral("f"));
    PgTestServer::dropDatabase(first);
    PgTestServer::dropDatabase(second);
}

TEST(PgTestServerDatabases, ADroppedDatabaseIsGone)
{
    HORAVO_REQUIRE_PG_SERVER();
    const QString db = PgTestServer::freshDatabase();
    const QString name = doubles::conninfoValue(db, "dbname");
    ASSERT_TRUE(connects(db));
    PgTestServer::dropDatabase(db);

    EXPECT_FALSE(connects(db));
    EXPECT_EQ(firstRow(PgTestServer::conninfo(),
                       QStringLiteral("SELECT count(*) FROM pg_database WHERE datname = '%1'").arg(name)),
              QStringLiteral("0"));
    EXPECT_THROW(PgTestServer::dropDatabase(PgTestServer::conninfo()), std::invalid_argument); // postgres itself
}

TEST(PgTestServerDatabases, AFailingStatementThrowsTheServersMessage)
{
    HORAVO_REQUIRE_PG_SERVER();
    const QString db = PgTestServer::freshDatabase();
    try {
        doubles::execOn(db, QStringLiteral("SELECT * FROM no_such_table"));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("relation \"no_such_table\" does not exist"), std::string::npos)
            << error.what();
    }
    PgTestServer::dropDatabase(db);
}

TEST(PgTestServerPlace, ItListensOnNoTcpPort)
{
    HORAVO_REQUIRE_PG_SERVER();
    const QString server = PgTestServer::conninfo();
    EXPECT_EQ(firstRow(server, QStringLiteral("SHOW listen_addresses")), QString());
    const QStringList pidLines = postmasterPidLines(server);
    ASSERT_GE(pidLines.size(), 6) << "postmaster.pid unread";
    EXPECT_EQ(pidLines.at(5), QString()) << "the postmaster listens on " << pidLines.at(5).toStdString();

    // Only this server has this database: a TCP connection to it would be to this server.
    const QString db = PgTestServer::freshDatabase();
    const QString port = doubles::conninfoValue(server, "port");
    for (const QString& address : {QStringLiteral("127.0.0.1"), QStringLiteral("::1")}) {
        const QString overTcp = QStringLiteral("host=%1 port=%2 user=horavo dbname=%3 connect_timeout=5")
                                    .arg(address, port, doubles::conninfoValue(db, "dbname"));
        EXPECT_FALSE(connects(overTcp)) << overTcp.toStdString();
    }
    EXPECT_TRUE(connects(db));
    PgTestServer::dropDatabase(db);
}

TEST(PgTestServerPlace, ItsSocketIsInAPrivateFolder)
{
    HORAVO_REQUIRE_PG_SERVER();
    const QString server = PgTestServer::conninfo();
    const QString folder = PgTestServer::socketFolder();
    ASSERT_TRUE(folder.startsWith(QStringLiteral("/tmp/horavo-pg."))) << folder.toStdString();
    EXPECT_EQ(firstRow(server, QStringLiteral("SHOW unix_socket_directories")), folder);
    EXPECT_EQ(postmasterPidLines(server).value(4), folder);

    const QString socket = QDir(folder).filePath(QStringLiteral(".s.PGSQL.") + doubles::conninfoValue(server, "port"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(socket).constData(), &info), 0) << socket.toStdString();
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << "others may enter " << folder.toStdString();
    EXPECT_TRUE(firstRow(server, QStringLiteral("SHOW data_directory")).startsWith(folder + QLatin1Char('/')));
}
