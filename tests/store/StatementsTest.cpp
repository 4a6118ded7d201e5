// Every statement that a window or the setup tool hands to Esql, run as it stands on
// both engines: the same fields, the same rows, writable where a grid writes.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include "store/Esql.h"
#include "tests/store/StoreTestSupport.h"

using store::Esql;

namespace {

struct Statement {
    const char* sql;
    int fields;
    std::size_t rows;
    bool updatable;
    const char* parameter = nullptr; // $1 of the setup tool's own statements
};

// The statements as the code writes them, with the typed parts (names) filled in.
const Statement kStatements[] = {
    {"select * from users", 3, 3, true},
    {"select * from users where iuser='O''Brien'", 3, 1, true},
    {"select * from users where 1=0", 3, 0, true},
    {"select iuser as 用户,passw as 密码,quanxian as 用户权限 from users", 3, 3, true},
    {"select * from knumber", 4, 2, true},
    {"select * from knumber where 1=0", 4, 0, true},
    {"select kuser as 上网帐号,kpassw as 帐号密码,useyn as 使用与否 ,price as 单价元 from knumber", 4, 2, true},
    {"select * from internet", 5, 3, true},
    {"select * from internet where iuser='bob'", 5, 2, true},
    {"select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,xtime as 下机时间 from internet", 5, 3, true},
    {"select iuser as 用户,idate as 日期,itime as 使用时间,stime as 上机时间,xtime as 下机时间 from internet where iuser='bob'", 5, 2, true},
    // horavo-setup copy: counting, reading in the order written is engine's own (rowid or
    // key), and the empty set it appends through.
    {"select count(*) from internet", 1, 1, false},
    {"select iuser, idate, itime, stime, xtime from internet where 1=0", 5, 0, true},
    {"select kuser, kpassw, useyn, price from knumber where 1=0", 4, 0, true},
    // horavo-setup create and add-admin: the name bound, never in the text.
    {"select * from users where iuser=$1", 3, 1, true, "O'Brien"},
};

// What only a server is asked: dropping the tables a failed create made. It is run by
// the setup tool's server tests.
const char* const kServerOwn[] = {
    "drop table if exists users, internet, knumber",
};

template <typename Db>
class Statements : public OnEachEngine<Db> {
protected:
    void SetUp() override
    {
        OnEachEngine<Db>::SetUp();
        if (this->IsSkipped() || this->HasFatalFailure())
            return;
        this->db.exec(QStringLiteral(
            "insert into users values ('ann', 'pw', 1);"
            "insert into users values ('bob', NULL, 3);"
            "insert into users values ('O''Brien', '密码', 3);"
            "insert into internet values ('bob', '2024-03-01', 61, '08:00:00', '09:00:00');"
            "insert into internet values ('bob', '2024-03-02', 5, '10:00:00', '10:04:00');"
            "insert into internet values ('ann', '2024-03-02', 9223372036854775807, '11:00:00', NULL);"
            "insert into knumber values ('isp1', 'kpw', 1, 0.1);"
            "insert into knumber values ('isp2', 'kpw2', 0, NULL);"));
    }
};
TYPED_TEST_SUITE(Statements, BothEngines, EngineNames);

TYPED_TEST(Statements, EachRunsUnchangedWithTheSameFieldsRowsAndValues)
{
    for (const Statement& s : kStatements) {
        const QString sql = QString::fromUtf8(s.sql);
        std::unique_ptr<store::RecordSet> rs;
        const QStringList parameters = s.parameter ? QStringList{QString::fromUtf8(s.parameter)} : QStringList();
        ASSERT_EQ(storeErrorOf([&] { rs = Esql(sql, parameters, store::DatabaseAddress::fromSettings()); }), QString())
            << s.sql;
        EXPECT_EQ(rs->fieldCount(), s.fields) << s.sql;
        EXPECT_EQ(rs->rowCount(), s.rows) << s.sql;
        EXPECT_EQ(rs->updatable(), s.updatable) << s.sql;
    }
    // Values come back alike: a 64-bit count of minutes, a NULL time, a price of exactly 0.1
    // (the kinds of each column are EsqlRead's).
    auto usage = Esql(QStringLiteral("select * from internet where iuser='ann'"));
    EXPECT_EQ(usage->value(QStringLiteral("itime")).toLongLong(), 9223372036854775807LL);
    EXPECT_TRUE(usage->value(QStringLiteral("xtime")).isNull());
    EXPECT_EQ(Esql(QStringLiteral("select price from knumber"))->value(0).toDouble(), 0.1);
    auto named = Esql(QStringLiteral("select * from users where iuser='O''Brien'"));
    EXPECT_EQ(named->value(QStringLiteral("passw")).toString(), QStringLiteral("密码"));
}

// The lists above are the code's: a statement the programs or the setup tool give Esql
// that matches none of them is missing. A statement the code builds is matched by its
// start, with each %N of a template standing for any text.
TEST(StatementList, HoldsEveryStatementTheCodeGivesEsql)
{
    const QRegularExpression call(QStringLiteral(R"((?:Esql|esql)\(\s*QStringLiteral\(\s*"([^"]*)\")"));
    QStringList missing;
    int found = 0;
    for (const char* folder : {"main_program", "registration_program", "tools/horavo-setup"}) {
        QDirIterator files(QStringLiteral(HORAVO_SOURCE_DIR "/") + QString::fromLatin1(folder), {QStringLiteral("*.cpp")},
                           QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
            const QString text = QString::fromUtf8(file.readAll());
            for (auto match = call.globalMatch(text); match.hasNext();) {
                const QString start = match.next().captured(1);
                ++found;
                QString pattern = QRegularExpression::escape(start);
                pattern.replace(QRegularExpression(QStringLiteral(R"(\\%\d)")), QStringLiteral(".+"));
                const QRegularExpression startOf(QStringLiteral("^") + pattern);
                bool listed = false;
                for (const Statement& s : kStatements)
                    listed = listed || startOf.match(QString::fromUtf8(s.sql)).hasMatch();
                for (const char* sql : kServerOwn)
                    listed = listed || startOf.match(QString::fromUtf8(sql)).hasMatch();
                if (!listed)
                    missing << start;
            }
        }
    }
    EXPECT_GE(found, 10) << "the code's statements were not found where they are looked for";
    EXPECT_TRUE(missing.isEmpty()) << missing.join(QStringLiteral("\n")).toStdString();
}

} // namespace
