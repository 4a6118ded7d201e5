#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace doubles {

// The PostgreSQL server that the test command starts for the tests declared with
// horavo_add_test(... PGSERVER) (tools/pg-test-server.sh, CTest's pg_server fixture): the
// file named by HORAVO_TEST_PG_CONNINFO_FILE holds its connection string. Every test
// makes a database of its own in it.
class PgTestServer {
public:
    // Whether the server runs; when not, why in *whyNot.
    static bool available(QString* whyNot = nullptr);
    // Whether a test needing the server fails, rather than being skipped, without it: in CI.
    static bool required();

    // libpq's connection string of the server's postgres database.
    static QString conninfo();
    // The folder of the server's Unix socket: the host of the connection string.
    static QString socketFolder();

    // Creates a database of its own (horavo_t_<pid>_<n>) and returns its connection string.
    static QString freshDatabase();
    // Drops a database that freshDatabase() made, given its connection string.
    static void dropDatabase(const QString& databaseConninfo);
    // The pid of the server's postmaster, which takes every new connection.
    static qint64 postmasterPid();
};

// A process of the server stopped (SIGSTOP) for as long as this lives, then let go on
// (SIGCONT): a server that hangs without closing anything. The tests run as the server's
// user or as root, who may signal it.
class StoppedProcess {
public:
    explicit StoppedProcess(qint64 pid);
    ~StoppedProcess();
    StoppedProcess(const StoppedProcess&) = delete;
    StoppedProcess& operator=(const StoppedProcess&) = delete;

private:
    qint64 pid_;
};

// The connection string conninfo with the database name replaced by database.
QString withDatabase(const QString& conninfo, const QString& database);
// One value of a connection string (host, port, dbname...), or "" when it has none.
QString conninfoValue(const QString& conninfo, const char* keyword);

// Runs statements on the database of conninfo, for setting up and reading back rows;
// throws std::runtime_error with the server's message when they fail. rowsOn gives
// every row, columns joined by "|", NULL as "<null>".
void execOn(const QString& conninfo, const QString& sql);
QStringList rowsOn(const QString& conninfo, const QString& sql);

} // namespace doubles

// In a test that needs the server: skips it when the server does not run, or fails it in CI.
#define HORAVO_REQUIRE_PG_SERVER()                                                       \
    do {                                                                                 \
        QString horavoWhyNoPgServer;                                                     \
        if (!::doubles::PgTestServer::available(&horavoWhyNoPgServer)) {                 \
            if (::doubles::PgTestServer::required())                                     \
                FAIL() << "no PostgreSQL test server in CI: "                            \
                       << horavoWhyNoPgServer.toStdString();                             \
            GTEST_SKIP() << "no PostgreSQL test server: " << horavoWhyNoPgServer.toStdString(); \
        }                                                                                \
    } while (false)
