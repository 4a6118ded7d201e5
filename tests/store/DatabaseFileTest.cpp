#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include "store/DatabaseFile.h"
#include "store/Esql.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/store/StoreTestSupport.h"

using store::Esql;

namespace {

TEST(DatabaseFile, MissingFileNamesFileAndFolderAndIsNotCreated)
{
    QTemporaryDir dir;
    CurrentFolder inside(dir.path());
    const QString message = storeErrorOf([] { Esql(QStringLiteral("select * from users")); });
    EXPECT_TRUE(message.contains(QStringLiteral("horavo.mdb"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QFileInfo(dir.path()).absoluteFilePath())) << message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("horavo.mdb"))));
    EXPECT_EQ(store::defaultDatabasePath(), QDir(dir.path()).absoluteFilePath(QStringLiteral("horavo.mdb")));
}

TEST(DatabaseFile, FileThatIsNoDatabaseIsReportedWithItsPath)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("horavo.mdb"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    const QString message = storeErrorOf([&] { Esql(QStringLiteral("select * from users"), path); });
    EXPECT_TRUE(message.contains(path)) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("not a database"))) << message.toStdString();
}

TEST(DatabaseFile, CreateMakesTheThreeTablesWithTheirColumnsAndRefusesAnExistingFile)
{
    doubles::TempDatabase db;
    EXPECT_EQ(db.rows(QStringLiteral("select name from sqlite_master where type='table' order by name")),
              (QStringList{QStringLiteral("internet"), QStringLiteral("knumber"), QStringLiteral("users")}));
    EXPECT_EQ(db.rows(QStringLiteral("select name || ' ' || type from pragma_table_info('internet')")),
              (QStringList{QStringLiteral("iuser TEXT"), QStringLiteral("idate TEXT"), QStringLiteral("itime INTEGER"),
                           QStringLiteral("stime TEXT"), QStringLiteral("xtime TEXT")}));
    EXPECT_EQ(db.rows(QStringLiteral("select name || ' ' || type from pragma_table_info('knumber')")),
              (QStringList{QStringLiteral("kuser TEXT"), QStringLiteral("kpassw TEXT"), QStringLiteral("useyn INTEGER"),
                           QStringLiteral("price REAL")}));
    EXPECT_EQ(db.rows(QStringLiteral("select name || ' ' || type from pragma_table_info('users')")),
              (QStringList{QStringLiteral("iuser TEXT"), QStringLiteral("passw TEXT"), QStringLiteral("quanxian INTEGER")}));

    db.exec(QStringLiteral("insert into users values ('keep', 'me', 1)"));
    const QString message = storeErrorOf([&] { store::createDatabase(db.path()); });
    EXPECT_TRUE(message.contains(QStringLiteral("已经存在"))) << message.toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from users")).toInt(), 1);
}

TEST(DatabaseFile, OpenedFileUsesARollbackJournalWithFullSync)
{
    doubles::TempDatabase db;
    auto mode = Esql(QStringLiteral("pragma journal_mode"));
    EXPECT_EQ(mode->value(0).toString(), QStringLiteral("delete"));
    auto sync = mode->esql(QStringLiteral("pragma synchronous"));
    EXPECT_EQ(sync->value(0).toInt(), 2) << "FULL";
}

TEST(DatabaseFile, CreateInAMissingFolderFailsWithoutLeavingAFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no/such/horavo.mdb"));
    EXPECT_FALSE(storeErrorOf([&] { store::createDatabase(path); }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path));
}

} // namespace
