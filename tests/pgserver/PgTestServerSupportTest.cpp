#include <stdexcept>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/doubles/PgTestServer.h"

using doubles::PgTestServer;

// What needs no server: whether one runs, from the files of tools/pg-test-server.sh,
// and the connection strings of fresh databases.
TEST(PgTestServerAvailability, ItIsKnownFromTheConninfoFileAndTheReasonBesideIt)
{
    QTemporaryDir state;
    const QString conninfoFile = state.filePath(QStringLiteral("conninfo"));
    const QByteArray saved = qgetenv("HORAVO_TEST_PG_CONNINFO_FILE");
    QString whyNot;

    qunsetenv("HORAVO_TEST_PG_CONNINFO_FILE");
    EXPECT_FALSE(PgTestServer::available(&whyNot));
    EXPECT_TRUE(whyNot.contains(QStringLiteral("HORAVO_TEST_PG_CONNINFO_FILE is not set"))) << whyNot.toStdString();

    qputenv("HORAVO_TEST_PG_CONNINFO_FILE", QFile::encodeName(conninfoFile));
    EXPECT_FALSE(PgTestServer::available(&whyNot));
    EXPECT_TRUE(whyNot.contains(QStringLiteral("does not exist"))) << whyNot.toStdString();
    EXPECT_THROW(PgTestServer::conninfo(), std::runtime_error);

    QFile unavailable(state.filePath(QStringLiteral("unavailable")));
    ASSERT_TRUE(unavailable.open(QIODevice::WriteOnly));
    unavailable.write("no server here\n");
    unavailable.close();
    EXPECT_FALSE(PgTestServer::available(&whyNot));
    EXPECT_EQ(whyNot, QStringLiteral("no server here"));
    unavailable.remove();

    QFile conninfo(conninfoFile);
    ASSERT_TRUE(conninfo.open(QIODevice::WriteOnly));
    conninfo.write("host=/tmp/x port=5432 user=horavo dbname=postgres\n");
    conninfo.close();
    EXPECT_TRUE(PgTestServer::available(&whyNot));
    EXPECT_EQ(whyNot, QString());
    EXPECT_EQ(PgTestServer::conninfo(), QStringLiteral("host=/tmp/x port=5432 user=horavo dbname=postgres"));

    qputenv("HORAVO_TEST_PG_CONNINFO_FILE", saved);
}

TEST(PgTestServerConninfo, TheDatabaseIsReplacedAndOtherValuesKept)
{
    const QString other = doubles::withDatabase(
        QStringLiteral("host='/tmp/a b' port=5432 user=horavo dbname=postgres application_name='it\\'s'"),
        QStringLiteral("horavo_t_1_2"));
    EXPECT_EQ(doubles::conninfoValue(other, "dbname"), QStringLiteral("horavo_t_1_2"));
    EXPECT_EQ(doubles::conninfoValue(other, "host"), QStringLiteral("/tmp/a b"));
    EXPECT_EQ(doubles::conninfoValue(other, "port"), QStringLiteral("5432"));
    EXPECT_EQ(doubles::conninfoValue(other, "user"), QStringLiteral("horavo"));
    EXPECT_EQ(doubles::conninfoValue(other, "application_name"), QStringLiteral("it's"));
    EXPECT_EQ(doubles::conninfoValue(other, "sslmode"), QString());
    EXPECT_THROW(doubles::withDatabase(QStringLiteral("host='unclosed"), QStringLiteral("x")), std::runtime_error);
}
