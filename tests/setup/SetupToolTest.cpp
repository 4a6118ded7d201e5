#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include "rules/Version.h"
#include "store/Esql.h"
#include "tests/doubles/SetupProgram.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/setup/FileRows.h"

namespace {

using doubles::runSetup;
using doubles::setupProgram;
using Outcome = doubles::SetupOutcome;

QStringList rowsOf(const QString& path, const QString& sql)
{
    QStringList rows;
    auto rs = store::Esql(sql, path);
    for (; !rs->atEnd(); rs->next()) {
        QStringList cells;
        for (int f = 0; f < rs->fieldCount(); ++f)
            cells << rs->value(f).toString();
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

class SetupTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo(setupProgram()).isExecutable()) << setupProgram().toStdString(); }
    QTemporaryDir folder;
    QString defaultFile() const { return folder.filePath(QStringLiteral("horavo.mdb")); }
};

TEST_F(SetupTool, CreateMakesTheFileWithAdministratorAndAccountInUse)
{
    const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("老板"),
                                QStringLiteral("--password-stdin"), QStringLiteral("--isp-account"), QStringLiteral("0571123"),
                                QStringLiteral("--isp-password-stdin"), QStringLiteral("--price=0.5")},
                               folder.path(), {"p w'1\nkp\n"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.text().contains(defaultFile())) << r.text().toStdString();
    EXPECT_EQ(rowsOf(defaultFile(), QStringLiteral("select * from users")), QStringList{QStringLiteral("老板|p w'1|1")});
    EXPECT_EQ(rowsOf(defaultFile(), QStringLiteral("select * from knumber")), QStringList{QStringLiteral("0571123|kp|true|0.5")});
    EXPECT_TRUE(rowsOf(defaultFile(), QStringLiteral("select * from internet")).isEmpty());
}

TEST_F(SetupTool, CreateAtAGivenPathWithoutAccount)
{
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("data")));
    const QString file = folder.filePath(QStringLiteral("data/office.mdb"));
    const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--file"), QStringLiteral("data/office.mdb"),
                                QStringLiteral("--admin"), QStringLiteral("admin"), QStringLiteral("--password-stdin")},
                               folder.path(), {"pw\n"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rowsOf(file, QStringLiteral("select * from users")), QStringList{QStringLiteral("admin|pw|1")});
    EXPECT_TRUE(rowsOf(file, QStringLiteral("select * from knumber")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(defaultFile()));
}

TEST_F(SetupTool, CreateLeavesAnExistingFileAlone)
{
    doubles::TempDatabase db;
    db.exec(QStringLiteral("insert into users values ('keep', 'me', 3)"));
    const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--file"), db.path(), QStringLiteral("--admin"),
                                QStringLiteral("boss"), QStringLiteral("--password-stdin")},
                               folder.path(), {"pw\n"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(db.path())) << r.err.toStdString();
    EXPECT_EQ(db.rows(QStringLiteral("select * from users")), QStringList{QStringLiteral("keep|me|3")});

    // Not even a file that is no database is touched.
    QFile other(defaultFile());
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("notes");
    other.close();
    EXPECT_EQ(runSetup({QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("boss"), QStringLiteral("--password-stdin")},
                       folder.path(), {"pw\n"})
                  .exitCode,
              2);
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), QByteArray("notes"));
}

TEST_F(SetupTool, AddAdminAddsAnAdministratorToAnExistingFile)
{
    doubles::TempDatabase db; // the current folder is now the database's
    db.exec(QStringLiteral("insert into users values ('u', 'p', 3)"));
    const Outcome r = runSetup({QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("O'Neil"),
                                QStringLiteral("--password-stdin")},
                               db.folder(), {"back in\n"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(db.rows(QStringLiteral("select * from users order by rowid")),
              (QStringList{QStringLiteral("u|p|3"), QStringLiteral("O'Neil|back in|1")}));

    const Outcome again = runSetup({QStringLiteral("add-admin"), QStringLiteral("--file"), db.path(), QStringLiteral("--admin"),
                                    QStringLiteral("O'Neil"), QStringLiteral("--password-stdin")},
                                   folder.path(), {"x\n"});
    EXPECT_EQ(again.exitCode, 5);
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from users")).toInt(), 2);
}

// Another program adding the same name meanwhile: its row is not committed yet when
// add-admin first looks, and add-admin must not add the name a second time.
TEST_F(SetupTool, AddAdminRefusesANameAnotherProgramAddedMeanwhile)
{
    doubles::TempDatabase db;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(db.path()).constData(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    // The commit waits for the tool's read of the name to end, as a program's would.
    sqlite3_busy_timeout(other, 5000);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; insert into users values ('root','o',1)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    QProcess tool;
    tool.setWorkingDirectory(db.folder());
    tool.start(setupProgram(), {QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("root"),
                                QStringLiteral("--password-stdin")});
    ASSERT_TRUE(tool.waitForStarted());
    tool.write("x\n");
    tool.closeWriteChannel();
    QThread::msleep(1500); // the tool has looked for the name and waits for the file
    const int committed = sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(other);
    ASSERT_EQ(committed, SQLITE_OK) << "the other program's row must be in the file";
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 5) << tool.readAllStandardError().toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from users where iuser='root'")).toInt(), 1);
}

TEST_F(SetupTool, AddAdminReportsMissingFileAndForeignDatabase)
{
    const Outcome missing = runSetup({QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("a"),
                                      QStringLiteral("--password-stdin")},
                                     folder.path(), {"pw\n"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(missing.err.contains(QFileInfo(folder.path()).absoluteFilePath())) << missing.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(defaultFile()));

    {
        // A database of something else: no users table.
        QFile empty(defaultFile());
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    }
    const Outcome foreign = runSetup({QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("a"),
                                      QStringLiteral("--password-stdin")},
                                     folder.path(), {"pw\n"});
    EXPECT_EQ(foreign.exitCode, 6);
    EXPECT_TRUE(foreign.err.contains(QStringLiteral("no such table: users"))) << foreign.err.toStdString();
}

TEST_F(SetupTool, CommandLineMistakesExitWithOneAndCreateNothing)
{
    const QStringList mistakes[] = {
        {},
        {QStringLiteral("frob")},
        {QStringLiteral("create")},
        {QStringLiteral("create"), QStringLiteral("--password-stdin")},
        {QStringLiteral("create"), QStringLiteral("--admin")},
        {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("")},
        {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--bogus"), QStringLiteral("1")},
        {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--admin"), QStringLiteral("b")},
        {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("extra")},
        {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--isp-password-stdin")},
        {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--password-stdin"),
         QStringLiteral("--isp-account"), QStringLiteral("k"), QStringLiteral("--isp-password-stdin"), QStringLiteral("--price"),
         QStringLiteral("-1")},
        {QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--password-stdin"),
         QStringLiteral("--password"), QStringLiteral("p")},
        {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--isp-account"), QStringLiteral("k"),
         QStringLiteral("--isp-password"), QStringLiteral("p"), QStringLiteral("--isp-password-stdin")},
        {QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--password-stdin=x")},
        {QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--isp-account"), QStringLiteral("k")},
        {QStringLiteral("create"), QStringLiteral("--file"), QStringLiteral("a.mdb"), QStringLiteral("--database"),
         QStringLiteral("b.mdb"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--password-stdin")},
        {QStringLiteral("report"), QStringLiteral("--database"), QStringLiteral("")},
        {QStringLiteral("copy"), QStringLiteral("a.mdb")},
        {QStringLiteral("copy"), QStringLiteral("a.mdb"), QStringLiteral("b.mdb"), QStringLiteral("c.mdb")},
        {QStringLiteral("copy"), QStringLiteral("--file"), QStringLiteral("a.mdb"), QStringLiteral("b.mdb")},
        {QStringLiteral("copy"), QStringLiteral("a.mdb"), QStringLiteral("./a.mdb")},
    };
    for (const QStringList& arguments : mistakes) {
        const Outcome r = runSetup(arguments, folder.path());
        EXPECT_EQ(r.exitCode, 1) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << arguments.join(QLatin1Char(' ')).toStdString();
    }
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(SetupTool, HelpListsEveryExitCode)
{
    const Outcome r = runSetup({QStringLiteral("--help")}, folder.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.text().contains(QStringLiteral("horavo-setup create [--file PATH | --database ADDRESS] --admin NAME")));
    EXPECT_TRUE(r.text().contains(QStringLiteral("horavo-setup copy FROM TO")));
    EXPECT_TRUE(r.text().contains(QStringLiteral("HORAVO_DATABASE")));
    for (int code = 0; code <= 8; ++code)
        EXPECT_TRUE(r.text().contains(QStringLiteral("  %1  ").arg(code))) << code;
}

TEST_F(SetupTool, PasswordLeftOutWithoutTerminalIsRefused)
{
    const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("boss")}, folder.path());
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(r.err.contains(QStringLiteral("--password-stdin"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(defaultFile()));

    // An empty line, or an input that ends before the account's line.
    const QStringList fromInput{QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("boss"),
                                QStringLiteral("--password-stdin"), QStringLiteral("--isp-account"), QStringLiteral("k"),
                                QStringLiteral("--isp-password-stdin")};
    for (const QByteArray& input : {QByteArray("\nkp\n"), QByteArray("pw\n")}) {
        const Outcome refused = runSetup(fromInput, folder.path(), {input});
        EXPECT_EQ(refused.exitCode, 4) << input.toStdString();
        EXPECT_FALSE(QFileInfo::exists(defaultFile()));
    }
}

// A pseudo-terminal for standard input, so the tool asks for the password.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            slave_ = QString::fromLocal8Bit(ptsname(master_));
        if (master_ >= 0)
            fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PseudoTerminal()
    {
        if (master_ >= 0)
            close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool valid() const { return !slave_.isEmpty(); }
    const QString& slave() const { return slave_; }
    void type(const QByteArray& text) const { (void)!write(master_, text.constData(), std::size_t(text.size())); }
    // What the terminal showed (its echo).
    QByteArray shown() const
    {
        QByteArray all;
        char buffer[256];
        ssize_t n;
        while ((n = read(master_, buffer, sizeof buffer)) > 0)
            all.append(buffer, n);
        return all;
    }

private:
    int master_ = -1;
    QString slave_;
};

bool waitForPrompts(QProcess& process, QString& err, int prompts)
{
    QElapsedTimer timer;
    timer.start();
    while (err.count(QStringLiteral("密码：")) < prompts && timer.elapsed() < 10000) {
        process.waitForReadyRead(200);
        err += QString::fromLocal8Bit(process.readAllStandardError());
    }
    return err.count(QStringLiteral("密码：")) >= prompts;
}

TEST_F(SetupTool, PasswordTypedOnTheTerminalIsNotEchoedAndMustMatch)
{
    PseudoTerminal terminal;
    if (!terminal.valid())
        GTEST_SKIP() << "no pseudo-terminal on this machine";

    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.setStandardInputFile(terminal.slave());
    process.start(setupProgram(), {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("boss")});
    QString err;
    ASSERT_TRUE(waitForPrompts(process, err, 1)) << err.toStdString();
    terminal.type("s3cret\n");
    ASSERT_TRUE(waitForPrompts(process, err, 2)) << err.toStdString();
    terminal.type("s3cret\n");
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0) << (err + QString::fromLocal8Bit(process.readAllStandardError())).toStdString();
    EXPECT_FALSE(terminal.shown().contains("s3cret"));
    EXPECT_EQ(rowsOf(defaultFile(), QStringLiteral("select * from users")), QStringList{QStringLiteral("boss|s3cret|1")});

    // Two different entries: nothing is made.
    QTemporaryDir other;
    QProcess mismatch;
    mismatch.setWorkingDirectory(other.path());
    mismatch.setStandardInputFile(terminal.slave());
    mismatch.start(setupProgram(), {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("boss")});
    err.clear();
    ASSERT_TRUE(waitForPrompts(mismatch, err, 1));
    terminal.type("one\n");
    ASSERT_TRUE(waitForPrompts(mismatch, err, 2));
    terminal.type("two\n");
    ASSERT_TRUE(mismatch.waitForFinished(10000));
    EXPECT_EQ(mismatch.exitCode(), 4);
    EXPECT_TRUE(QDir(other.path()).isEmpty());
}

// Every local account reads a process's command line in /proc; the passwords come on
// standard input, one line each, and are never on it, however long the tool waits (here
// for its input).
TEST_F(SetupTool, PasswordsFromStandardInputAreNeverOnTheCommandLine)
{
    QProcess tool;
    tool.setWorkingDirectory(folder.path());
    tool.start(setupProgram(), {QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("boss"),
                                QStringLiteral("--password-stdin"), QStringLiteral("--isp-account"), QStringLiteral("0571"),
                                QStringLiteral("--isp-password-stdin")});
    ASSERT_TRUE(tool.waitForStarted());
    QFile shown(QStringLiteral("/proc/%1/cmdline").arg(tool.processId()));
    ASSERT_TRUE(shown.open(QIODevice::ReadOnly));
    const QByteArray commandLine = shown.readAll();
    EXPECT_TRUE(commandLine.contains("--isp-password-stdin")) << commandLine.toStdString();
    tool.write("Adm1n-S3cret\nIsp-S3cret\n");
    tool.closeWriteChannel();
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_FALSE(commandLine.contains("S3cret"));
    EXPECT_EQ(rowsOf(defaultFile(), QStringLiteral("select passw from users union all select kpassw from knumber")),
              (QStringList{QStringLiteral("Adm1n-S3cret"), QStringLiteral("Isp-S3cret")}));

    // The command line's own options still work, for a password typed by hand.
    const Outcome typed = runSetup({QStringLiteral("add-admin"), QStringLiteral("--admin"), QStringLiteral("other"),
                                    QStringLiteral("--password"), QStringLiteral("by hand")},
                                   folder.path());
    EXPECT_EQ(typed.exitCode, 0) << typed.err.toStdString();
}

} // namespace

namespace {

// Whatever the umask (here none at all), the database is the folder group's in a group
// folder (setgid) and its owner's elsewhere, and never open to others.
TEST_F(SetupTool, TheDatabaseIsTheFolderGroupsInAGroupFolderAndTheOwnersElsewhere)
{
    const std::pair<const char*, mode_t> folders[] = {{"shared", 02775}, {"private", 0755}};
    const mode_t umask = ::umask(0);
    for (const auto& [where, mode] : folders) {
        ASSERT_TRUE(QDir(folder.path()).mkdir(QLatin1String(where)));
        ASSERT_EQ(::chmod(QFile::encodeName(folder.filePath(QLatin1String(where))).constData(), mode), 0);
        const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--file"),
                                    QStringLiteral("%1/horavo.mdb").arg(QLatin1String(where)), QStringLiteral("--admin"),
                                    QStringLiteral("admin"), QStringLiteral("--password-stdin")},
                                   folder.path(), {"pw\n"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    ::umask(umask);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(folder.filePath(QStringLiteral("shared/horavo.mdb"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0660u) << "every member of the folder's group records into it";
    ASSERT_EQ(::stat(QFile::encodeName(folder.filePath(QStringLiteral("private/horavo.mdb"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << "a folder of one's own keeps the file one's own";
}

TEST_F(SetupTool, VersionAndHelpAnswerWithoutTouchingAnything)
{
    const Outcome version = runSetup({QStringLiteral("--version")}, folder.path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.text().trimmed(), QStringLiteral("horavo-setup %1.%2.%3")
                                         .arg(horavo::kVersionMajor)
                                         .arg(horavo::kVersionMinor)
                                         .arg(horavo::kVersionPatch));
    const Outcome help = runSetup({QStringLiteral("--help")}, folder.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.text().contains(QStringLiteral("--version")));
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

// --- copy between files ---------------------------------------------------------------

using setuptest::everyRowOf;

TEST_F(SetupTool, CopyMakesANewFileWithEveryRowInOrder)
{
    doubles::TempDatabase source;
    source.exec(QStringLiteral("insert into users values ('张三', NULL, 3);"
                               "insert into users values ('admin', 'p''w', 1);"
                               "insert into internet values ('张三', '2026-11-02', 9223372036854775807, '23:59:59', NULL);"
                               "insert into internet values ('admin', NULL, 0, NULL, '00:00:00');"
                               "insert into knumber values ('0571', '', 1, 0.1);"));
    const Outcome noFolder = runSetup({QStringLiteral("copy"), source.path(), QStringLiteral("sub/copy.mdb")}, folder.path());
    EXPECT_EQ(noFolder.exitCode, 6);
    EXPECT_TRUE(noFolder.err.contains(folder.filePath(QStringLiteral("sub")))) << noFolder.err.toStdString();
    const Outcome made = runSetup({QStringLiteral("copy"), source.path(), QStringLiteral("copy.mdb")}, folder.path());
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_TRUE(made.text().contains(QStringLiteral("users 2 行，internet 2 行，knumber 1 行"))) << made.text().toStdString();
    const QStringList rows = everyRowOf(source.path());
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(everyRowOf(folder.filePath(QStringLiteral("copy.mdb"))), rows);

    // Into a file that holds rows: refused, left as it was.
    const Outcome again = runSetup({QStringLiteral("copy"), source.path(), QStringLiteral("copy.mdb")}, folder.path());
    EXPECT_EQ(again.exitCode, 7);
    EXPECT_EQ(everyRowOf(folder.filePath(QStringLiteral("copy.mdb"))), rows);
    // From a file that is not there: nothing made.
    EXPECT_EQ(runSetup({QStringLiteral("copy"), QStringLiteral("none.mdb"), QStringLiteral("other.mdb")}, folder.path()).exitCode, 3);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("other.mdb"))));
}

// On a terminal the long commands tell how far they have come on standard error, on one
// line rewritten in place and ended; a refusal stands on a line of its own. On a
// pipe (every other test of the tool) they say nothing.
TEST_F(SetupTool, LongCommandsShowProgressOnATerminalOnly)
{
    doubles::TempDatabase source;
    source.exec(QStringLiteral("insert into users values ('u', 'p', 2);"
                               "insert into internet values ('u', '2026-11-01', 10, '08:00:00', '08:10:00');"));
    doubles::SetupRun onTerminal;
    onTerminal.errorOnTerminal = true;
    const Outcome copied = runSetup({QStringLiteral("copy"), source.path(), QStringLiteral("copy.mdb")}, folder.path(), onTerminal);
    ASSERT_EQ(copied.exitCode, 0) << copied.err.toStdString();
    EXPECT_TRUE(copied.err.startsWith(QStringLiteral("\r正在读取表 users"))) << copied.err.toStdString();
    EXPECT_TRUE(copied.err.contains(QStringLiteral("\r正在读取表 knumber")) && copied.err.contains(QStringLiteral("\r正在提交")))
        << copied.err.toStdString();
    EXPECT_TRUE(copied.err.endsWith(QLatin1Char('\n')) && copied.err.count(QLatin1Char('\n')) == 1) << copied.err.toStdString();
    EXPECT_TRUE(copied.text().contains(QStringLiteral("internet 1 行"))) << "the result stays on standard output";

    const Outcome refused = runSetup({QStringLiteral("copy"), source.path(), QStringLiteral("copy.mdb")}, folder.path(), onTerminal);
    EXPECT_EQ(refused.exitCode, 7);
    EXPECT_TRUE(refused.err.startsWith(QStringLiteral("horavo-setup：")) && refused.err.count(QLatin1Char('\n')) == 1
                && refused.err.endsWith(QLatin1Char('\n')) && !refused.err.contains(QLatin1Char('\r')))
        << refused.err.toStdString();

    const QStringList november{QStringLiteral("report"), QStringLiteral("--file"), source.path(), QStringLiteral("--from"),
                               QStringLiteral("2026-11-01"), QStringLiteral("--to"), QStringLiteral("2026-11-30")};
    const Outcome report = runSetup(november, folder.path(), onTerminal);
    ASSERT_EQ(report.exitCode, 0) << report.err.toStdString();
    EXPECT_EQ(report.err, QStringLiteral("\r已读 1 条使用记录\n"));
    const Outcome checked = runSetup({QStringLiteral("check"), QStringLiteral("--file"), source.path()}, folder.path(), onTerminal);
    EXPECT_TRUE(checked.err.startsWith(QStringLiteral("\r正在检查表 users：已读 1 行")) && checked.err.endsWith(QLatin1Char('\n')))
        << checked.err.toStdString();

    for (const Outcome& piped : {runSetup(november, folder.path()),
                                 runSetup({QStringLiteral("copy"), source.path(), QStringLiteral("again.mdb")}, folder.path())}) {
        EXPECT_EQ(piped.exitCode, 0);
        EXPECT_TRUE(piped.err.isEmpty()) << piped.err.toStdString();
    }
}

// The first rows are written, then one the store refuses, or the target file is held by
// another writer: either way the copy is undone whole.
TEST_F(SetupTool, ACopyThatFailsLeavesTheTargetFileAsItWas)
{
    doubles::TempDatabase source;
    source.exec(QStringLiteral("insert into users values ('u', 'p', 2);"
                               "insert into internet values ('u', '2026-11-01', 10, '08:00:00', '08:10:00');"
                               "insert into internet values ('u', '2026-11-31', 10, '08:00:00', '08:10:00');"));
    const Outcome refused = runSetup({QStringLiteral("copy"), source.path(), QStringLiteral("new.mdb")}, folder.path());
    EXPECT_EQ(refused.exitCode, 6);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("internet 的第 2 行"))) << refused.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("new.mdb"))));

    source.exec(QStringLiteral("update internet set idate = '2026-11-30'"));
    doubles::TempDatabase target;
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(target.path()).constData(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const Outcome locked = runSetup({QStringLiteral("copy"), source.path(), target.path()}, folder.path());
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(holder);
    EXPECT_EQ(locked.exitCode, 6) << locked.err.toStdString();
    EXPECT_TRUE(everyRowOf(target.path()).isEmpty());

    // Once the other writer is gone the same copy goes through.
    EXPECT_EQ(runSetup({QStringLiteral("copy"), source.path(), target.path()}, folder.path()).exitCode, 0);
    EXPECT_EQ(everyRowOf(target.path()), everyRowOf(source.path()));
}

// libpq quotes back an address it cannot read, whole or the piece it choked on; the tool
// says which server it could not reach without the password.
TEST_F(SetupTool, AnAddressLibpqCannotReadIsToldWithoutItsPassword)
{
    for (const char* address : {"postgresql://seat:S3cr3t-PW@[::1/room", "postgresql://seat:S3cr3t-PW@[]/room",
                                "postgresql://seat:S3cr%zz3t-PW@db/room"}) {
        const Outcome r = runSetup({QStringLiteral("report"), QStringLiteral("--database"), QLatin1String(address)}, folder.path());
        EXPECT_EQ(r.exitCode, 6) << address;
        EXPECT_TRUE(r.err.contains(QStringLiteral("postgresql://seat:***@"))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("S3cr"))) << r.err.toStdString();
    }
}

TEST_F(SetupTool, AnEmptyHoravoDatabaseMeansTheFileHere)
{
    const Outcome r = runSetup({QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--password-stdin")},
                               folder.path(), {"p\n", QStringLiteral(" ")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rowsOf(defaultFile(), QStringLiteral("select * from users")), QStringList{QStringLiteral("a|p|1")});
}

} // namespace

namespace {

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

TEST_F(SetupTool, TheRoomsSettingsFileNamesTheDatabaseAndTheEnvironmentOverridesIt)
{
    const QTemporaryDir room; // where the settings live, apart from the folder the tool runs in
    const QString settings = room.filePath(QStringLiteral("horavo.conf"));
    writeText(settings, "\xEF\xBB\xBF# the room\n\n  database =  \"room.mdb\"  \nline = lan\n");
    const QStringList create{QStringLiteral("create"), QStringLiteral("--admin"), QStringLiteral("a"), QStringLiteral("--password-stdin")};
    const QStringList report{QStringLiteral("report")};

    // A relative path is the settings file's folder's, wherever the tool runs.
    Outcome r = runSetup(create, folder.path(), {"p\n", {}, settings});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rowsOf(room.filePath(QStringLiteral("room.mdb")), QStringLiteral("select * from users")), QStringList{QStringLiteral("a|p|1")});
    EXPECT_FALSE(QFileInfo::exists(defaultFile()));
    EXPECT_EQ(runSetup(report, folder.path(), {{}, {}, settings}).exitCode, 0);

    // The environment wins, and the message of a missing file says where and why.
    r = runSetup(report, folder.path(), {{}, QStringLiteral("elsewhere.mdb"), settings});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("“elsewhere.mdb”（查找的文件夹：%1）").arg(folder.path()))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("环境变量 HORAVO_DATABASE 指向这里"))) << r.err.toStdString();

    writeText(settings, "line = lan\n");
    r = runSetup(report, folder.path(), {{}, {}, settings});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("设置文件“%1”里也没有设置 database，所以用当前文件夹里的 horavo.mdb").arg(settings)))
        << r.err.toStdString();
    r = runSetup(report, folder.path(), {{}, {}, room.filePath(QStringLiteral("none.conf"))});
    EXPECT_TRUE(r.err.contains(QStringLiteral("设置文件“%1”不存在").arg(room.filePath(QStringLiteral("none.conf"))))) << r.err.toStdString();

    // A line that is no setting is refused by name and line, and help still answers.
    writeText(settings, "# the room\ndatabse = room.mdb\n");
    r = runSetup(report, folder.path(), {{}, {}, settings});
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_TRUE(r.err.contains(QStringLiteral("第 2 行的“databse”不是设置项"))) << r.err.toStdString();
    EXPECT_EQ(runSetup({QStringLiteral("--help")}, folder.path(), {{}, {}, settings}).exitCode, 0);
}
