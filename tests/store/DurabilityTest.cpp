#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "store/Connection.h"
#include "store/Esql.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/store/StoreTestSupport.h"

using namespace std::chrono_literals;
using store::Esql;

namespace {

// One value read straight from a file with the engine, without this project's code.
QString rawScalar(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    QString value = QStringLiteral("<error>");
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return value;
}

class Durability : public ::testing::Test {
protected:
    doubles::TempDatabase db;
    QTemporaryDir elsewhere;

    // horavo.mdb copied alone, as a user copying the file would; the copy's path.
    QString copyOfTheFileAlone()
    {
        const QString copy = elsewhere.filePath(QStringLiteral("copy.mdb"));
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(db.path(), copy));
        return copy;
    }

    QStringList besideTheFile() const
    {
        return QDir(db.folder()).entryList({QStringLiteral("horavo.mdb-*")}, QDir::Files);
    }
};

// The engine's failures that a user meets say what happened in Chinese first; the
// engine's own text follows for whoever looks further.
TEST_F(Durability, AReadOnlyFileAndAFullDiskAreToldInChineseBeforeTheEngineText)
{
    const std::unique_ptr<store::Connection> connection = store::Connection::open(db.path());
    connection->exec("PRAGMA query_only = 1");
    const QString readOnly = storeErrorOf([&] { connection->exec("insert into users values ('a', 'b', 1)"); });
    EXPECT_TRUE(readOnly.startsWith(QStringLiteral("数据库文件“%1”是只读的").arg(db.path()))) << readOnly.toStdString();
    EXPECT_TRUE(readOnly.contains(QStringLiteral("（attempt to write a readonly database）"))) << readOnly.toStdString();

    connection->exec("PRAGMA query_only = 0");
    connection->exec("PRAGMA max_page_count = 8");
    const QString full = storeErrorOf([&] { connection->exec("insert into users select hex(zeroblob(100000)), 'b', 1"); });
    EXPECT_TRUE(full.startsWith(QStringLiteral("磁盘已满"))) << full.toStdString();
    EXPECT_TRUE(full.contains(QStringLiteral("full"))) << full.toStdString();
}

TEST_F(Durability, TheFileAloneHoldsAWriteWhileItsConnectionIsStillOpen)
{
    auto usage = Esql(QStringLiteral("select * from internet"));
    usage->addNew();
    usage->setValue(QStringLiteral("iuser"), QStringLiteral("ann"));
    usage->update();
    auto users = Esql(QStringLiteral("select * from users"));
    users->addNew();
    users->setValue(QStringLiteral("iuser"), QStringLiteral("bob"));
    users->update();

    const QString copy = copyOfTheFileAlone();
    EXPECT_EQ(rawScalar(copy, "select count(*) from internet where iuser='ann'"), QStringLiteral("1"));
    EXPECT_EQ(rawScalar(copy, "select count(*) from users where iuser='bob'"), QStringLiteral("1"));
    EXPECT_EQ(besideTheFile(), QStringList());
}

// A child that wrote one row and then ends by kill -9 or _exit, never closing its
// connection.
void writeInAChildThatEnds(const QString& path, const char* how, bool kill)
{
    QProcess child;
    child.start(QStringLiteral(STORE_TEST_WRITER), {path, QStringLiteral("child"), QString::fromLatin1(how)});
    ASSERT_TRUE(child.waitForStarted());
    while (!child.canReadLine())
        ASSERT_TRUE(child.waitForReadyRead(20000)) << child.readAllStandardError().toStdString();
    ASSERT_EQ(child.readLine().trimmed(), QByteArray("written"));
    if (kill)
        child.kill(); // SIGKILL
    ASSERT_TRUE(child.waitForFinished(20000));
}

TEST_F(Durability, TheFileAloneHoldsTheWritesOfAProgramKilledOrEndedAtOnce)
{
    writeInAChildThatEnds(db.path(), "--then-wait", true);
    EXPECT_EQ(rawScalar(copyOfTheFileAlone(), "select count(*) from internet where iuser='child'"), QStringLiteral("1"));
    EXPECT_EQ(besideTheFile(), QStringList());

    writeInAChildThatEnds(db.path(), "--then-exit", false);
    EXPECT_EQ(rawScalar(copyOfTheFileAlone(), "select count(*) from internet where iuser='child'"), QStringLiteral("2"));
    EXPECT_EQ(besideTheFile(), QStringList());
}

// A file an earlier version left in WAL mode, with committed rows still in its log: the
// file and its log as they were while that version ran.
QString fileLeftInWalMode(const QString& folder)
{
    const QString made = folder + QStringLiteral("/made.mdb");
    const QString left = folder + QStringLiteral("/left.mdb");
    {
        doubles::TempDatabase scratch;
        QFile::copy(scratch.path(), made);
    }
    RawConnection earlier(made);
    earlier.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                 "insert into users values ('inlog', 'x', 2)");
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::copy(made + suffix, left + suffix);
    return left;
}

TEST_F(Durability, AFileLeftInWalModeIsSwitchedBackWhenOpenedAndKeepsItsRows)
{
    const QString left = fileLeftInWalMode(elsewhere.path());
    ASSERT_TRUE(QFile::exists(left + QStringLiteral("-wal")));
    {
        auto users = Esql(QStringLiteral("select * from users"), left);
        ASSERT_EQ(users->rowCount(), 1u);
        EXPECT_EQ(users->value(QStringLiteral("iuser")).toString(), QStringLiteral("inlog"));
        EXPECT_FALSE(QFile::exists(left + QStringLiteral("-wal")));
        EXPECT_FALSE(QFile::exists(left + QStringLiteral("-shm")));
    }
    EXPECT_EQ(rawScalar(left, "PRAGMA journal_mode"), QStringLiteral("delete"));
    EXPECT_EQ(rawScalar(left, "select count(*) from users where iuser='inlog'"), QStringLiteral("1"));
}

TEST_F(Durability, AWalFileAnEarlierProgramStillHasOpenIsUsedAndSwitchedBackWhenLeft)
{
    auto earlier = std::make_unique<RawConnection>(db.path());
    ASSERT_EQ(earlier->exec("PRAGMA journal_mode=WAL"), SQLITE_OK);
    auto users = Esql(QStringLiteral("select * from users"));
    users->addNew();
    users->setValue(QStringLiteral("iuser"), QStringLiteral("during"));
    users->update();
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from users where iuser='during'")).toInt(), 1);
    // The earlier program ends first; the last connection to close switches back.
    earlier.reset();
    users.reset();
    EXPECT_EQ(rawScalar(db.path(), "PRAGMA journal_mode"), QStringLiteral("delete"));
    EXPECT_EQ(besideTheFile(), QStringList());
    EXPECT_EQ(rawScalar(copyOfTheFileAlone(), "select count(*) from users where iuser='during'"), QStringLiteral("1"));
}

class ReaderMeetsWriter : public Durability {
protected:
    void SetUp() override
    {
        savedTimeout = store::Connection::busyTimeout();
        savedWindow = store::Connection::retryWindow();
        store::Connection::setBusyTimeout(50ms);
        db.exec(QStringLiteral("insert into users values ('a','x',2),('b','y',2),('c','z',3)"));
    }
    void TearDown() override
    {
        store::Connection::setBusyTimeout(savedTimeout);
        store::Connection::setRetryWindow(savedWindow);
    }
    std::chrono::milliseconds savedTimeout{};
    std::chrono::milliseconds savedWindow{};
};

// Another connection in the middle of its commit: it holds the file exclusively.
class ExclusiveHolder {
public:
    ExclusiveHolder(const QString& path, std::chrono::milliseconds hold) : connection_(path)
    {
        EXPECT_EQ(connection_.exec("BEGIN EXCLUSIVE; insert into users values ('late','w',2)"), SQLITE_OK);
        releaser_ = std::thread([this, hold] {
            std::this_thread::sleep_for(hold);
            connection_.exec("COMMIT");
        });
    }
    ~ExclusiveHolder() { releaser_.join(); }

private:
    RawConnection connection_;
    std::thread releaser_;
};

TEST_F(ReaderMeetsWriter, AReadWaitsForACommittingWriterAndGetsEveryRow)
{
    store::Connection::setRetryWindow(3000ms);
    ExclusiveHolder holder(db.path(), 400ms);
    const auto started = std::chrono::steady_clock::now();
    auto users = Esql(QStringLiteral("select * from users"));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms) << "the read waited for the writer";
    EXPECT_EQ(users->rowCount(), 4u) << "every row, the writer's included";
}

TEST_F(ReaderMeetsWriter, AReadThatWaitsTooLongGivesTheEngineMessageAndNoSet)
{
    store::Connection::setRetryWindow(200ms);
    ExclusiveHolder holder(db.path(), 1200ms);
    const QString message = storeErrorOf([&] { Esql(QStringLiteral("select * from users")); });
    EXPECT_TRUE(message.contains(QStringLiteral("database is locked"))) << message.toStdString();
}

} // namespace
