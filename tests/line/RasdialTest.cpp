// rasdial and tallyon-line as programs: started from the build's bin folder, on a
// simulated line and on the fake NetworkManager.

#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/line/SimLine.h"
#include "rules/Version.h"
#include "tests/line/FakeNetworkManager.h"

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString output;
    QString errors;
};

QString binFolder()
{
    const QString fromTest = qEnvironmentVariable("HORAVO_BIN_DIR");
    return fromTest.isEmpty() ? QCoreApplication::applicationDirPath() : fromTest;
}

ProgramRun runProgram(const QString& name, const QStringList& arguments, const QString& lineChoice,
                      const QByteArray& input = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TALLYON_LINE"), lineChoice);
    process.setProcessEnvironment(environment);
    process.start(binFolder() + QLatin1Char('/') + name, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QString kBroadband = QStringLiteral("宽带连接");

class SimulatedLineCommands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(line(QStringList{QStringLiteral("init")}).exitCode, 0); }

    ProgramRun rasdial(const QStringList& arguments, const QByteArray& input = {})
    {
        return runProgram(QStringLiteral("rasdial"), arguments, choice, input);
    }
    ProgramRun line(const QStringList& arguments)
    {
        return runProgram(QStringLiteral("tallyon-line"), arguments, choice);
    }
    platform::SimLineState state() const { return platform::SimLineFile(path).read(); }

    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("line.json"));
    QString choice = QStringLiteral("sim:") + path;
};

TEST_F(SimulatedLineCommands, DialConnectsAndReportsLikeTheWindowsCommand)
{
    const ProgramRun run = rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, QStringLiteral("正在连接到 宽带连接...\n正在验证用户名及密码...\n"
                                         "正在网络上注册您的计算机...\n已连接 宽带连接。\n命令已完成。\n"));
    ASSERT_EQ(state().active.size(), 1);
    EXPECT_EQ(state().active[0].entry, kBroadband);
}

TEST_F(SimulatedLineCommands, WrongPasswordAndUnknownAccountAre691)
{
    for (const QStringList& account : {QStringList{QStringLiteral("demo"), QStringLiteral("nope")},
                                       QStringList{QStringLiteral("stranger"), QStringLiteral("demo")}}) {
        const ProgramRun run = rasdial(QStringList{kBroadband} + account);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(run.output.contains(
            QStringLiteral("远程访问错误 691 - 因为用户名和/或密码在此域上无效，所以拒绝访问。")))
            << run.output.toStdString();
    }
    EXPECT_TRUE(state().active.isEmpty());
}

TEST_F(SimulatedLineCommands, CableOutIs678AndDropsTheConnection)
{
    rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")});
    ASSERT_EQ(line({QStringLiteral("unplug")}).exitCode, 0);
    EXPECT_TRUE(state().active.isEmpty());

    const ProgramRun run = rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.output.contains(QStringLiteral("错误 678"))) << run.output.toStdString();

    line({QStringLiteral("plug")});
    EXPECT_EQ(rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")}).exitCode, 0);
}

TEST_F(SimulatedLineCommands, UnknownEntryIs623)
{
    const ProgramRun run = rasdial({QStringLiteral("别的连接"), QStringLiteral("demo"), QStringLiteral("demo")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.output.contains(QStringLiteral("错误 623"))) << run.output.toStdString();
}

TEST_F(SimulatedLineCommands, AccountsAndEntriesAddedByTheLineCommandDial)
{
    ASSERT_EQ(line({QStringLiteral("add-account"), QStringLiteral("zhang"), QStringLiteral("pw 1")}).exitCode, 0);
    ASSERT_EQ(line({QStringLiteral("add-entry"), QStringLiteral("备用")}).exitCode, 0);
    EXPECT_EQ(rasdial({QStringLiteral("备用"), QStringLiteral("zhang"), QStringLiteral("pw 1")}).exitCode, 0);
    EXPECT_EQ(state().entries, (QStringList{kBroadband, QStringLiteral("备用")}));

    const ProgramRun shown = line({QStringLiteral("show")});
    EXPECT_EQ(shown.output, QStringLiteral("entry: 宽带连接\nentry: 备用\naccount: demo\naccount: zhang\n"
                                           "cable: in\nactive: 1 备用\n"));
}

TEST_F(SimulatedLineCommands, AfterTheMarkerEveryWordIsAnEntryOrAnAccount)
{
    ASSERT_EQ(line({QStringLiteral("add-account"), QStringLiteral("/D"), QStringLiteral("pw")}).exitCode, 0);
    rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")});

    const ProgramRun asAccount = rasdial({QStringLiteral("--"), kBroadband, QStringLiteral("/D")});
    EXPECT_TRUE(asAccount.output.contains(QStringLiteral("你已经连接到 宽带连接。"))) << "a dial, not a hang-up";
    EXPECT_EQ(state().active.size(), 1);

    rasdial({kBroadband, QStringLiteral("/d")});
    EXPECT_TRUE(state().active.isEmpty()) << "typed without the marker it is the disconnect switch";

    const ProgramRun stdinPassword =
        rasdial({QStringLiteral("--password-stdin"), QStringLiteral("--"), kBroadband, QStringLiteral("/D")},
                QByteArrayLiteral("pw\n"));
    EXPECT_EQ(stdinPassword.exitCode, 0) << stdinPassword.output.toStdString();
    EXPECT_EQ(state().active.size(), 1);
    EXPECT_EQ(rasdial({QStringLiteral("--password-stdin"), QStringLiteral("--"), kBroadband, QStringLiteral("/D"),
                       QStringLiteral("pw")})
                  .exitCode,
              2)
        << "the password comes from one place only";
    EXPECT_EQ(rasdial({QStringLiteral("--")}).exitCode, 2);
}

TEST_F(SimulatedLineCommands, PasswordFromStandardInputKeepsAllButOneFinalLineBreak)
{
    ASSERT_EQ(line({QStringLiteral("add-account"), QStringLiteral("u"), QStringLiteral(" a b ")}).exitCode, 0);
    const QStringList dial{QStringLiteral("--password-stdin"), kBroadband, QStringLiteral("u")};
    EXPECT_NE(rasdial(dial, QByteArrayLiteral(" a b")).exitCode, 0);
    EXPECT_EQ(rasdial(dial, QByteArrayLiteral(" a b ")).exitCode, 0);
    EXPECT_TRUE(rasdial({QStringLiteral("--help")}).output.contains(QStringLiteral("--password-stdin")));
}

TEST_F(SimulatedLineCommands, HangUpThroughTheLineCommandAndThroughRasdial)
{
    rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")});
    EXPECT_EQ(line({QStringLiteral("drop"), QStringLiteral("9")}).exitCode, 1) << "no such handle";
    EXPECT_EQ(line({QStringLiteral("drop"), QStringLiteral("1")}).exitCode, 0);
    EXPECT_TRUE(state().active.isEmpty());

    rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")});
    EXPECT_EQ(rasdial({}).output, QStringLiteral("已连接\n宽带连接\n命令已完成。\n"));
    const ProgramRun hungUp = rasdial({kBroadband, QStringLiteral("/DISCONNECT")});
    EXPECT_EQ(hungUp.exitCode, 0);
    EXPECT_TRUE(state().active.isEmpty());
    EXPECT_EQ(rasdial({}).output, QStringLiteral("没有连接\n命令已完成。\n"));

    rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("demo")});
    EXPECT_EQ(line({QStringLiteral("drop")}).exitCode, 0);
    EXPECT_TRUE(state().active.isEmpty());
}

TEST_F(SimulatedLineCommands, BadChoicesAndArgumentsAreReported)
{
    const ProgramRun unknownBackend = runProgram(
        QStringLiteral("rasdial"), {kBroadband, QStringLiteral("demo"), QStringLiteral("demo")},
        QStringLiteral("bogus"));
    EXPECT_NE(unknownBackend.exitCode, 0);
    EXPECT_TRUE(unknownBackend.errors.contains(QStringLiteral("networkmanager、lan 或 sim:文件")));
    EXPECT_TRUE(unknownBackend.output.contains(QStringLiteral("错误 711")));

    const ProgramRun tooMany = rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("de"), QStringLiteral("mo")});
    EXPECT_NE(tooMany.exitCode, 0);
    EXPECT_TRUE(tooMany.output.contains(QStringLiteral("错误 87"))) << "a password with a blank cannot pass";

    EXPECT_NE(runProgram(QStringLiteral("tallyon-line"), {QStringLiteral("show")}, QString()).exitCode, 0);
    QFile::remove(path);
    const ProgramRun unknownLine = rasdial({});
    EXPECT_EQ(unknownLine.exitCode, 1);
    EXPECT_TRUE(unknownLine.output.contains(QStringLiteral("错误 711"))) << "connections that cannot be learned";
    EXPECT_EQ(line({QStringLiteral("frobnicate")}).exitCode, 2);
    EXPECT_TRUE(line({QStringLiteral("--help")}).output.contains(QStringLiteral("add-account USER PASSWORD")));
}

TEST_F(SimulatedLineCommands, VersionsAnswerAndAnOptionIsNeverDialedAsAnEntry)
{
    const QString version = QStringLiteral("%1.%2.%3").arg(horavo::kVersionMajor).arg(horavo::kVersionMinor).arg(horavo::kVersionPatch);
    const ProgramRun rasdialVersion = rasdial({QStringLiteral("--version")});
    EXPECT_EQ(rasdialVersion.exitCode, 0);
    EXPECT_EQ(rasdialVersion.output.trimmed(), QStringLiteral("rasdial ") + version);
    EXPECT_EQ(line({QStringLiteral("--version")}).output.trimmed(), QStringLiteral("tallyon-line ") + version);

    // "--verbose" is no entry to dial, however many words follow it.
    for (const QStringList& words : {QStringList{QStringLiteral("--verbose")},
                                     QStringList{QStringLiteral("-x"), QStringLiteral("demo"), QStringLiteral("demo")}}) {
        const ProgramRun refused = rasdial(words);
        EXPECT_EQ(refused.exitCode, 2) << words.join(u' ').toStdString();
        EXPECT_TRUE(refused.output.contains(QStringLiteral("错误 87"))) << refused.output.toStdString();
    }
    EXPECT_TRUE(state().active.isEmpty());
}

// ---- On NetworkManager (the fake nmcli) ---------------------------------------------------------

// Every file under `folder` whose content holds `secret`.
QStringList filesHolding(const QString& folder, const QByteArray& secret)
{
    QStringList holding;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret))
            holding << file.fileName();
    }
    return holding;
}

TEST(RasdialOnNetworkManager, PasswordReachesNmcliThroughAPipeAndNeverTheDisk)
{
    FakeNetworkManager nm;
    nm.set(QStringLiteral("profiles"), QStringLiteral("宽带连接:pppoe\n"));
    QTemporaryDir temporary;
    const QByteArray password = "S3cret-pw-4711";

    const auto startRasdial = [&](QProcess& process) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TALLYON_LINE"), QStringLiteral("networkmanager"));
        environment.insert(QStringLiteral("TMPDIR"), temporary.path());
        process.setProcessEnvironment(environment);
        process.start(binFolder() + QStringLiteral("/rasdial"),
                      {QStringLiteral("--password-stdin"), QStringLiteral("--"), kBroadband, QStringLiteral("demo")});
        process.write(password + "\n");
        process.closeWriteChannel();
    };

    QProcess dialed;
    startRasdial(dialed);
    ASSERT_TRUE(dialed.waitForFinished(30000));
    EXPECT_EQ(dialed.exitCode(), 0) << dialed.readAll().toStdString();
    EXPECT_EQ(nm.get(QStringLiteral("secrets-kind")), QStringLiteral("pipe\n"));
    EXPECT_EQ(nm.get(QStringLiteral("secrets")), QStringLiteral("pppoe.password:") + QString::fromUtf8(password + "\n"));

    // Killed while NetworkManager activates the line: nothing of the password is left.
    nm.set(QStringLiteral("active"), QString());
    nm.set(QStringLiteral("hang"), QStringLiteral("--wait*"));
    QProcess killed;
    startRasdial(killed);
    QDeadlineTimer deadline(30000);
    while (!nm.has(QStringLiteral("hung-pids")) && !deadline.hasExpired())
        killed.waitForFinished(20); // also hands rasdial its input
    ASSERT_TRUE(nm.has(QStringLiteral("hung-pids"))) << "rasdial reached the activation";
    killed.kill();
    killed.waitForFinished();
    for (const QString& pid : nm.get(QStringLiteral("hung-pids")).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ::kill(pid.toInt(), SIGKILL);

    EXPECT_EQ(filesHolding(temporary.path(), password), QStringList());
    EXPECT_EQ(filesHolding(temporary.path(), "pppoe.password"), QStringList());
}

TEST(RasdialOnNetworkManager, ConnectsAndReportsRefusal)
{
    FakeNetworkManager nm;
    nm.set(QStringLiteral("profiles"), QStringLiteral("宽带连接:pppoe\n"));

    const ProgramRun connected = runProgram(
        QStringLiteral("rasdial"), {kBroadband, QStringLiteral("demo"), QStringLiteral("demo")},
        QStringLiteral("networkmanager"));
    EXPECT_EQ(connected.exitCode, 0) << connected.errors.toStdString();
    EXPECT_TRUE(connected.output.contains(QStringLiteral("已连接 宽带连接。")));

    nm.set(QStringLiteral("active"), QString());
    nm.set(QStringLiteral("up-exit"), QStringLiteral("4"));
    nm.set(QStringLiteral("parent"), QStringLiteral("eth9\n"));
    nm.set(QStringLiteral("discovery"), QStringLiteral("Access-Concentrator: bras-7\n"));
    const ProgramRun refused = runProgram(
        QStringLiteral("rasdial"), {kBroadband, QStringLiteral("demo"), QStringLiteral("bad")},
        QStringLiteral("networkmanager"));
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.output.contains(QStringLiteral("错误 691"))) << refused.output.toStdString();

    nm.set(QStringLiteral("up-error"), QStringLiteral("Error: Connection activation failed: Not authorized to control networking.\n"));
    const ProgramRun notAuthorized = runProgram(
        QStringLiteral("rasdial"), {kBroadband, QStringLiteral("demo"), QStringLiteral("demo")},
        QStringLiteral("networkmanager"));
    EXPECT_EQ(notAuthorized.exitCode, 1);
    EXPECT_TRUE(notAuthorized.output.endsWith(QStringLiteral("远程访问错误 1104 - 你没有更改网络连接的权限。\n")))
        << notAuthorized.output.toStdString();

    nm.set(QStringLiteral("not-running"), QString());
    EXPECT_TRUE(runProgram(QStringLiteral("rasdial"), {kBroadband, QStringLiteral("demo"), QStringLiteral("x")},
                           QString())
                    .output.contains(QStringLiteral("错误 711")))
        << "networkmanager is the default";
}

} // namespace
