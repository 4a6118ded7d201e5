#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "main_program/dialer/PipeCommandRunner.h"
#include "tests/doubles/ScriptFolder.h"

namespace {

using tallyon::CommandResult;
using End = CommandResult::End;
using doubles::goneWithin;

const QString kNotFound = QStringLiteral("File   or   command   not   found");

// The dialer's own rules of running a command; how a child is started, fed, read and
// reaped is the platform's child process, tested with it.
class RunnerTest : public ::testing::Test {
protected:
    QString run(const QString& command, int readSize = 256) { return runner.runcmd(command, readSize, 2); }
    CommandResult runScript(const QString& name, const QString& body)
    {
        return runner.run({scripts.write(name, body), {}, std::nullopt}, 256, 2);
    }

    doubles::ScriptFolder scripts;
    tallyon::PipeCommandRunner runner;
};

// ---- What comes back -------------------------------------------------------------------

TEST_F(RunnerTest, CharacterSplitOverTwoReadsSurvives)
{
    const QString text = QStringLiteral("远程访问错误 678 - 远程计算机没有响应。");
    const QString script =
        scripts.write(QStringLiteral("chinese.sh"), QStringLiteral("printf '%1'").arg(text));
    for (int readSize : {1, 2, 4, 5})
        EXPECT_EQ(run(script, readSize), text) << "read size " << readSize;
}

TEST_F(RunnerTest, OnlyTheWholeOutputIsTrimmedOfBlanksAndNulCharactersAreRemoved)
{
    const QString inner = scripts.write(QStringLiteral("inner.sh"), QStringLiteral("printf 'ab  cd  ef'"));
    EXPECT_EQ(run(inner, 2), QStringLiteral("ab  cd  ef"));

    const QString outer = scripts.write(QStringLiteral("outer.sh"), QStringLiteral("printf '   x  y   '"));
    EXPECT_EQ(run(outer, 2), QStringLiteral("x  y"));

    const QString breaks = scripts.write(QStringLiteral("breaks.sh"), QStringLiteral("printf ' \\tx\\n '"));
    EXPECT_EQ(run(breaks, 1), QStringLiteral("\tx\n")) << "tabs and line breaks are kept";

    const QString nul = scripts.write(QStringLiteral("nul.sh"), QStringLiteral("printf 'a\\000b\\000c'"));
    EXPECT_EQ(run(nul), QStringLiteral("abc"));

    EXPECT_EQ(run(scripts.write(QStringLiteral("silent.sh"), QStringLiteral("exit 3"))), QString());
}

TEST_F(RunnerTest, CommandLineIsSplitAtBlanksAndNothingElse)
{
    const QString script =
        scripts.write(QStringLiteral("args.sh"), QStringLiteral("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done"));
    EXPECT_EQ(run(script + QStringLiteral(" \t a;b $(id) 'q  r' x|y")),
              QStringLiteral("[a;b]\n[$(id)]\n['q]\n[r']\n[x|y]\n"));
}

// ---- Failures ------------------------------------------------------------------------------

TEST_F(RunnerTest, WhatCannotRunGivesTheRunnersOwnText)
{
    EXPECT_EQ(run(QString()), QString());
    EXPECT_EQ(run(QStringLiteral("   ")), kNotFound);
    EXPECT_EQ(run(QStringLiteral("horavo-no-such-program --x")), kNotFound);
    EXPECT_EQ(run(scripts.write(QStringLiteral("plain.sh"), QStringLiteral("echo hi"), false)), kNotFound);

    const CommandResult missing = runner.run({scripts.path() + QStringLiteral("/missing"), {}, std::nullopt}, 256, 2);
    EXPECT_EQ(missing.end, End::NotStarted);
    EXPECT_EQ(missing.output, kNotFound);
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
    EXPECT_TRUE(tallyon::isRunnerFailure(kNotFound));
    EXPECT_TRUE(tallyon::isRunnerFailure(QStringLiteral("CreatePipe   failed.   Error:   24.")));
    EXPECT_FALSE(tallyon::isRunnerFailure(QString()));
    EXPECT_FALSE(tallyon::isRunnerFailure(QStringLiteral("File or command not found")));
    EXPECT_FALSE(tallyon::isRunnerFailure(QStringLiteral("x\nFile   or   command   not   found")));
    EXPECT_FALSE(tallyon::isRunnerFailure(QStringLiteral("CreatePipe   failed.   Error:   .")));
}

// ---- runcmd: the output is read to its end, the child is not waited for -------------------------

TEST_F(RunnerTest, TheTimeLimitDoesNotEndTheReadingNorDoesTheEndOfTheOutputWaitForTheChild)
{
    const QString slow = scripts.write(QStringLiteral("slow.sh"), QStringLiteral("echo first\nsleep 2.5\necho last"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runner.runcmd(slow, 256, 2), QStringLiteral("first\nlast\n"));
    EXPECT_GE(clock.elapsed(), 2500);

    const QString lingering = scripts.write(QStringLiteral("lingering.sh"),
                                            QStringLiteral("echo $$\nexec >/dev/null 2>&1\nexec sleep 2"));
    clock.restart();
    const qint64 pid = run(lingering).toLongLong();
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/%1").arg(pid))) << "the child goes on running";
    EXPECT_TRUE(goneWithin(pid, 6000)) << "and is reaped once it ends";
}

// ---- run: how the child ended, its lines, its cancel and its time-out --------------------------

TEST_F(RunnerTest, RunReportsHowTheChildEnded)
{
    const CommandResult failing = runScript(QStringLiteral("fails.sh"), QStringLiteral("echo 已连接\nexit 1"));
    EXPECT_EQ(failing.output, QStringLiteral("已连接\n"));
    EXPECT_EQ(failing.end, End::Exited);
    EXPECT_EQ(failing.exitCode, 1);
    EXPECT_FALSE(failing.succeeded());

    const CommandResult killed = runScript(QStringLiteral("killed.sh"), QStringLiteral("echo 已连接\nkill -KILL $$"));
    EXPECT_EQ(killed.output, QStringLiteral("已连接\n"));
    EXPECT_EQ(killed.end, End::Signaled);
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_FALSE(killed.succeeded());

    EXPECT_TRUE(runScript(QStringLiteral("fine.sh"), QStringLiteral("echo 已连接")).succeeded());
}

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
    const CommandResult result = runner.run(command, 7, 2);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("正在连接到 宽带连接..."), QStringLiteral("已连接 宽带连接。"),
                                 QStringLiteral("命令已完成。")}));
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.output, QStringLiteral("正在连接到 宽带连接...\r\n已连接 宽带连接。\n命令已完成。"));
}

TEST_F(RunnerTest, CancelOrTimeLimitEndsTheChildAndSaysWhich)
{
    const QString script = scripts.write(QStringLiteral("hangs.sh"), QStringLiteral("echo $$\nexec sleep 60"));
    bool cancelRequested = false;
    QTimer::singleShot(300, [&cancelRequested] { cancelRequested = true; }); // an event, as a click is
    tallyon::Command cancelled{script, {}, std::nullopt}, timed{script, {}, std::nullopt};
    cancelled.cancelled = [&cancelRequested] { return cancelRequested; };
    timed.timeout = std::chrono::milliseconds(300);
    for (const auto& [command, end] : {std::pair{cancelled, End::Cancelled}, std::pair{timed, End::TimedOut}}) {
        QElapsedTimer clock;
        clock.start();
        const CommandResult result = runner.run(command, 256, 2);
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(result.end, end);
        EXPECT_FALSE(result.succeeded());
        EXPECT_TRUE(goneWithin(result.output.toLongLong(), 3000)) << "the child is ended and reaped";
    }
}

} // namespace
