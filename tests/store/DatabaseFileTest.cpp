#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "store/DatabaseFile.h"
#include "store/Esql.h"
#include "tests/doubles/AnotherUser.h"
#include "tests/doubles/QtPrinters.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/store/StoreTestSupport.h"

using store::Esql;

namespace {

int rowsIn(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    int count = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        count = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
    return count;
}

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

namespace {

// A writable horavo.mdb in a folder that is read-only: the journal cannot be made beside
// it. Permission bits bind only an ordinary user, so the write runs in a helper process
// as nobody when this test runs as root.
TEST(DatabaseFile, AWriteInAReadOnlyFolderSaysTheFolderKeepsTheJournalOut)
{
    QStringList command = doubles::asNobody();
    if (::geteuid() == 0 && command.isEmpty())
        GTEST_SKIP() << "running as root without setpriv: no ordinary user to run the write as";
    QTemporaryDir base;
    QFile::setPermissions(base.path(), QFile::Permissions(0x7755)); // others may enter
    const QString folder = base.filePath(QStringLiteral("readonly"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/horavo.mdb");
    {
        doubles::TempDatabase made;
        ASSERT_TRUE(QFile::copy(made.path(), path));
    }
    const auto everyoneWrites = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup
        | QFile::ReadOther | QFile::WriteOther;
    ASSERT_TRUE(QFile::setPermissions(path, everyoneWrites));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                                  | QFile::ReadOther | QFile::ExeOther));

    QProcess writer;
    command << QStringLiteral(STORE_TEST_WRITER) << path << QStringLiteral("zed") << QStringLiteral("--add-user");
    writer.start(command.takeFirst(), command);
    const bool ran = writer.waitForFinished(30000);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(ran);
    const QString message = QString::fromUtf8(writer.readAllStandardError());
    if (writer.exitCode() == 2 || message.contains(QStringLiteral("Permission denied")))
        GTEST_SKIP() << "the helper cannot run as nobody here: " << message.toStdString();
    EXPECT_EQ(writer.exitCode(), 1) << "the write is refused";
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(folder))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("只读"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("horavo.mdb-journal"))) << message.toStdString();
    EXPECT_EQ(rowsIn(path, "select count(*) from users"), 0);
}

} // namespace

namespace {

// Every password is in the database in clear text, and the pages a write changes are in
// its journal meanwhile: neither is ever open to another local account. The journal is
// looked at in the middle of a write, and read by nobody (not in the file's group).
TEST(DatabaseFile, NeitherTheFileNorItsJournalIsOpenToOthersWhateverTheUmask)
{
    const QStringList nobody = doubles::asNobody();
    if (nobody.isEmpty())
        GTEST_SKIP() << "reading as another user needs root and setpriv";
    QTemporaryDir base;
    ASSERT_TRUE(QFile::setPermissions(base.path(), QFile::Permissions(0x7755))); // others may enter
    const auto modeOf = [](const QString& path) {
        struct stat status {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? QString::number(status.st_mode & 07777, 8) : QString();
    };
    const auto readByNobody = [&](const QString& path) {
        QProcess cat;
        cat.start(nobody.front(), nobody.mid(1) << QStringLiteral("cat") << path);
        return cat.waitForFinished(30000) && cat.exitCode() == 0 && !cat.readAllStandardOutput().isEmpty();
    };
    if (!readByNobody(QStringLiteral("/etc/passwd")))
        GTEST_SKIP() << "nobody cannot read even a file open to all here";
    const struct {
        const char* folder;
        int folderMode;
        mode_t umask;
        const char* fileMode; // also the journal's
    } cases[] = {{"group", 02775, 0, "660"}, {"group-022", 02775, 022, "660"}, {"own", 0755, 0, "600"}};
    for (const auto& c : cases) {
        const QString folder = base.filePath(QLatin1String(c.folder));
        const QString path = folder + QStringLiteral("/horavo.mdb");
        ASSERT_TRUE(QDir().mkdir(folder));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), mode_t(c.folderMode)), 0);
        const mode_t previous = ::umask(c.umask);
        store::createDatabase(path);
        QString journalMode;
        bool journalRead = true;
        store::inOneTransaction(path, [&](const store::Transaction& transaction) {
            auto users = transaction.esql(QStringLiteral("select * from users"));
            users->addNew();
            users->setValue(QStringLiteral("passw"), QStringLiteral("S3cr3t"));
            users->update();
            journalMode = modeOf(path + QStringLiteral("-journal"));
            journalRead = readByNobody(path + QStringLiteral("-journal"));
        });
        ::umask(previous);
        EXPECT_EQ(modeOf(path), QLatin1String(c.fileMode)) << c.folder;
        EXPECT_EQ(journalMode, QLatin1String(c.fileMode)) << c.folder;
        EXPECT_FALSE(readByNobody(path)) << c.folder;
        EXPECT_FALSE(journalRead) << c.folder;
    }

    // A file an earlier version made open to others keeps its mode, but its journal
    // leaves others out.
    const QString old = base.filePath(QStringLiteral("group/horavo.mdb"));
    ASSERT_EQ(::chmod(QFile::encodeName(old).constData(), 0664), 0);
    QString journalMode;
    store::inOneTransaction(old, [&](const store::Transaction& transaction) {
        transaction.esql(QStringLiteral("delete from users"));
        journalMode = modeOf(old + QStringLiteral("-journal"));
    });
    EXPECT_EQ(journalMode, QStringLiteral("660"));
}

} // namespace
