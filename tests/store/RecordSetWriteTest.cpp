#include <gtest/gtest.h>

#include <QDate>
#include <QTime>

#include "store/Esql.h"
#include "store/SqlText.h"
#include "tests/store/StoreTestSupport.h"

using store::ConflictError;
using store::Esql;
using store::escapeQuotes;

namespace {

const QString kConflictText = QStringLiteral(
    "Row cannot be located for updating. Some values may have been changed since it was last read.");

template <typename Db>
class RecordSetWrite : public OnEachEngine<Db> {};
TYPED_TEST_SUITE(RecordSetWrite, BothEngines, EngineNames);

TYPED_TEST(RecordSetWrite, AppendIsInTheFileAtOnceAndBecomesTheCurrentRow)
{
    this->db.exec(QStringLiteral("insert into internet values ('old', '2024-01-01', 3, '01:00:00', '01:02:00')"));
    auto rs = Esql(QStringLiteral("select * from internet"));
    rs->addNew();
    EXPECT_TRUE(rs->editing());
    EXPECT_FALSE(rs->atEnd());
    EXPECT_TRUE(rs->value(QStringLiteral("iuser")).isNull());
    rs->setValue(QStringLiteral("iuser"), QStringLiteral("bob"));
    rs->setValue(QStringLiteral("idate"), QDate(2024, 3, 5));
    rs->setValue(QStringLiteral("itime"), 1);
    rs->setValue(QStringLiteral("stime"), QTime(9, 5, 7));
    rs->update();

    EXPECT_FALSE(rs->editing());
    EXPECT_EQ(rs->rowCount(), 2u);
    EXPECT_EQ(rs->position(), 1u);
    EXPECT_EQ(rs->value(QStringLiteral("iuser")).toString(), QStringLiteral("bob"));
    EXPECT_EQ(rs->value(QStringLiteral("idate")).toString(), QStringLiteral("2024-03-05"));
    EXPECT_EQ(rs->value(QStringLiteral("stime")).toString(), QStringLiteral("09:05:07"));
    EXPECT_TRUE(rs->value(QStringLiteral("xtime")).isNull()); // never set: NULL in the file

    auto later = Esql(QStringLiteral("select * from internet where iuser='bob'"));
    ASSERT_EQ(later->rowCount(), 1u);
    EXPECT_EQ(later->value(QStringLiteral("itime")).toLongLong(), 1);
    EXPECT_EQ(this->db.rows(QStringLiteral("select * from internet where iuser='bob'")),
              QStringList{QStringLiteral("bob|2024-03-05|1|09:05:07|<null>")});

    // The new row can be changed again through the same set.
    rs->setValue(QStringLiteral("itime"), 2);
    rs->update();
    EXPECT_EQ(this->db.scalar(QStringLiteral("select itime from internet where iuser='bob'")).toInt(), 2);
    rs->next();
    EXPECT_TRUE(rs->atEnd());
}

TYPED_TEST(RecordSetWrite, AddNewWithNothingSetWritesARowOfNulls)
{
    auto rs = Esql(QStringLiteral("select * from knumber"));
    rs->addNew();
    rs->update();
    EXPECT_EQ(this->db.rows(QStringLiteral("select * from knumber")), QStringList{QStringLiteral("<null>|<null>|<null>|<null>")});
    EXPECT_TRUE(rs->value(QStringLiteral("useyn")).isNull());
}

TYPED_TEST(RecordSetWrite, ChangeHitsExactlyTheRowReadAmongDuplicates)
{
    for (int i = 0; i < 3; ++i)
        this->db.exec(QStringLiteral("insert into internet values ('bob', '2024-03-01', 5, '08:00:00', '08:04:00')"));
    auto rs = Esql(QStringLiteral("select iuser as 用户, itime as 使用时间 from internet where iuser='bob'"));
    rs->next();
    rs->setValue(QStringLiteral("使用时间"), 6);
    EXPECT_EQ(rs->value(QStringLiteral("使用时间")).toLongLong(), 6); // pending value shows
    rs->update();
    EXPECT_EQ(this->db.rows(QStringLiteral("select %1 as k, itime from internet order by %1").arg(this->keyColumn())),
              (QStringList{QStringLiteral("1|5"), QStringLiteral("2|6"), QStringLiteral("3|5")}));
    EXPECT_EQ(rs->valueAt(0, 1).toLongLong(), 5);
    EXPECT_EQ(rs->valueAt(1, 1).toLongLong(), 6);

    rs->deleteCurrent();
    EXPECT_EQ(rs->rowCount(), 2u);
    EXPECT_EQ(rs->position(), 1u); // on the row that followed
    EXPECT_EQ(this->db.rows(QStringLiteral("select %1 as k from internet order by %1").arg(this->keyColumn())),
              (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
}

TYPED_TEST(RecordSetWrite, MovingOnWritesPendingChangesAndCancelForgetsThem)
{
    this->db.exec(QStringLiteral("insert into users values ('a', 'p', 2); insert into users values ('b', 'q', 2)"));
    auto rs = Esql(QStringLiteral("select * from users"));
    rs->setValue(QStringLiteral("quanxian"), 4);
    rs->next();
    EXPECT_EQ(this->db.scalar(QStringLiteral("select quanxian from users where iuser='a'")).toInt(), 4);

    rs->setValue(QStringLiteral("passw"), QStringLiteral("changed"));
    rs->cancelUpdate();
    EXPECT_FALSE(rs->editing());
    EXPECT_EQ(rs->value(QStringLiteral("passw")).toString(), QStringLiteral("q"));
    rs->first();
    EXPECT_EQ(this->db.scalar(QStringLiteral("select passw from users where iuser='b'")).toString(), QStringLiteral("q"));
}

TYPED_TEST(RecordSetWrite, ChangeOfARowChangedElsewhereIsAConflictAndWritesNothing)
{
    this->db.exec(QStringLiteral("insert into internet values ('bob', '2024-03-01', 5, '08:00:00', '08:04:00')"));
    auto first = Esql(QStringLiteral("select * from internet"));
    auto second = Esql(QStringLiteral("select * from internet"));

    first->setValue(QStringLiteral("itime"), 6);
    first->update();

    second->setValue(QStringLiteral("itime"), 7);
    second->setValue(QStringLiteral("xtime"), QStringLiteral("09:00:00"));
    try {
        second->update();
        FAIL() << "no conflict reported";
    } catch (const ConflictError& conflict) {
        EXPECT_EQ(conflict.message(), kConflictText);
    }
    EXPECT_EQ(this->db.rows(QStringLiteral("select itime, xtime from internet")), QStringList{QStringLiteral("6|08:04:00")});
    EXPECT_TRUE(second->editing()); // the caller decides: cancel or set other values
    second->cancelUpdate();

    // A change to a column the other writer left alone goes through and keeps its change.
    second->setValue(QStringLiteral("xtime"), QStringLiteral("09:00:00"));
    second->update();
    EXPECT_EQ(this->db.rows(QStringLiteral("select itime, xtime from internet")), QStringList{QStringLiteral("6|09:00:00")});
    EXPECT_EQ(second->value(QStringLiteral("itime")).toLongLong(), 6); // read back after writing
}

TYPED_TEST(RecordSetWrite, DeleteOfARowGoneOrChangedElsewhereIsAConflict)
{
    this->db.exec(QStringLiteral("insert into users values ('a', 'p', 2); insert into users values ('b', 'q', 2)"));
    auto rs = Esql(QStringLiteral("select * from users"));
    rs->next();

    // Deleted and a new row made (in a file, under the same rowid): still not the row
    // that was read.
    this->db.exec(QStringLiteral("delete from users where iuser='b'; insert into users values ('c', 'r', 1)"));
    if (!TestFixture::onServer)
        ASSERT_EQ(this->db.scalar(QStringLiteral("select rowid from users where iuser='c'")).toInt(), 2);
    EXPECT_THROW(rs->deleteCurrent(), ConflictError);
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users")).toInt(), 2);

    rs->first();
    this->db.exec(QStringLiteral("delete from users where iuser='a'"));
    EXPECT_THROW(rs->deleteCurrent(), ConflictError);
    EXPECT_THROW(
        {
            rs->setValue(QStringLiteral("passw"), QStringLiteral("x"));
            rs->update();
        },
        ConflictError);
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users")).toInt(), 1);
}

TYPED_TEST(RecordSetWrite, RefusedValuesWriteNothing)
{
    this->db.exec(QStringLiteral("insert into users values ('a', 'p', 2);"
                           "insert into internet values ('a', '2024-01-01', 1, '01:00:00', '01:00:00');"
                           "insert into knumber values ('k', 'p', 1, 0.3)"));
    struct Case {
        const char* sql;
        const char* field;
        QVariant value;
    };
    const Case refused[] = {
        {"select * from users", "quanxian", 32768},
        {"select * from users", "quanxian", -32769},
        {"select * from users", "quanxian", 1.5},
        {"select * from users", "quanxian", QStringLiteral("abc")},
        {"select * from users", "quanxian", true},
        {"select * from internet", "itime", QStringLiteral("12 minutes")},
        {"select * from internet", "itime", 1e30},
        {"select * from internet", "idate", QStringLiteral("2024-02-30")},
        {"select * from internet", "idate", QStringLiteral("2024-3-05")},
        {"select * from internet", "idate", QStringLiteral("05/03/2024")},
        {"select * from internet", "stime", QStringLiteral("24:00:00")},
        {"select * from internet", "stime", QStringLiteral("9:05:00")},
        {"select * from internet", "xtime", QStringLiteral("12:60:00")},
        {"select * from knumber", "useyn", 2},
        {"select * from knumber", "useyn", QStringLiteral("maybe")},
        {"select * from knumber", "price", QStringLiteral("cheap")},
        {"select * from knumber", "price", std::numeric_limits<double>::infinity()},
    };
    const QStringList before = this->db.rows(QStringLiteral("select * from users")) + this->db.rows(QStringLiteral("select * from internet"))
        + this->db.rows(QStringLiteral("select * from knumber"));
    for (const Case& c : refused) {
        auto rs = Esql(QString::fromUtf8(c.sql));
        const QString message = storeErrorOf([&] {
            rs->setValue(QString::fromUtf8(c.field), c.value);
            rs->update();
        });
        EXPECT_TRUE(message.contains(QString::fromUtf8(c.field))) << c.field << " " << c.value.toString().toStdString();
        EXPECT_FALSE(rs->editing()) << c.field;
    }
    const QStringList after = this->db.rows(QStringLiteral("select * from users")) + this->db.rows(QStringLiteral("select * from internet"))
        + this->db.rows(QStringLiteral("select * from knumber"));
    EXPECT_EQ(after, before);
}

TYPED_TEST(RecordSetWrite, AcceptedValuesAreStoredInTheirKindsForm)
{
    this->db.exec(QStringLiteral("insert into users values ('a', 'p', 2);"
                           "insert into knumber values ('k', 'p', 0, 0.3)"));
    auto u = Esql(QStringLiteral("select * from users"));
    u->setValue(QStringLiteral("quanxian"), QStringLiteral(" -32768 "));
    u->setValue(QStringLiteral("passw"), QStringLiteral(""));
    u->update();
    EXPECT_EQ(this->db.rows(QStringLiteral("select passw, quanxian from users")), QStringList{QStringLiteral("|-32768")});
    if (!TestFixture::onServer)
        EXPECT_EQ(this->db.scalar(QStringLiteral("select typeof(quanxian) from users")).toString(), QStringLiteral("integer"));
    u->setValue(QStringLiteral("quanxian"), QStringLiteral(""));
    u->update();
    EXPECT_TRUE(this->db.scalar(QStringLiteral("select quanxian from users")).isNull());

    auto k = Esql(QStringLiteral("select * from knumber"));
    const std::pair<QVariant, int> yesNo[] = {
        {true, 1}, {false, 0}, {-1, 1}, {1, 1}, {0, 0}, {QStringLiteral("TRUE"), 1}, {QStringLiteral("-1"), 1}, {QStringLiteral("false"), 0}};
    for (const auto& [given, stored] : yesNo) {
        k->setValue(QStringLiteral("useyn"), given);
        k->update();
        EXPECT_EQ(this->db.scalar(QStringLiteral("select useyn from knumber")).toInt(), stored) << given.toString().toStdString();
        EXPECT_EQ(k->value(QStringLiteral("useyn")).toBool(), stored == 1);
    }
    k->setValue(QStringLiteral("price"), QStringLiteral("1.25"));
    k->update();
    EXPECT_EQ(k->value(QStringLiteral("price")).toDouble(), 1.25);
    k->setValue(QStringLiteral("price"), QVariant());
    k->update();
    EXPECT_TRUE(k->value(QStringLiteral("price")).isNull());
    EXPECT_TRUE(this->db.scalar(QStringLiteral("select price from knumber")).isNull());
}

TYPED_TEST(RecordSetWrite, QuotedNameIsFoundAndTypedTextCannotChangeTheStatement)
{
    auto users = Esql(QStringLiteral("select * from users"));
    users->addNew();
    users->setValue(QStringLiteral("iuser"), QStringLiteral("O'Brien"));
    users->setValue(QStringLiteral("passw"), QStringLiteral("pw"));
    users->setValue(QStringLiteral("quanxian"), 3);
    users->update();
    this->db.exec(QStringLiteral("insert into users values ('other', 'x', 1)"));

    auto found = Esql(QStringLiteral("select * from users where iuser='") + escapeQuotes(QStringLiteral("O'Brien")) + QStringLiteral("'"));
    ASSERT_EQ(found->rowCount(), 1u);
    EXPECT_EQ(found->value(QStringLiteral("iuser")).toString(), QStringLiteral("O'Brien"));

    const QString typed[] = {QStringLiteral("x' or '1'='1"), QStringLiteral("x'; delete from users; --"), QStringLiteral("'")};
    for (const QString& text : typed) {
        auto rs = Esql(QStringLiteral("select * from users where iuser='") + escapeQuotes(text) + QStringLiteral("'"));
        EXPECT_EQ(rs->rowCount(), 0u) << text.toStdString();
    }
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users")).toInt(), 2);
    EXPECT_EQ(escapeQuotes(QStringLiteral("a''b'")), QStringLiteral("a''''b''"));
}

TYPED_TEST(RecordSetWrite, AUserNameWithAControlOrFormatCharacterIsRefused)
{
    auto users = Esql(QStringLiteral("select * from users"));
    const QString refused[] = {QStringLiteral("admin\u200b"), QStringLiteral("\x1b]0;x\x07"), QStringLiteral("a\nb"),
                               QStringLiteral("\u202eevil"), QStringLiteral("\ufeffbob"), QStringLiteral("x\u0085"),
                               QString::fromUcs4(U"tag\U000E0041")};
    for (const QString& name : refused) {
        users->addNew();
        const QString message = storeErrorOf([&] { users->setValue(QStringLiteral("iuser"), name); });
        EXPECT_TRUE(message.contains(QStringLiteral("控制字符或格式字符"))) << message.toStdString();
        users->cancelUpdate();
    }
    // Blanks, quotes, backslashes and any script make names.
    for (const QString& name : {QStringLiteral("O'Brien"), QStringLiteral("张 三"), QStringLiteral("a\\b")}) {
        users->addNew();
        users->setValue(QStringLiteral("iuser"), name);
        users->update();
    }
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users")).toInt(), 3);
}

TYPED_TEST(RecordSetWrite, WritesWithoutCurrentRowThrow)
{
    auto rs = Esql(QStringLiteral("select * from users"));
    EXPECT_FALSE(storeErrorOf([&] { rs->setValue(QStringLiteral("iuser"), QStringLiteral("x")); }).isEmpty());
    EXPECT_FALSE(storeErrorOf([&] { rs->deleteCurrent(); }).isEmpty());
    rs->update(); // nothing pending: nothing to do
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users")).toInt(), 0);
}

TYPED_TEST(RecordSetWrite, DeletingEveryRowLeavesAnEmptySet)
{
    this->db.exec(QStringLiteral("insert into knumber values ('a', 'p', 1, 1); insert into knumber values ('b', 'p', 0, 2)"));
    auto rs = Esql(QStringLiteral("select * from knumber"));
    while (!rs->atEnd())
        rs->deleteCurrent();
    EXPECT_EQ(rs->rowCount(), 0u);
    EXPECT_TRUE(rs->atStart());
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from knumber")).toInt(), 0);
}

} // namespace
