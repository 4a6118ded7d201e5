#include "tests/doubles/PgTestServer.h"

#include <atomic>
#include <memory>
#include <stdexcept>

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <csignal>

#include <libpq-fe.h>

namespace doubles {

namespace {

const char* const conninfoFileVariable = "HORAVO_TEST_PG_CONNINFO_FILE";
const QString freshDatabasePrefix = QStringLiteral("horavo_t_");

QString conninfoFile()
{
    return qEnvironmentVariable(conninfoFileVariable);
}

QString firstLineOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

// tools/pg-test-server.sh writes why it started no server beside the connection string.
QString unavailableFileBeside(const QString& conninfoPath)
{
    return QFileInfo(conninfoPath).dir().filePath(QStringLiteral("unavailable"));
}

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

Connection connectTo(const QString& conninfo)
{
    Connection connection(PQconnectdb(conninfo.toUtf8().constData()), &PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK)
        throw std::runtime_error("cannot connect to \"" + conninfo.toStdString()
                                 + "\": " + PQerrorMessage(connection.get()));
    return connection;
}

Result run(const QString& conninfo, const QString& sql)
{
    Connection connection = connectTo(conninfo);
    Result result(PQexec(connection.get(), sql.toUtf8().constData()), &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error("\"" + sql.toStdString() + "\" failed: "
                                 + PQresultErrorMessage(result.get()));
    return result;
}

QString quotedConninfoValue(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

using Options = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;

Options parsed(const QString& conninfo)
{
    char* error = nullptr;
    Options options(PQconninfoParse(conninfo.toUtf8().constData(), &error), &PQconninfoFree);
    if (!options) {
        const std::string message = error ? error : "out of memory";
        PQfreemem(error);
        throw std::runtime_error("not a connection string: \"" + conninfo.toStdString() + "\": " + message);
    }
    return options;
}

} // namespace

bool PgTestServer::available(QString* whyNot)
{
    QString reason;
    const QString path = conninfoFile();
    if (path.isEmpty())
        reason = QString::fromLatin1(conninfoFileVariable)
            + QStringLiteral(" is not set (CTest sets it for the tests declared with PGSERVER)");
    else if (QFileInfo::exists(unavailableFileBeside(path)))
        reason = firstLineOf(unavailableFileBeside(path));
    else if (!QFileInfo::exists(path))
        reason = path + QStringLiteral(" does not exist: the test command's pg_server_start did not start a server");
    if (whyNot)
        *whyNot = reason;
    return reason.isEmpty();
}

bool PgTestServer::required()
{
    const QString ci = qEnvironmentVariable("CI");
    return !ci.isEmpty() && ci != QStringLiteral("0") && ci != QStringLiteral("false");
}

QString PgTestServer::conninfo()
{
    QString whyNot;
    if (!available(&whyNot))
        throw std::runtime_error("no PostgreSQL test server: " + whyNot.toStdString());
    return firstLineOf(conninfoFile());
}

QString PgTestServer::socketFolder()
{
    return conninfoValue(conninfo(), "host");
}

QString PgTestServer::freshDatabase()
{
    static std::atomic<int> made{0};
    const QString name = freshDatabasePrefix + QString::number(QCoreApplication::applicationPid())
        + QLatin1Char('_') + QString::number(++made);
    execOn(conninfo(), QStringLiteral("CREATE DATABASE ") + name);
    return withDatabase(conninfo(), name);
}

void PgTestServer::dropDatabase(const QString& databaseConninfo)
{
    const QString name = conninfoValue(databaseConninfo, "dbname");
    if (!name.startsWith(freshDatabasePrefix))
        throw std::invalid_argument("not a database of freshDatabase(): \"" + name.toStdString() + '"');
    execOn(conninfo(), QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(name));
}

qint64 PgTestServer::postmasterPid()
{
    const QString data = rowsOn(conninfo(), QStringLiteral("show data_directory")).value(0);
    return firstLineOf(QDir(data).filePath(QStringLiteral("postmaster.pid"))).toLongLong();
}

StoppedProcess::StoppedProcess(qint64 pid) : pid_(pid)
{
    if (pid_ <= 0 || ::kill(pid_t(pid_), SIGSTOP) != 0)
        throw std::runtime_error("cannot stop process " + std::to_string(pid_));
    // Stopped once /proc says so ("T" after the name in parentheses).
    const QString stat = QStringLiteral("/proc/%1/stat").arg(pid_);
    for (int tries = 0; tries < 200 && !firstLineOf(stat).section(QLatin1Char(')'), -1).startsWith(QStringLiteral(" T")); ++tries)
        QThread::msleep(10);
}

StoppedProcess::~StoppedProcess()
{
    ::kill(pid_t(pid_), SIGCONT);
}

QString withDatabase(const QString& conninfo, const QString& database)
{
    QStringList parts;
    const Options options = parsed(conninfo);
    for (const PQconninfoOption* option = options.get(); option->keyword; ++option) {
        const QString keyword = QString::fromLatin1(option->keyword);
        if (option->val && keyword != QStringLiteral("dbname"))
            parts << keyword + QLatin1Char('=') + quotedConninfoValue(QString::fromUtf8(option->val));
    }
    parts << QStringLiteral("dbname=") + quotedConninfoValue(database);
    return parts.join(QLatin1Char(' '));
}

QString conninfoValue(const QString& conninfo, const char* keyword)
{
    const Options options = parsed(conninfo);
    for (const PQconninfoOption* option = options.get(); option->keyword; ++option)
        if (qstrcmp(option->keyword, keyword) == 0)
            return option->val ? QString::fromUtf8(option->val) : QString();
    return {};
}

void execOn(const QString& conninfo, const QString& sql)
{
    run(conninfo, sql);
}

QStringList rowsOn(const QString& conninfo, const QString& sql)
{
    const Result result = run(conninfo, sql);
    QStringList rows;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        QStringList columns;
        for (int column = 0; column < PQnfields(result.get()); ++column)
            columns << (PQgetisnull(result.get(), row, column)
                            ? QStringLiteral("<null>")
                            : QString::fromUtf8(PQgetvalue(result.get(), row, column)));
        rows << columns.join(QLatin1Char('|'));
    }
    return rows;
}

} // namespace doubles
