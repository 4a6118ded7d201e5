#include <gtest/gtest.h>

#include <vector>

#include <QTemporaryDir>

#include "store/Esql.h"
#include "store/ReadOnlyDatabase.h"
#include "tests/store/StoreTestSupport.h"

using store::Esql;
using store::StoreError;

namespace {

template <typename Db>
class EsqlRead : public OnEachEngine<Db> {
protected:
    void SetUp() override
    {
        OnEachEngine<Db>::SetUp();
        if (this->IsSkipped() || this->HasFatalFailure())
            return;
        this->db.exec(QStringLiteral(
            "insert into users values ('alice', 'pw1', 1);"
            "insert into users values ('bob', 'pw2', 3);"
            "insert into users values ('Carol', NULL, NULL);"
            "insert into internet values ('bob', '2024-03-01', 61, '08:00:00', '09:00:00');"
            "insert into internet values ('bob', '2024-03-02', 5, '10:00:00', '10:04:00');"
            "insert into internet values ('alice', '2024-03-02', 7, '11:00:00', '11:06:00');"
            "insert into knumber values ('isp1', 'kpw', 1, 0.5);"
            "insert into knumber values ('isp2', 'kpw2', 0, NULL);"));
    }
};
TYPED_TEST_SUITE(EsqlRead, BothEngines, EngineNames);

class EsqlReadInAFile : public EsqlRead<doubles::TempDatabase> {};

TYPED_TEST(EsqlRead, CountsRowsAtOnceAndWalksThemInOrder)
{
    auto rs = Esql(QStringLiteral("select * from internet where iuser='bob'"));
    ASSERT_EQ(rs->rowCount(), 2u);
    EXPECT_FALSE(rs->atEnd());
    EXPECT_EQ(rs->value(QStringLiteral("idate")).toString(), QStringLiteral("2024-03-01"));
    rs->next();
    EXPECT_EQ(rs->value(QStringLiteral("idate")).toString(), QStringLiteral("2024-03-02"));
    rs->next();
    EXPECT_TRUE(rs->atEnd());
    rs->next(); // at the end already: stays there
    EXPECT_TRUE(rs->atEnd());
    rs->first();
    EXPECT_EQ(rs->position(), 0u);
    EXPECT_EQ(rs->value(QStringLiteral("itime")).toLongLong(), 61);
}

TYPED_TEST(EsqlRead, NoMatchingRowIsAtEndAtOnce)
{
    auto rs = Esql(QStringLiteral("select * from users where iuser='nobody'"));
    EXPECT_EQ(rs->rowCount(), 0u);
    EXPECT_TRUE(rs->atEnd());
    EXPECT_TRUE(rs->atStart());
    EXPECT_EQ(rs->fieldCount(), 3);
    rs->first();
    EXPECT_TRUE(rs->atEnd());
}

TYPED_TEST(EsqlRead, ReadingWithoutCurrentRowThrows)
{
    auto empty = Esql(QStringLiteral("select * from users where iuser='nobody'"));
    EXPECT_FALSE(storeErrorOf([&] { empty->value(QStringLiteral("iuser")); }).isEmpty());
    EXPECT_FALSE(storeErrorOf([&] { empty->value(0); }).isEmpty());

    auto rs = Esql(QStringLiteral("select * from knumber"));
    rs->moveTo(rs->rowCount());
    EXPECT_TRUE(rs->atEnd());
    EXPECT_FALSE(storeErrorOf([&] { rs->value(QStringLiteral("kuser")); }).isEmpty());
    EXPECT_FALSE(storeErrorOf([&] { rs->valueAt(2, 0); }).isEmpty());
    EXPECT_FALSE(storeErrorOf([&] { rs->moveTo(3); }).isEmpty());
}

TYPED_TEST(EsqlRead, FieldsByAliasIncludingCjkAndByAsciiCaseInsensitiveName)
{
    auto rs = Esql(QStringLiteral(
        "select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,xtime as 下机时间 from internet where iuser='bob'"));
    ASSERT_EQ(rs->fieldCount(), 5);
    EXPECT_EQ(rs->fieldName(2), QStringLiteral("使用时间"));
    EXPECT_EQ(rs->fieldKind(2), store::ColumnKind::Integer);
    EXPECT_EQ(rs->fieldKind(3), store::ColumnKind::Time);
    qlonglong total = 0;
    for (rs->first(); !rs->atEnd(); rs->next())
        total += rs->value(QStringLiteral("使用时间")).toLongLong();
    EXPECT_EQ(total, 66);

    auto users = Esql(QStringLiteral("select * from users where iuser='alice'"));
    EXPECT_EQ(users->value(QStringLiteral("IUSER")).toString(), QStringLiteral("alice"));
    EXPECT_EQ(users->fieldIndex(QStringLiteral("QuanXian")), 2);
    // Only ASCII letters fold: the full-width letters are another name.
    EXPECT_EQ(users->fieldIndex(QStringLiteral("ｉｕｓｅｒ")), -1);
}

TYPED_TEST(EsqlRead, ExactNameWinsOverCaseInsensitiveOne)
{
    // Quoted: a server folds an unquoted alias to lower case, a file keeps it as written.
    auto rs = Esql(QStringLiteral("select iuser as \"Name\", passw as \"name\" from users where iuser='bob'"));
    EXPECT_EQ(rs->value(QStringLiteral("name")).toString(), QStringLiteral("pw2"));
    EXPECT_EQ(rs->value(QStringLiteral("Name")).toString(), QStringLiteral("bob"));
    EXPECT_EQ(rs->value(QStringLiteral("NAME")).toString(), QStringLiteral("bob"));
}

TYPED_TEST(EsqlRead, UnknownFieldThrowsNamingIt)
{
    auto rs = Esql(QStringLiteral("select * from users"));
    const QString message = storeErrorOf([&] { rs->value(QStringLiteral("passwd")); });
    EXPECT_TRUE(message.contains(QStringLiteral("passwd"))) << message.toStdString();
    EXPECT_TRUE(storeErrorOf([&] { rs->setValue(QStringLiteral("用户"), 1); }).contains(QStringLiteral("用户")));
}

TYPED_TEST(EsqlRead, ValuesComeAsTheColumnKindSaysAndNullAsNullVariant)
{
    auto k = Esql(QStringLiteral("select * from knumber"));
    EXPECT_EQ(k->value(QStringLiteral("useyn")).metaType().id(), QMetaType::Bool);
    EXPECT_TRUE(k->value(QStringLiteral("useyn")).toBool());
    EXPECT_EQ(k->value(QStringLiteral("price")).metaType().id(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(k->value(QStringLiteral("price")).toDouble(), 0.5);
    k->next();
    EXPECT_FALSE(k->value(QStringLiteral("useyn")).toBool());
    EXPECT_TRUE(k->value(QStringLiteral("price")).isNull());

    auto u = Esql(QStringLiteral("select * from users where iuser='Carol'"));
    EXPECT_TRUE(u->value(QStringLiteral("passw")).isNull());
    EXPECT_TRUE(u->value(QStringLiteral("quanxian")).isNull());
    auto a = Esql(QStringLiteral("select * from users where iuser='alice'"));
    EXPECT_EQ(a->value(QStringLiteral("quanxian")).metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(a->value(QStringLiteral("iuser")).metaType().id(), QMetaType::QString);

    auto sum = Esql(QStringLiteral("select sum(itime) as 使用时间, count(*) from internet"));
    EXPECT_EQ(sum->value(QStringLiteral("使用时间")).metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(sum->value(QStringLiteral("使用时间")).toLongLong(), 73);
    auto none = Esql(QStringLiteral("select sum(itime) from internet where iuser='nobody'"));
    EXPECT_TRUE(none->value(0).isNull());
}

TYPED_TEST(EsqlRead, ValueAtReadsAnyRowWithoutMovingTheCursor)
{
    auto rs = Esql(QStringLiteral("select * from internet"));
    EXPECT_EQ(rs->valueAt(2, 0).toString(), QStringLiteral("alice"));
    EXPECT_EQ(rs->position(), 0u);
    EXPECT_EQ(rs->value(0).toString(), QStringLiteral("bob"));
}

TEST_F(EsqlReadInAFile, HandMadeDatabaseWithOtherTypeNamesWorks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("horavo.mdb"));
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
        sqlite3_exec(raw,
            "create table USERS(IUSER varchar(50), PASSW varchar(50), QUANXIAN smallint);"
            "create table internet(iuser, idate, itime, stime, xtime);"
            "create table knumber(kuser text, kpassw text, useyn boolean, price float);"
            "insert into USERS values ('x', 'y', 2);"
            "insert into internet values ('x', '2024-01-01', 3, '01:02:03', '01:05:03');"
            "insert into knumber values ('k', 'p', 1, 2);",
            nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    auto u = Esql(QStringLiteral("select * from users where iuser='x'"), path);
    EXPECT_EQ(u->value(QStringLiteral("quanxian")).toLongLong(), 2);
    EXPECT_EQ(u->fieldKind(2), store::ColumnKind::Integer16);
    auto k = Esql(QStringLiteral("select * from knumber"), path);
    EXPECT_EQ(k->value(QStringLiteral("useyn")).metaType().id(), QMetaType::Bool);
    EXPECT_EQ(k->value(QStringLiteral("price")).metaType().id(), QMetaType::Double);

    auto i = Esql(QStringLiteral("select * from internet"), path);
    i->setValue(QStringLiteral("itime"), 4);
    i->update();
    auto again = Esql(QStringLiteral("select itime from internet"), path);
    EXPECT_EQ(again->value(0).toLongLong(), 4);
    EXPECT_FALSE(storeErrorOf([&] { i->setValue(QStringLiteral("idate"), QStringLiteral("2024-02-30")); }).isEmpty());
}

// Each engine finds by its own means whether a statement's rows are one table's rows; the
// last statements of each list are written in one engine's own words.
TYPED_TEST(EsqlRead, OnlyPlainSelectsOfOneTableCanBeUpdated)
{
    std::vector<const char*> updatable = {
        "select * from users",
        "  /* lead */ SELECT all iuser as 用户, passw from users where iuser in (select iuser from internet group by iuser) order by iuser",
        "select * from internet where iuser='x' limit 10 offset 5",
        "select*from knumber;",
    };
    std::vector<const char*> readOnly = {
        "select distinct iuser from internet",
        "select iuser from internet group by iuser",
        "select iuser, sum(itime) from internet group by iuser",
        "select u.iuser from users u join internet i on u.iuser = i.iuser",
        "select users.iuser from users, knumber",
        "select * from (select * from users) as u",
        "select iuser from users union select iuser from internet",
        "select iuser, 'x' from users",
        "with u as (select * from users) select * from u",
    };
    if (!TestFixture::onServer) {
        updatable.push_back("select * from internet where iuser='x' limit 5, 10");
        readOnly.insert(readOnly.end(), {"select iuser, sum(itime) from internet", "select * from (select * from users)",
                                         "pragma table_info(users)"});
    }
    for (const char* sql : updatable)
        EXPECT_TRUE(Esql(QString::fromUtf8(sql))->updatable()) << sql;
    for (const char* sql : readOnly) {
        auto rs = Esql(QString::fromUtf8(sql));
        EXPECT_FALSE(rs->updatable()) << sql;
        if (rs->rowCount() > 0) {
            const QString message = storeErrorOf([&] { rs->setValue(0, QStringLiteral("z")); });
            EXPECT_TRUE(message.contains(QStringLiteral("不能更新"))) << sql;
        }
    }
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users where iuser='z'")).toInt(), 0);
}

TYPED_TEST(EsqlRead, SecondStatementIsRefusedBeforeAnythingRuns)
{
    const QString message = storeErrorOf([] { Esql(QStringLiteral("delete from knumber; drop table users")); });
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from knumber")).toInt(), 2);
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users")).toInt(), 3);
    // Blanks, comments and semicolons after the one statement are fine.
    EXPECT_EQ(Esql(QStringLiteral("select * from users ; -- done\n ;"))->rowCount(), 3u);
}

TYPED_TEST(EsqlRead, StatementThatIsNoQueryRunsAndGivesEmptyReadOnlySet)
{
    auto rs = Esql(QStringLiteral("delete from internet where iuser='bob'"));
    EXPECT_EQ(rs->rowCount(), 0u);
    EXPECT_TRUE(rs->atEnd());
    EXPECT_FALSE(rs->updatable());
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from internet")).toInt(), 1);
}

TYPED_TEST(EsqlRead, EngineErrorsSayTheirCauseFirstAndCarryTheEngineMessage)
{
    const QString missing = storeErrorOf([] { Esql(QStringLiteral("select * from userz")); });
    EXPECT_GT(missing.indexOf(QString::fromUtf8(EngineTexts<TypeParam>::missingTable)), missing.indexOf(QStringLiteral("缺少")))
        << missing.toStdString();
    EXPECT_GE(missing.indexOf(QStringLiteral("缺少")), 0) << missing.toStdString();
    EXPECT_TRUE(storeErrorOf([] { Esql(QStringLiteral("selec * from users")); }).contains(QStringLiteral("syntax error")));
    EXPECT_FALSE(storeErrorOf([] { Esql(QStringLiteral("  ")); }).isEmpty());
}

} // namespace

namespace {

// The forward read of the administrator's commands: rows as stored, with the schema's
// kinds, one at a time; a read that its reader stops leaves the connection to read on;
// nothing is written through it.
TYPED_TEST(EsqlRead, ForwardReadHandsOverStoredRowsAndWritesNothing)
{
    const auto read = store::ReadOnlyDatabase::open(this->db.address());
    const QString sql = QStringLiteral("select iuser, itime, idate from internet where iuser = $1 order by idate");
    QStringList rows;
    read->forEachRow(sql, {QStringLiteral("bob")}, [&](const store::ReadRow& row) {
        EXPECT_EQ(row.kind(1), store::ColumnKind::Integer);
        EXPECT_EQ(row.kind(2), store::ColumnKind::Date);
        rows << store::storedText(row.stored(0)) + QLatin1Char('|') + store::storedText(row.stored(1)) + QLatin1Char('|')
                + store::storedText(row.stored(2));
    });
    EXPECT_EQ(rows, (QStringList{QStringLiteral("bob|61|2024-03-01"), QStringLiteral("bob|5|2024-03-02")}));

    struct Enough {};
    EXPECT_THROW(read->forEachRow(sql, {QStringLiteral("bob")}, [](const store::ReadRow&) { throw Enough{}; }), Enough);
    int again = 0;
    read->forEachRow(sql, {QStringLiteral("alice")}, [&](const store::ReadRow&) { ++again; });
    EXPECT_EQ(again, 1);

    EXPECT_THROW(read->forEachRow(QStringLiteral("delete from users"), {}, [](const store::ReadRow&) {}), StoreError);
    EXPECT_EQ(Esql(QStringLiteral("select * from users"), this->db.address())->rowCount(), 3u);
    EXPECT_EQ(read->systemTables(), (QStringList{QStringLiteral("users"), QStringLiteral("internet"), QStringLiteral("knumber")}));
}

} // namespace
