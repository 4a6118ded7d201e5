#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "main_program/dialer/PipeCommandRunner.h"
#include "tests/doubles/ScriptFolder.h"

namespace {

using tallyon::PipeCommandRunner;
using doubles::ScriptFolder;
using doubles::goneWithin;

class RunnerTest : public ::testing::Test {
protected:
    QString run(const QString& command, int readSize = 256) { return runner.runcmd(command, readSize, 2); }

    ScriptFolder scripts;
    PipeCommandRunner runner;
};

// ---- What comes back -------------------------------------------------------------------

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

// ---- Waiting, events and the child's end ----------------------------------------------------

TEST_F(RunnerTest, SlowWriterIsReadToTheEnd)
{
    const QString script = scripts.write(
        QStringLiteral("slow.sh"),
        QStringLiteral("for i in 1 2 3 4 5 6; do echo line$i; sleep 0.5; done"));
    QElapsedTimer clock;
    clock.start();

    const QString output = runner.runcmd(script, 256, 2);

    EXPECT_GE(clock.elapsed(), 2500) << "the time limit does not end the reading";
    EXPECT_EQ(output, QStringLiteral("line1\nline2\nline3\nline4\nline5\nline6\n"));
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

    const tallyon::CommandResult fine = runner.run(
        {scripts.write(QStringLiteral("fine.sh"), QStringLiteral("echo 已连接")), {}, std::nullopt}, 256, 2);
    EXPECT_TRUE(fine.succeeded());

    const tallyon::CommandResult missing =
        runner.run({scripts.path() + QStringLiteral("/missing"), {}, std::nullopt}, 256, 2);
    EXPECT_EQ(missing.end, End::NotStarted);
    EXPECT_EQ(missing.output, QStringLiteral("File   or   command   not   found"));
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
