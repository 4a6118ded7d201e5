#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QProcess>

#include "store/Connection.h"
#include "store/Esql.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/store/StoreTestSupport.h"

using namespace std::chrono_literals;
using store::Esql;

namespace {

// Holds the file's write lock on another connection for a while.
class WriteLockHolder {
public:
    WriteLockHolder(const QString& path, std::chrono::milliseconds hold) : connection_(path)
    {
        EXPECT_EQ(connection_.exec("BEGIN IMMEDIATE; insert into users values ('holder', 'x', 2)"), SQLITE_OK);
        releaser_ = std::thread([this, hold] {
            std::this_thread::sleep_for(hold);
            connection_.exec("COMMIT");
        });
    }
    ~WriteLockHolder() { releaser_.join(); }

private:
    RawConnection connection_;
    std::thread releaser_;
};

class Concurrency : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedTimeout = store::Connection::busyTimeout();
        savedWindow = store::Connection::retryWindow();
        db.exec(QStringLiteral("insert into knumber values ('counter', 'p', 1, 0)"));
    }
    void TearDown() override
    {
        store::Connection::setBusyTimeout(savedTimeout);
        store::Connection::setRetryWindow(savedWindow);
    }
    doubles::TempDatabase db;
    std::chrono::milliseconds savedTimeout{};
    std::chrono::milliseconds savedWindow{};
};

TEST_F(Concurrency, WriteWaitsForAnotherWriterAndThenGoesThrough)
{
    // Short single waits, so that the write has to start its transaction over.
    store::Connection::setBusyTimeout(50ms);
    store::Connection::setRetryWindow(3000ms);
    auto rs = Esql(QStringLiteral("select * from knumber"));
    {
        WriteLockHolder holder(db.path(), 600ms);
        rs->setValue(QStringLiteral("price"), 2.5);
        rs->update();
    }
    EXPECT_EQ(db.scalar(QStringLiteral("select price from knumber")).toDouble(), 2.5);
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from users where iuser='holder'")).toInt(), 1);
}

TEST_F(Concurrency, WriteBlockedForTooLongFailsWithTheEngineMessageAndWritesNothing)
{
    store::Connection::setBusyTimeout(50ms);
    store::Connection::setRetryWindow(300ms);
    auto rs = Esql(QStringLiteral("select * from knumber"));
    QString message;
    {
        WriteLockHolder holder(db.path(), 1500ms);
        rs->setValue(QStringLiteral("price"), 9);
        message = storeErrorOf([&] { rs->update(); });
    }
    EXPECT_TRUE(message.contains(QStringLiteral("database is locked"))) << message.toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("select price from knumber")).toDouble(), 0.0);
    // Once the other writer is done the same pending change can be written.
    rs->update();
    EXPECT_EQ(db.scalar(QStringLiteral("select price from knumber")).toDouble(), 9.0);
}

TEST_F(Concurrency, ABusyErrorAfterRowsWereFetchedLeavesTheFetchedRowsAsTheyWere)
{
    store::Connection::setBusyTimeout(50ms);
    store::Connection::setRetryWindow(200ms);
    db.exec(QStringLiteral("insert into knumber values ('second', 'q', 0, 1.5), ('third', 'r', 0, 2)"));
    auto rs = Esql(QStringLiteral("select * from knumber"));
    ASSERT_EQ(rs->rowCount(), 3u);
    rs->next();
    QString message;
    {
        WriteLockHolder holder(db.path(), 1200ms);
        message = storeErrorOf([&] { rs->deleteCurrent(); });
    }
    EXPECT_TRUE(message.contains(QStringLiteral("database is locked"))) << message.toStdString();
    EXPECT_EQ(rs->rowCount(), 3u) << "the fetched rows stay as they were";
    EXPECT_EQ(rs->value(QStringLiteral("kuser")).toString(), QStringLiteral("second"));
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from knumber")).toInt(), 3);
    rs->deleteCurrent();
    EXPECT_EQ(rs->rowCount(), 2u);
    EXPECT_EQ(db.rows(QStringLiteral("select kuser from knumber order by rowid")),
              (QStringList{QStringLiteral("counter"), QStringLiteral("third")}));
}

TEST_F(Concurrency, RecordSetsStayReadableWhileAnotherConnectionWrites)
{
    store::Connection::setBusyTimeout(50ms);
    WriteLockHolder holder(db.path(), 500ms);
    auto rs = Esql(QStringLiteral("select * from users"));
    EXPECT_EQ(rs->rowCount(), 0u); // the other transaction is not committed yet
}

TEST_F(Concurrency, TwoProcessesWritingTogetherLoseNoChange)
{
    const int perProcess = 60;
    QProcess a;
    QProcess b;
    a.start(QStringLiteral(STORE_TEST_WRITER), {db.path(), QStringLiteral("a"), QString::number(perProcess)});
    b.start(QStringLiteral(STORE_TEST_WRITER), {db.path(), QStringLiteral("b"), QString::number(perProcess)});
    // This process writes at the same time through its own record sets.
    for (int i = 0; i < perProcess; ++i) {
        for (;;) {
            auto counter = Esql(QStringLiteral("select * from knumber where kuser='counter'"));
            counter->setValue(QStringLiteral("price"), counter->value(QStringLiteral("price")).toDouble() + 1);
            try {
                counter->update();
                break;
            } catch (const store::ConflictError&) {
            }
        }
    }
    ASSERT_TRUE(a.waitForFinished(60000));
    ASSERT_TRUE(b.waitForFinished(60000));
    EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
    EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("select price from knumber where kuser='counter'")).toDouble(), 3.0 * perProcess);
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from internet where iuser='a'")).toInt(), perProcess);
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from internet where iuser='b'")).toInt(), perProcess);
}

} // namespace
