#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "main_program/dialer/PipeCommandRunner.h"

namespace {

using tallyon::PipeCommandRunner;

// Shell scripts written by the tests: the runner starts them directly, as it would any
// program; the shell only runs the script's own lines.
class ScriptFolder {
public:
    QString write(const QString& name, const QString& body, bool executable = true) const
    {
        const QString path = dir_.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("#!/bin/sh\n" + body.toUtf8() + "\n");
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            permissions |= QFile::ExeOwner;
        file.setPermissions(permissions);
        return path;
    }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// True once the process has ended and been reaped (not left a zombie).
bool goneWithin(qint64 pid, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        if (!QFile::exists(QStringLiteral("/proc/%1").arg(pid)))
            return true;
        QThread::msleep(20);
    }
    return false;
}

class RunnerTest : public ::testing::Test {
protected:
    QString run(const QString& command, int readSize = 256) { return runner.runcmd(command, readSize, 2); }

    ScriptFolder scripts;
    PipeCommandRunner runner;
};

// ---- What comes back -------------------------------------------------------------------

TEST_F(RunnerTest, StandardOutputAndErrorArriveInterleavedInOrder)
{
    const QString script = scripts.write(QStringLiteral("both.sh"),
                                         QStringLiteral("echo one\necho two >&2\necho three\necho four >&2"));
    EXPECT_EQ(run(script), QStringLiteral("one\ntwo\nthree\nfour\n"));
}

TEST_F(RunnerTest, LongOutputComesWholeThroughManyReads)
{
    const QString script = scripts.write(QStringLiteral("long.sh"), QStringLiteral("seq 1 30000"));
    QString expected;
    for (int i = 1; i <= 30000; ++i)
        expected += QString::number(i) + QLatin1Char('\n');
    EXPECT_EQ(run(script, 256), expected);
}

TEST_F(RunnerTest, CharacterSplitOverTwoReadsSurvives)
{
    const QString text = QStringLiteral("远程访问错误 678 - 远程计算机没有响应。");
    const QString script =
        scripts.write(QStringLiteral("chinese.sh"), QStringLiteral("printf '%1'").arg(text));
    for (int readSize : {1, 2, 4, 5}) {
        const QString output = run(script, readSize);
        EXPECT_EQ(output, text) << "read size " << readSize;
        EXPECT_TRUE(output.contains(QStringLiteral("错误 678")));
    }
}

TEST_F(RunnerTest, BlanksOnReadBordersStayAndOnlyTheWholeOutputIsTrimmed)
{
    const QString inner = scripts.write(QStringLiteral("inner.sh"), QStringLiteral("printf 'ab  cd  ef'"));
    EXPECT_EQ(run(inner, 2), QStringLiteral("ab  cd  ef"));

    const QString outer = scripts.write(QStringLiteral("outer.sh"), QStringLiteral("printf '   x  y   '"));
    EXPECT_EQ(run(outer, 2), QStringLiteral("x  y"));

    const QString breaks = scripts.write(QStringLiteral("breaks.sh"), QStringLiteral("printf ' \\tx\\n '"));
    EXPECT_EQ(run(breaks, 1), QStringLiteral("\tx\n")) << "tabs and line breaks are kept";
}

TEST_F(RunnerTest, NulCharactersAreRemoved)
{
    const QString script = scripts.write(QStringLiteral("nul.sh"), QStringLiteral("printf 'a\\000b\\000c'"));
    EXPECT_EQ(run(script), QStringLiteral("abc"));
}

TEST_F(RunnerTest, SilentCommandGivesEmptyText)
{
    const QString script = scripts.write(QStringLiteral("silent.sh"), QStringLiteral("exit 3"));
    EXPECT_EQ(run(script), QString());
}

TEST_F(RunnerTest, StandardInputIsEmpty)
{
    const QString script = scripts.write(QStringLiteral("reader.sh"),
                                         QStringLiteral("if read line; then echo \"got $line\"; else echo eof; fi"));
    EXPECT_EQ(run(script), QStringLiteral("eof\n"));
}

// ---- No shell: words go to the program as they are ----------------------------------------

TEST_F(RunnerTest, WordsArePassedLiterally)
{
    const QString script =
        scripts.write(QStringLiteral("args.sh"), QStringLiteral("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done"));
    const QString marker = scripts.path() + QStringLiteral("/pwned");
    const QString output = run(script + QStringLiteral("  a;b $(touch${IFS}") + marker
                               + QStringLiteral(") `id` 'q' x|y &&z"));
    EXPECT_EQ(output, QStringLiteral("[a;b]\n[$(touch${IFS}") + marker
                          + QStringLiteral(")]\n[`id`]\n['q']\n[x|y]\n[&&z]\n"));
    EXPECT_FALSE(QFile::exists(marker));
}

// ---- Failures ------------------------------------------------------------------------------

TEST_F(RunnerTest, EmptyCommandGivesEmptyText)
{
    EXPECT_EQ(run(QString()), QString());
}

TEST_F(RunnerTest, ProgramsThatCannotRunAreNotFound)
{
    const QString notFound = QStringLiteral("File   or   command   not   found");
    EXPECT_EQ(run(QStringLiteral("horavo-no-such-program --x")), notFound);
    EXPECT_EQ(run(QStringLiteral("   ")), notFound);
    EXPECT_EQ(run(scripts.path() + QStringLiteral("/missing.sh")), notFound);
    EXPECT_EQ(run(scripts.write(QStringLiteral("plain.sh"), QStringLiteral("echo hi"), false)), notFound);
    EXPECT_EQ(run(scripts.path()), notFound) << "a folder is no program";

    QFile broken(scripts.path() + QStringLiteral("/broken"));
    broken.open(QIODevice::WriteOnly);
    broken.write("#!/horavo/no/interpreter\n");
    broken.close();
    broken.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(run(broken.fileName()), notFound) << "the exec itself fails";
}

TEST_F(RunnerTest, PipeFailureNamesTheError)
{
    const QString script = scripts.write(QStringLiteral("never.sh"), QStringLiteral("echo ran"));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const int seed = open("/dev/null", O_RDONLY);
    ASSERT_GE(seed, 0);
    std::vector<int> taken{seed};
    for (int fd = dup(seed); fd >= 0; fd = dup(seed))
        taken.push_back(fd);

    const QString output = run(script);

    for (int fd : taken)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(output, QStringLiteral("CreatePipe   failed.   Error:   24."));
    EXPECT_TRUE(tallyon::isRunnerFailure(output));
}

TEST(RunnerFailureText, IsToldApartFromOutput)
{
    EXPECT_TRUE(tallyon::isRunnerFailure(QStringLiteral("File   or   command   not   found")));
    EXPECT_TRUE(tallyon::isRunnerFailure(QStringLiteral("CreatePipe   failed.   Error:   24.")));
    EXPECT_FALSE(tallyon::isRunnerFailure(QString()));
    EXPECT_FALSE(tallyon::isRunnerFailure(QStringLiteral("File or command not found")));
    EXPECT_FALSE(tallyon::isRunnerFailure(QStringLiteral("x\nFile   or   command   not   found")));
    EXPECT_FALSE(tallyon::isRunnerFailure(QStringLiteral("CreatePipe   failed.   Error:   .")));
}

// ---- Finding the program ------------------------------------------------------------------

TEST_F(RunnerTest, ProgramIsLookedUpBesideTheExecutableBeforePath)
{
    const QString name = QStringLiteral("horavo-runner-probe-%1").arg(getpid());
    const QString besideExecutable = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    QFile::copy(scripts.write(QStringLiteral("beside.sh"), QStringLiteral("echo beside")), besideExecutable);
    QFile::setPermissions(besideExecutable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ScriptFolder pathFolder;
    pathFolder.write(name, QStringLiteral("echo on-path"));
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", pathFolder.path().toUtf8() + ":" + savedPath);

    const QString fromBoth = run(name);
    QFile::remove(besideExecutable);
    const QString fromPath = run(name + QStringLiteral(" x"));
    qputenv("PATH", savedPath);

    EXPECT_EQ(fromBoth, QStringLiteral("beside\n"));
    EXPECT_EQ(fromPath, QStringLiteral("on-path\n"));
}

// ---- Waiting, events and the child's end ----------------------------------------------------

TEST_F(RunnerTest, SlowWriterIsReadToTheEndWhileEventsRun)
{
    const QString script = scripts.write(
        QStringLiteral("slow.sh"),
        QStringLiteral("for i in 1 2 3 4 5 6; do echo line$i; sleep 0.5; done"));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(100);
    QElapsedTimer clock;
    clock.start();

    const QString output = runner.runcmd(script, 256, 2);

    EXPECT_GE(clock.elapsed(), 2500) << "the time limit does not end the reading";
    EXPECT_EQ(output, QStringLiteral("line1\nline2\nline3\nline4\nline5\nline6\n"));
    EXPECT_GE(ticks, 10) << "window events ran while the child was silent";
}

TEST_F(RunnerTest, ReturnsWhenOutputEndsNotWhenTheChildEnds)
{
    const QString script = scripts.write(
        QStringLiteral("lingering.sh"),
        QStringLiteral("echo $$\nexec >/dev/null 2>&1\nexec sleep 2"));
    QElapsedTimer clock;
    clock.start();
    const QString output = run(script);
    EXPECT_LT(clock.elapsed(), 1500);

    bool isNumber = false;
    const qint64 pid = output.trimmed().toLongLong(&isNumber);
    ASSERT_TRUE(isNumber) << output.toStdString();
    EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/%1").arg(pid))) << "the child goes on running";
    EXPECT_TRUE(goneWithin(pid, 6000)) << "and is reaped once it ends";
}

TEST_F(RunnerTest, FinishedChildLeavesNoZombie)
{
    const QString script = scripts.write(QStringLiteral("pid.sh"), QStringLiteral("echo $$"));
    bool isNumber = false;
    const qint64 pid = run(script).trimmed().toLongLong(&isNumber);
    ASSERT_TRUE(isNumber);
    EXPECT_TRUE(goneWithin(pid, 3000));
}

// ---- run: the argument list, the input and how the child ended ----------------------------------

TEST_F(RunnerTest, RunReportsHowTheChildEnded)
{
    using End = tallyon::CommandResult::End;
    const tallyon::CommandResult failing = runner.run(
        {scripts.write(QStringLiteral("fails.sh"), QStringLiteral("echo 已连接\nexit 1")), {}, std::nullopt}, 256, 2);
    EXPECT_EQ(failing.output, QStringLiteral("已连接\n"));
    EXPECT_EQ(failing.end, End::Exited);
    EXPECT_EQ(failing.exitCode, 1);
    EXPECT_FALSE(failing.succeeded());

    const tallyon::CommandResult killed = runner.run(
        {scripts.write(QStringLiteral("killed.sh"), QStringLiteral("echo 已连接\nkill -KILL $$")), {}, std::nullopt},
        256, 2);
    EXPECT_EQ(killed.output, QStringLiteral("已连接\n"));
    EXPECT_EQ(killed.end, End::Signaled);
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_FALSE(killed.succeeded());

    const tallyon::CommandResult unloadable = runner.run(
        {scripts.write(QStringLiteral("loader.sh"), QStringLiteral("echo 'cannot load' >&2\nexit 127")), {},
         std::nullopt},
        256, 2);
    EXPECT_EQ(unloadable.output, QStringLiteral("cannot load\n"));
    EXPECT_EQ(unloadable.exitCode, 127);
    EXPECT_FALSE(unloadable.succeeded());

    const tallyon::CommandResult fine = runner.run(
        {scripts.write(QStringLiteral("fine.sh"), QStringLiteral("echo 已连接")), {}, std::nullopt}, 256, 2);
    EXPECT_TRUE(fine.succeeded());

    const tallyon::CommandResult missing =
        runner.run({scripts.path() + QStringLiteral("/missing"), {}, std::nullopt}, 256, 2);
    EXPECT_EQ(missing.end, End::NotStarted);
    EXPECT_EQ(missing.output, QStringLiteral("File   or   command   not   found"));
}

TEST_F(RunnerTest, RunWaitsForTheEndWhileEventsRun)
{
    const QString script = scripts.write(QStringLiteral("quiet-then-fail.sh"),
                                         QStringLiteral("exec >/dev/null 2>&1\nsleep 1\nexit 3"));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(50);
    const tallyon::CommandResult result = runner.run({script, {}, std::nullopt}, 256, 2);
    EXPECT_EQ(result.exitCode, 3) << "the status of a child that closed its output early";
    EXPECT_GE(ticks, 2);
}

TEST_F(RunnerTest, RunPassesEachArgumentWholeAndFeedsTheInput)
{
    const QString script = scripts.write(
        QStringLiteral("echo-all.sh"),
        QStringLiteral("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\nprintf '<%s>' \"$(cat)\""));
    const QStringList arguments{QStringLiteral("/D"), QString(), QStringLiteral("a b"), QStringLiteral("-x"),
                                QStringLiteral("'\"$(x)")};
    const tallyon::CommandResult result =
        runner.run({script, arguments, QByteArrayLiteral("pass word")}, 256, 2);
    EXPECT_EQ(result.output, QStringLiteral("[/D]\n[]\n[a b]\n[-x]\n['\"$(x)]\n<pass word>"));

    const tallyon::CommandResult noInput = runner.run({script, {}, std::nullopt}, 256, 2);
    EXPECT_EQ(noInput.output, QStringLiteral("<>")) << "standard input is empty without input";
}

TEST_F(RunnerTest, ChildThatIgnoresItsInputDoesNotEndTheProgram)
{
    const QString script = scripts.write(QStringLiteral("closes-input.sh"),
                                         QStringLiteral("exec 0<&-\necho done"));
    const tallyon::CommandResult result =
        runner.run({script, {}, QByteArray(1 << 20, 'x')}, 256, 2);
    EXPECT_EQ(result.output, QStringLiteral("done\n")) << "a broken input pipe is no SIGPIPE for us";
    EXPECT_TRUE(result.succeeded());
}

} // namespace

namespace {

TEST_F(RunnerTest, EachLineIsHandedOnAsTheChildWritesIt)
{
    // The second line comes only once the test has seen the first: a file the test
    // creates tells the child to go on.
    QTemporaryDir folder;
    const QString go = folder.filePath(QStringLiteral("go"));
    tallyon::Command command{
        scripts.write(QStringLiteral("progress.sh"),
                      QStringLiteral("printf '正在连接到 宽带连接...\\r\\n'\n"
                                     "while [ ! -e '%1' ]; do sleep 0.05; done\n"
                                     "printf '已连接 宽带连接。\\n命令已'\nprintf '完成。'").arg(go)),
        {},
        std::nullopt};
    QStringList seen;
    command.onLine = [&](const QString& line) {
        seen << line;
        if (seen.size() == 1) {
            QFile signal(go);
            ASSERT_TRUE(signal.open(QIODevice::WriteOnly));
        }
    };
    const tallyon::CommandResult result = runner.run(command, 7, 2);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("正在连接到 宽带连接..."), QStringLiteral("已连接 宽带连接。"),
                                 QStringLiteral("命令已完成。")}));
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.output, QStringLiteral("正在连接到 宽带连接...\r\n已连接 宽带连接。\n命令已完成。"));
}

} // namespace

// ---- run: ended by its cancel or its time-out ------------------------------------------------

namespace {

TEST_F(RunnerTest, CancelOrTimeLimitEndsAStoppedChildAndWhatItStarted)
{
    // Both ignore SIGTERM, so only SIGKILL to the child's group ends them.
    const QString script = scripts.write(QStringLiteral("hangs.sh"),
                                         QStringLiteral("trap '' TERM\nsleep 60 &\necho $!\necho $$\nkill -STOP $$\nwait"));
    bool cancelRequested = false;
    QTimer::singleShot(300, [&cancelRequested] { cancelRequested = true; }); // an event, as a click is
    tallyon::Command cancelled{script, {}, std::nullopt}, timed{script, {}, std::nullopt};
    cancelled.cancelled = [&cancelRequested] { return cancelRequested; };
    timed.timeout = std::chrono::milliseconds(300);
    using End = tallyon::CommandResult::End;
    for (const auto& [command, end] : {std::pair{cancelled, End::Cancelled}, std::pair{timed, End::TimedOut}}) {
        const tallyon::CommandResult result = runner.run(command, 256, 2);
        EXPECT_EQ(result.end, end);
        EXPECT_EQ(result.signal, SIGKILL);
        const QStringList pids = result.output.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(pids.size(), 2);
        EXPECT_TRUE(goneWithin(pids[1].toLongLong(), 3000)) << "the child is ended and reaped";
        const auto grandchildEnded = [pid = pids[0]] { // reaped or not: it is init's now
            QFile status(QStringLiteral("/proc/%1/status").arg(pid));
            return !status.open(QIODevice::ReadOnly) || status.readAll().contains("State:\tZ");
        };
        EXPECT_TRUE(QTest::qWaitFor(grandchildEnded, 3000)) << "and so is what it started";
    }
}

} // namespace
