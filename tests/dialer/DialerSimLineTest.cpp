// The dialer with its real parts: the pipe command runner starts the rasdial built
// beside the tests, which dials the simulated line that the dialer then watches.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTimer>

#include "main_program/common/Session.h"
#include "main_program/dialer/Dialer.h"
#include "main_program/dialer/PipeCommandRunner.h"
#include "platform/line/LanLine.h"
#include "platform/line/NetworkManagerLine.h"
#include "platform/line/SimLine.h"
#include "tests/line/FakeNetworkManager.h"
#include "tests/doubles/EventProbe.h"
#include "tests/doubles/ScriptedMessageBoxes.h"
#include "tests/doubles/TempDatabase.h"

namespace {

class CountingHost final : public tallyon::DialerHost {
public:
    int addtimes = 0;
    bool started = false;
    std::function<void(const QString&)> onProgress;
    void addtime() override { ++addtimes; }
    void dialProgress(const QString& line) override
    {
        if (onProgress)
            onProgress(line);
    }
    void setStarted(bool value) override { started = value; }
    void setTimerInterval(int) override {}
    void showLoginWindow() override {}
    void requestUnload() override {}
};

class DialerOnSimulatedLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/rasdial")))
            << "rasdial is built beside the tests";
        file.write(platform::SimLineState::demo());
        savedChoice = qgetenv("TALLYON_LINE");
        qputenv("TALLYON_LINE", "sim:" + file.path().toUtf8());
    }
    void TearDown() override { qputenv("TALLYON_LINE", savedChoice); }

    void useAccount(const QString& user, const QString& password)
    {
        const auto quoted = [](QString text) { return text.replace(QLatin1Char('\''), QStringLiteral("''")); };
        db.exec(QStringLiteral("insert into knumber(kuser, kpassw, useyn, price) values('%1', '%2', 1, 1)")
                    .arg(quoted(user), quoted(password)));
    }
    void ispAccepts(const QString& user, const QString& password)
    {
        file.modify([&](platform::SimLineState& state) {
            state.accounts.clear();
            state.accounts.insert(user, password);
        });
    }

    QTemporaryDir folder;
    platform::SimLineFile file{folder.filePath(QStringLiteral("line.json"))};
    QByteArray savedChoice;
    doubles::TempDatabase db;
    platform::SimLineService line{file.path()};
    tallyon::PipeCommandRunner runner;
    doubles::ScriptedMessageBoxes boxes;
    tallyon::Session session;
    CountingHost host;
    tallyon::Dialer dialer{line, runner, boxes, session, host};
};

TEST_F(DialerOnSimulatedLine, ConnectsWatchesAndHangsUp)
{
    useAccount(QStringLiteral("demo"), QStringLiteral("demo"));
    dialer.discoverEntryName();
    EXPECT_EQ(dialer.entryname(), QStringLiteral("宽带连接"));
    EXPECT_FALSE(dialer.testc());

    dialer.conutionadd();

    EXPECT_TRUE(boxes.shown.empty()) << boxes.prompts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(host.addtimes, 1);
    EXPECT_TRUE(dialer.testc());
    EXPECT_EQ(file.read().active.size(), 1);

    dialer.hangUpAll();
    EXPECT_FALSE(dialer.testc());
    EXPECT_TRUE(file.read().active.isEmpty());
}

TEST_F(DialerOnSimulatedLine, WrongPasswordIsRefused)
{
    useAccount(QStringLiteral("demo"), QStringLiteral("wrong"));
    dialer.discoverEntryName();
    dialer.conutionadd();
    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("你的用户名和密码有问题，请你查证后再试！")});
    EXPECT_EQ(host.addtimes, 0);
    EXPECT_FALSE(dialer.testc());
}

TEST_F(DialerOnSimulatedLine, PulledCableGetsNoAnswer)
{
    useAccount(QStringLiteral("demo"), QStringLiteral("demo"));
    file.modify([](platform::SimLineState& state) { state.unplug(); });
    dialer.discoverEntryName();
    dialer.conutionadd();
    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("远程主机没有反应，请你查看一下你的线路是否有问题！")});
    EXPECT_EQ(host.addtimes, 0);
}

TEST_F(DialerOnSimulatedLine, MissingEntryIsAFailedDial)
{
    useAccount(QStringLiteral("demo"), QStringLiteral("demo"));
    file.modify([](platform::SimLineState& state) { state.entries.clear(); });
    dialer.discoverEntryName();
    dialer.conutionadd();
    EXPECT_EQ(boxes.prompts(),
              QStringList{QStringLiteral("拨号失败，错误 623。\n远程访问错误 623 - 系统无法找到此连接的电话簿项。")});
    EXPECT_EQ(host.addtimes, 0);
}

// ---- A line service that does not answer -------------------------------------------------

TEST(DialerOnNetworkManager, HungQueryIsUnknownAndTheWindowKeepsRunning)
{
    FakeNetworkManager nm;
    nm.set(QStringLiteral("profiles"), QStringLiteral("宽带连接:pppoe\n"));
    nm.set(QStringLiteral("active"), QStringLiteral("宽带连接:pppoe:/org/freedesktop/NetworkManager/ActiveConnection/5\n"));
    platform::NetworkManagerOptions options;
    options.queryMilliseconds = 300;
    platform::NetworkManagerLine line(options);
    doubles::TempDatabase db;
    tallyon::PipeCommandRunner runner;
    doubles::ScriptedMessageBoxes boxes;
    tallyon::Session session;
    CountingHost host;
    tallyon::Dialer dialer{line, runner, boxes, session, host};
    dialer.discoverEntryName();
    ASSERT_EQ(dialer.lineState(), tallyon::LineState::Up);

    nm.set(QStringLiteral("hang"), QStringLiteral("*--active*"));
    const doubles::EventProbe events;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Unknown) << "not a drop: the line was up";
    EXPECT_LT(clock.elapsed(), 30000) << "the hung nmcli was not waited for";
    EXPECT_GE(events.ticks(), 1) << "timer events were delivered meanwhile";
    EXPECT_FALSE(dialer.testc());
    EXPECT_THROW(dialer.hangUpAll(), platform::LineUnknown);
}

// ---- A room's line (TALLYON_LINE=lan) --------------------------------------------------------

// The dialer on a room's line: rasdial started by the runner, both it and the line
// learning "online" from the fake nmcli's connectivity.
class DialerOnARoomsLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedChoice = qgetenv("TALLYON_LINE");
        qputenv("TALLYON_LINE", "lan");
        db.exec(QStringLiteral("insert into knumber(kuser, kpassw, useyn, price) values('demo', 'pw', 1, 2)"));
        dialer.discoverEntryName();
    }
    void TearDown() override { qputenv("TALLYON_LINE", savedChoice); }
    void connectivity(const char* answer) const { nm.set(QStringLiteral("connectivity"), QString::fromLatin1(answer)); }
    static platform::LanOptions quickQueries()
    {
        platform::LanOptions options;
        options.queryMilliseconds = 300;
        return options;
    }

    FakeNetworkManager nm;
    QByteArray savedChoice;
    doubles::TempDatabase db;
    platform::LanLine line{quickQueries()};
    tallyon::PipeCommandRunner runner;
    doubles::ScriptedMessageBoxes boxes;
    tallyon::Session session;
    CountingHost host;
    tallyon::Dialer dialer{line, runner, boxes, session, host};
};

TEST_F(DialerOnARoomsLine, OnlineDialStartsTheRowAndHangingUpLeavesTheRoomOnline)
{
    connectivity("full");
    EXPECT_EQ(dialer.entryname(), QStringLiteral("宽带连接"));
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Up);

    dialer.conutionadd();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.prompts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(host.addtimes, 1);
    EXPECT_EQ(session.gprice, 2.0f) << "the account in use still sets the price";

    dialer.hangUpAll();
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Up);
    EXPECT_FALSE(nm.get(QStringLiteral("calls")).contains(QStringLiteral("connection"))) << "nothing activated or downed";
}

TEST_F(DialerOnARoomsLine, OfflineIsADropAndItsDialChargesNothing)
{
    connectivity("none");
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Down);
    dialer.conutionadd();
    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("远程主机没有反应，请你查看一下你的线路是否有问题！")});
    EXPECT_EQ(host.addtimes, 0);

    nm.set(QStringLiteral("hang"), QStringLiteral("networking*"));
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Unknown) << "a hung query is not a drop";
}

// ---- A real NetworkManager -----------------------------------------------------------------

// Run by tests/networkmanager/networkmanager_test.sh inside its own NetworkManager's world,
// which gives the password in HORAVO_NM_DIAL_PASSWORD: the dialer's whole road, Dialer ->
// PipeCommandRunner -> rasdial -> nmcli -> NetworkManager, for a login that an access
// concentrator refuses. Skipped anywhere else.
TEST(DialerOnRealNetworkManager, RefusedLoginShowsItsMessageAndStartsNoUsageRow)
{
    const QString password = qEnvironmentVariable("HORAVO_NM_DIAL_PASSWORD");
    if (password.isEmpty())
        GTEST_SKIP() << "runs only inside tests/networkmanager/networkmanager_test.sh";
    platform::NetworkManagerLine line;
    doubles::TempDatabase db;
    db.exec(QStringLiteral("insert into knumber(kuser, kpassw, useyn, price) values('dialer-user', '%1', 1, 1)")
                .arg(password));
    tallyon::PipeCommandRunner runner;
    doubles::ScriptedMessageBoxes boxes;
    tallyon::Session session;
    CountingHost host;
    tallyon::Dialer dialer{line, runner, boxes, session, host};
    dialer.discoverEntryName();
    ASSERT_EQ(dialer.entryname(), QStringLiteral("宽带连接"));
    dialer.conutionadd();
    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("你的用户名和密码有问题，请你查证后再试！")});
    EXPECT_EQ(host.addtimes, 0) << "no usage row started";
    EXPECT_FALSE(host.started);
    EXPECT_FALSE(dialer.testc());
}

// ---- Accounts reach rasdial whole, whatever they hold -----------------------------------------

struct OddAccount {
    const char* name;
    QString user;
    QString password;
};

class OddAccounts : public DialerOnSimulatedLine, public ::testing::WithParamInterface<OddAccount> {};

TEST_P(OddAccounts, ConnectWhenTheIspAcceptsThem)
{
    ispAccepts(GetParam().user, GetParam().password);
    useAccount(GetParam().user, GetParam().password);
    dialer.discoverEntryName();
    dialer.conutionadd();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.prompts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(host.addtimes, 1);
    EXPECT_EQ(file.read().active.size(), 1);
}

TEST_P(OddAccounts, AreRefusedWithoutAUsageRowWhenTheIspDoesNot)
{
    ispAccepts(GetParam().user, GetParam().password + QStringLiteral("-other"));
    useAccount(GetParam().user, GetParam().password);
    dialer.discoverEntryName();
    dialer.conutionadd();
    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("你的用户名和密码有问题，请你查证后再试！")});
    EXPECT_EQ(host.addtimes, 0);
    EXPECT_TRUE(file.read().active.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Accounts, OddAccounts,
    ::testing::Values(OddAccount{"DisconnectSwitchWithEmptyPassword", QStringLiteral("/D"), QString()},
                      OddAccount{"LongSwitchInLowerCase", QStringLiteral("/disconnect"), QStringLiteral("x")},
                      OddAccount{"SwitchAsPassword", QStringLiteral("demo"), QStringLiteral("/DISCONNECT")},
                      OddAccount{"LeadingDash", QStringLiteral("-x"), QStringLiteral("-p")},
                      OddAccount{"OptionNames", QStringLiteral("--help"), QStringLiteral("--")},
                      OddAccount{"Blanks", QStringLiteral("a b"), QStringLiteral(" c  d ")},
                      OddAccount{"QuotesAndShell", QStringLiteral("'\"$(x)"), QStringLiteral("'\"$(y);|&`id`")},
                      OddAccount{"EmptyFields", QString(), QString()}),
    [](const ::testing::TestParamInfo<OddAccount>& info) { return std::string(info.param.name); });

// ---- The password is on no command line ---------------------------------------------------

// The pids of this process's children whose program is `name`.
QList<qint64> childrenNamed(const QByteArray& name)
{
    QList<qint64> children;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == name && rest.size() > 1 && rest.at(1).toLongLong() == getpid())
            children << pid.toLongLong();
    }
    return children;
}

TEST_F(DialerOnSimulatedLine, PasswordIsNotOnTheRunningCommandLine)
{
    const QString password = QStringLiteral("S3cret-pw");
    ispAccepts(QStringLiteral("demo"), password);
    useAccount(QStringLiteral("demo"), password);
    dialer.discoverEntryName();

    // The line stays locked, so rasdial waits, until its command line has been read.
    QLockFile lineLock(file.path() + QStringLiteral(".lock"));
    ASSERT_TRUE(lineLock.tryLock(0));
    QByteArray commandLine;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QList<qint64> children = childrenNamed("rasdial");
        if (children.isEmpty())
            return;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(children.first()));
        if (cmdline.open(QIODevice::ReadOnly))
            commandLine = cmdline.readAll();
        lineLock.unlock();
        watcher.stop();
    });
    watcher.start(20);

    dialer.conutionadd();

    ASSERT_FALSE(commandLine.isEmpty()) << "rasdial was seen running";
    EXPECT_TRUE(commandLine.contains("demo")) << commandLine.toStdString();
    EXPECT_FALSE(commandLine.contains(password.toUtf8())) << commandLine.toStdString();
    EXPECT_EQ(host.addtimes, 1) << "the dial still went through";
}

// ---- A failed dial leaves no line up ---------------------------------------------------------

TEST_F(DialerOnSimulatedLine, RasdialKilledWithTheLineUpLeavesItDown)
{
    useAccount(QStringLiteral("demo"), QStringLiteral("demo"));
    dialer.discoverEntryName();
    // rasdial waits for the line file, which the test holds locked while it brings the
    // line up and kills rasdial.
    QLockFile lineLock(file.path() + QStringLiteral(".lock"));
    ASSERT_TRUE(lineLock.tryLock(0));
    host.onProgress = [&](const QString&) {
        platform::SimLineState up = platform::SimLineState::demo();
        up.connect(QStringLiteral("宽带连接"));
        QFile raw(file.path());
        if (!lineLock.isLocked() || !raw.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        raw.write(up.toJson());
        raw.close();
        const QList<qint64> rasdial = childrenNamed("rasdial");
        if (rasdial.size() == 1)
            ::kill(pid_t(rasdial.first()), SIGKILL);
        lineLock.unlock();
    };
    dialer.conutionadd();
    EXPECT_EQ(boxes.prompts(),
              QStringList{QStringLiteral("拨号失败：rasdial 被信号 9 (SIGKILL) 终止。\n正在连接到 宽带连接...")});
    EXPECT_TRUE(file.read().active.isEmpty()) << "hung up, so no tick bills it";
}

} // namespace
