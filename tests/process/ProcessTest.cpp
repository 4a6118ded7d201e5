#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "platform/process/ChildProcess.h"
#include "platform/process/ProgramSearch.h"
#include "tests/doubles/EnvironmentVariable.h"
#include "tests/doubles/EventProbe.h"
#include "tests/doubles/ScriptFolder.h"

namespace {

using platform::ChildProcess;
using platform::ProcessRequest;
using platform::ProcessStartFailure;
using platform::ProgramOrigin;
using Stream = ChildProcess::Stream;

struct Ran {
    QByteArray output;
    QByteArray errors;
    ChildProcess::Ending ending;
};

Ran runToEnd(const ProcessRequest& request, int chunkSize = 4096)
{
    Ran ran;
    ChildProcess child(request);
    child.readOutput([&ran](QByteArrayView bytes, Stream stream) {
        (stream == Stream::Output ? ran.output : ran.errors).append(bytes);
    }, {}, chunkSize);
    EXPECT_TRUE(child.waitForEnd());
    ran.ending = *child.ending();
    return ran;
}

ProcessRequest requestOf(const QString& program, platform::OutputStreams streams = platform::OutputStreams::Together)
{
    ProcessRequest request;
    request.program = program;
    request.streams = streams;
    return request;
}

class ChildProcessTest : public ::testing::Test {
protected:
    doubles::ScriptFolder scripts;
};

TEST_F(ChildProcessTest, OutputAndErrorsComeTogetherInOrderOrApartAndWholeThroughManyReads)
{
    const QString both = scripts.write(QStringLiteral("both.sh"),
                                       QStringLiteral("echo one\necho two >&2\necho three\necho four >&2"));
    EXPECT_EQ(runToEnd(requestOf(both)).output, "one\ntwo\nthree\nfour\n");
    const Ran apart = runToEnd(requestOf(both, platform::OutputStreams::Apart));
    EXPECT_EQ(apart.output, "one\nthree\n");
    EXPECT_EQ(apart.errors, "two\nfour\n");

    QByteArray expected;
    for (int i = 1; i <= 30000; ++i)
        expected += QByteArray::number(i) + '\n';
    EXPECT_EQ(runToEnd(requestOf(scripts.write(QStringLiteral("long.sh"), QStringLiteral("seq 1 30000"))), 256).output,
              expected);
}

TEST_F(ChildProcessTest, ArgumentsInputAndEnvironmentReachTheChildAsGivenWithoutAShell)
{
    const QString marker = scripts.path() + QStringLiteral("/pwned");
    ProcessRequest request = requestOf(scripts.write(
        QStringLiteral("echo-all.sh"),
        QStringLiteral("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\nprintf '<%s>' \"$(cat)\"\n"
                       "printf '{%s}{%s}' \"$HORAVO_PROBE\" \"$HOME\"")));
    request.arguments = {"/D", "", "a b", "'\"$(touch " + QFile::encodeName(marker) + ")", "`id`;x|y &&z"};
    request.input = QByteArrayLiteral("pass word");
    request.environment = {QStringLiteral("HORAVO_PROBE=a=b"), QStringLiteral("HOME=/nowhere")};
    EXPECT_EQ(runToEnd(request).output, "[/D]\n[]\n[a b]\n['\"$(touch " + QFile::encodeName(marker)
                                         + ")]\n[`id`;x|y &&z]\n<pass word>{a=b}{/nowhere}");
    EXPECT_FALSE(QFile::exists(marker));

    request.arguments.clear();
    request.input.reset();
    request.environment.clear();
    EXPECT_EQ(runToEnd(request).output, "<>{}{" + qgetenv("HOME") + "}") << "no input: standard input is empty";

    request.input = QByteArray(1 << 20, 'x');
    request.program = scripts.write(QStringLiteral("closes-input.sh"), QStringLiteral("exec 0<&-\necho done"));
    const Ran ignored = runToEnd(request);
    EXPECT_EQ(ignored.output, "done\n") << "a broken input pipe is no SIGPIPE for this program";
    EXPECT_EQ(ignored.ending.code, 0);
}

TEST_F(ChildProcessTest, WhatCannotRunIsNamedWithItsCause)
{
    using Cause = ProcessStartFailure::Cause;
    const auto causeOf = [](const QString& program) -> std::optional<Cause> {
        try {
            ChildProcess child(requestOf(program));
        } catch (const ProcessStartFailure& failure) {
            EXPECT_TRUE(failure.message().contains(program)) << failure.message().toStdString();
            return failure.cause();
        }
        return std::nullopt;
    };
    QFile broken(scripts.path() + QStringLiteral("/broken"));
    broken.open(QIODevice::WriteOnly);
    broken.write("#!/horavo/no/interpreter\n");
    broken.close();
    broken.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    EXPECT_EQ(causeOf(QStringLiteral("horavo-no-such-program")), Cause::NotFound);
    EXPECT_EQ(causeOf(QString()), Cause::NotFound);
    EXPECT_EQ(causeOf(scripts.path() + QStringLiteral("/missing.sh")), Cause::NotFound);
    EXPECT_EQ(causeOf(scripts.write(QStringLiteral("plain.sh"), QStringLiteral("echo hi"), false)), Cause::NotFound);
    EXPECT_EQ(causeOf(scripts.path()), Cause::NotFound) << "a folder is no program";
    EXPECT_EQ(causeOf(broken.fileName()), Cause::NotStarted) << "the exec itself fails";
}

TEST_F(ChildProcessTest, OwnProgramsComeFromBesideTheExecutableFirstAndSystemToolsFromPathThenSbin)
{
    const QString name = QStringLiteral("horavo-search-probe-%1").arg(QCoreApplication::applicationPid());
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    QFile::copy(scripts.write(QStringLiteral("beside.sh"), QStringLiteral("echo beside")), beside);
    QFile::setPermissions(beside, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    doubles::ScriptFolder onPath;
    const QString pathCopy = onPath.write(name, QStringLiteral("echo on-path"));
    doubles::EnvironmentVariable path("PATH", onPath.path().toUtf8());

    const QString ownFirst = platform::findProgram(name, ProgramOrigin::OwnProgram);
    const QString toolFirst = platform::findProgram(name, ProgramOrigin::SystemTool);
    QFile::remove(beside);
    EXPECT_EQ(ownFirst, beside);
    EXPECT_EQ(toolFirst, pathCopy);
    EXPECT_EQ(platform::findProgram(name, ProgramOrigin::OwnProgram), pathCopy);

    // A system tool of the administrator's folder, which PATH leaves out here.
    const QStringList sbin = QDir(QStringLiteral("/usr/sbin")).entryList(QDir::Files | QDir::Executable);
    ASSERT_FALSE(sbin.isEmpty());
    EXPECT_EQ(platform::findProgram(sbin.first(), ProgramOrigin::SystemTool),
              QStringLiteral("/usr/sbin/") + sbin.first());
    EXPECT_EQ(platform::findProgram(sbin.first(), ProgramOrigin::OwnProgram), QString());
}

TEST_F(ChildProcessTest, EventsKeepRunningWhileTheOutputIsReadAndTheEndAwaited)
{
    ChildProcess child(requestOf(scripts.write(
        QStringLiteral("slow.sh"), QStringLiteral("echo a\nsleep 0.4\necho b\nexec >/dev/null 2>&1\nsleep 0.4\nexit 3"))));
    doubles::EventProbe events;
    QByteArray output;
    EXPECT_TRUE(child.readOutput([&output](QByteArrayView bytes, Stream) { output.append(bytes); }));
    EXPECT_EQ(output, "a\nb\n");
    EXPECT_GE(events.ticks(), 5) << "while the child was silent";
    events.restart();
    EXPECT_TRUE(child.waitForEnd());
    EXPECT_GE(events.ticks(), 5) << "while the child ran with its output closed";
    EXPECT_FALSE(child.ending()->signaled);
    EXPECT_EQ(child.ending()->code, 3);
}

TEST_F(ChildProcessTest, AChildLeftBehindIsReadToItsEndAndReapedOnceItEnds)
{
    // Its output outgrows a pipe's buffer after it has been let go: it neither stalls
    // nor dies of a closed pipe.
    const QString done = scripts.path() + QStringLiteral("/done");
    qint64 pid = 0;
    {
        ChildProcess child(requestOf(scripts.write(
            QStringLiteral("left.sh"),
            QStringLiteral("sleep 0.3\nhead -c 300000 /dev/zero\necho $$ > '%1'").arg(done))));
        pid = child.pid();
    }
    EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/%1").arg(pid))) << "it goes on running";
    EXPECT_TRUE(QTest::qWaitFor([&done] { return QFile::exists(done); }, 10000));
    EXPECT_TRUE(doubles::goneWithin(pid, 6000)) << "and is reaped once it ends";

    {
        ChildProcess finished(requestOf(scripts.write(QStringLiteral("pid.sh"), QStringLiteral("echo $$"))));
        finished.readOutput({});
        pid = finished.pid();
    }
    EXPECT_TRUE(doubles::goneWithin(pid, 3000));
}

// A child that ignores SIGTERM, and its group, are the dialer runner's cancel.
TEST_F(ChildProcessTest, EndGivesTheChildSigtermFirst)
{
    ChildProcess sleeping(requestOf(scripts.write(QStringLiteral("sleeps.sh"), QStringLiteral("exec sleep 60"))));
    sleeping.end(std::chrono::seconds(5));
    EXPECT_TRUE(sleeping.ending()->signaled);
    EXPECT_EQ(sleeping.ending()->code, SIGTERM);
}

} // namespace
