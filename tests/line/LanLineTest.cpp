// The line of a room behind a router (TALLYON_LINE=lan): online by NetworkManager's
// connectivity through the fake nmcli, else by routing tables written to a folder of the
// test's, and rasdial run on it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "platform/line/LanLine.h"
#include "platform/line/MakeLineService.h"
#include "tests/doubles/EventProbe.h"
#include "tests/line/FakeNetworkManager.h"

namespace {

using platform::LanLine;
namespace lineerror = platform::lineerror;

const QString kBroadband = QStringLiteral("宽带连接");

// Rows as the kernel writes them: a LAN route, and for IPv6 the loopback's reject
// default route that every machine has.
const QByteArray kIpv4Heading =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
const QByteArray kIpv4Lan = "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
const QByteArray kIpv4Default = "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
const QByteArray kIpv4Unreachable = "*\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n";
const QByteArray kIpv6Lan = "fd000000000000000000000000000000 40 00000000000000000000000000000000 00 "
                            "00000000000000000000000000000000 00000100 00000001 00000000 00000001     eth0\n";
const QByteArray kIpv6LoopbackReject = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                       "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";
const QByteArray kIpv6Default = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                "fe800000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n";

class RoomLine : public ::testing::Test {
protected:
    RoomLine()
    {
        options.ipv4Routes = routes.filePath(QStringLiteral("route"));
        options.ipv6Routes = routes.filePath(QStringLiteral("ipv6_route"));
        options.queryMilliseconds = 300;
        writeRoutes(kIpv4Heading + kIpv4Lan, kIpv6Lan + kIpv6LoopbackReject);
    }

    void writeRoutes(const QByteArray& ipv4, const QByteArray& ipv6) const
    {
        writeFile(options.ipv4Routes, ipv4);
        writeFile(options.ipv6Routes, ipv6);
    }
    static void writeFile(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    void connectivity(const QString& answer) const { nm.set(QStringLiteral("connectivity"), answer + u'\n'); }

    platform::OnlineState check() const
    {
        return platform::DefaultRouteCheck(options.ipv4Routes, options.ipv6Routes).check();
    }
    bool online()
    {
        LanLine line(options);
        return !line.activeConnections().isEmpty();
    }
    platform::DialResult dial(const QString& entry = kBroadband)
    {
        LanLine line(options);
        return line.dial(entry, QStringLiteral("demo"), QStringLiteral("pw"), {});
    }
    // Every call the fake nmcli got asked for the connectivity: nothing was activated,
    // changed or taken down.
    bool onlyAskedForConnectivity() const
    {
        for (const QString& call : nm.calls()) {
            if (call != QLatin1String("networking connectivity"))
                return false;
        }
        return true;
    }

    FakeNetworkManager nm;
    QTemporaryDir routes;
    platform::LanOptions options;
};

// ---- The kernel's default route ------------------------------------------------------------

TEST_F(RoomLine, DefaultRouteOfEitherFamilyIsOnline)
{
    EXPECT_FALSE(check().online) << "a LAN route and the loopback's reject route are no way out";
    EXPECT_EQ(check().evidence, QStringLiteral("没有默认路由"));

    writeRoutes(kIpv4Heading + kIpv4Default + kIpv4Lan, kIpv6Lan + kIpv6LoopbackReject);
    EXPECT_TRUE(check().online);
    EXPECT_EQ(check().evidence, QStringLiteral("有 IPv4 默认路由（eth0）"));

    writeRoutes(kIpv4Heading + kIpv4Lan, kIpv6Default + kIpv6Lan + kIpv6LoopbackReject);
    EXPECT_TRUE(check().online) << "an IPv6 default route alone is a way out";
    EXPECT_EQ(check().evidence, QStringLiteral("有 IPv6 默认路由（eth0）"));

    writeRoutes(kIpv4Heading + kIpv4Unreachable + kIpv4Lan, kIpv6LoopbackReject);
    EXPECT_FALSE(check().online) << "an unreachable default route";
}

TEST_F(RoomLine, MissingRoutingTableCountsAsNoRouteUnlessBothAreMissing)
{
    writeFile(options.ipv4Routes, kIpv4Heading + kIpv4Default);
    QFile::remove(options.ipv6Routes); // a kernel without IPv6
    EXPECT_TRUE(check().online);

    writeFile(options.ipv4Routes, kIpv4Heading + kIpv4Lan);
    EXPECT_FALSE(check().online);

    QFile::remove(options.ipv4Routes);
    EXPECT_THROW(check(), platform::LineUnknown);
}

// ---- NetworkManager's connectivity --------------------------------------------------------

TEST_F(RoomLine, OnlyFullConnectivityIsOnlineWhateverTheRoutes)
{
    writeRoutes(kIpv4Heading + kIpv4Default, kIpv6Default);
    for (const char* offline : {"none", "limited", "portal"}) {
        connectivity(QString::fromLatin1(offline));
        EXPECT_FALSE(online()) << offline;
    }
    writeRoutes(kIpv4Heading + kIpv4Lan, kIpv6LoopbackReject);
    connectivity(QStringLiteral("full"));
    EXPECT_TRUE(online());
}

TEST_F(RoomLine, NmcliIsAskedInTheCLocaleSoItsWordsAreNotTranslated)
{
    const QByteArray savedLocale = qgetenv("LC_ALL");
    const auto restoreLocale = qScopeGuard([&savedLocale] { qputenv("LC_ALL", savedLocale); });
    qputenv("LC_ALL", "zh_CN.UTF-8");
    nm.set(QStringLiteral("translates"), QString());
    connectivity(QStringLiteral("full"));
    EXPECT_TRUE(online()) << "\"full\", not \"完全\"";

    nm.set(QStringLiteral("no-bus"), QString());
    writeRoutes(kIpv4Heading + kIpv4Default, {});
    EXPECT_TRUE(online()) << "no system bus is known by nmcli's English message";
}

TEST_F(RoomLine, WhereNetworkManagerCannotSayTheDefaultRouteDecides)
{
    const auto bothWays = [this](const char* why) {
        writeRoutes(kIpv4Heading + kIpv4Lan, kIpv6LoopbackReject);
        EXPECT_FALSE(online()) << why;
        writeRoutes(kIpv4Heading + kIpv4Default, kIpv6LoopbackReject);
        EXPECT_TRUE(online()) << why;
    };
    connectivity(QStringLiteral("unknown"));
    bothWays("connectivity unknown");

    nm.set(QStringLiteral("not-running"), QString());
    bothWays("NetworkManager not running");

    nm.set(QStringLiteral("no-bus"), QString());
    bothWays("no system bus");

    QFile::remove(nm.bin() + QStringLiteral("/nmcli"));
    qputenv("PATH", nm.bin().toUtf8());
    bothWays("no nmcli");
}

TEST_F(RoomLine, HungNmcliIsUnknownWithinTheLimitWhileEventsRun)
{
    writeRoutes(kIpv4Heading + kIpv4Default, kIpv6Default);
    nm.set(QStringLiteral("hang"), QStringLiteral("networking*"));
    LanLine line(options);
    const doubles::EventProbe events;
    QElapsedTimer clock;
    clock.start();

    try {
        line.activeConnections();
        ADD_FAILURE() << "not down, and not guessed from the routes";
    } catch (const platform::LineUnknown& unknown) {
        EXPECT_EQ(unknown.message(), QStringLiteral("无法得知本机是否连上网络：nmcli 在 300 毫秒内没有回答"));
    }

    EXPECT_LT(clock.elapsed(), 10000) << "the hung nmcli was not waited for";
    EXPECT_GE(events.ticks(), 1) << "timer events were delivered while the query waited";
    EXPECT_TRUE(nm.has(QStringLiteral("hung-pids"))) << "nmcli was asked";
}

TEST_F(RoomLine, FailedOrUnreadableAnswerIsUnknown)
{
    writeRoutes(kIpv4Heading + kIpv4Default, kIpv6Default);
    nm.set(QStringLiteral("connectivity-exit"), QStringLiteral("1"));
    EXPECT_THROW(online(), platform::LineUnknown);
    QFile::remove(nm.path(QStringLiteral("connectivity-exit")));
    connectivity(QStringLiteral("sehr gut"));
    EXPECT_THROW(online(), platform::LineUnknown);
}

// ---- The line --------------------------------------------------------------------------------

TEST_F(RoomLine, OneEntryConnectedWhileOnlineAndHangingUpLeavesItUp)
{
    LanLine line(options);
    connectivity(QStringLiteral("full"));
    const QList<platform::ActiveConnection> connections = line.activeConnections();
    ASSERT_EQ(connections.size(), 1);
    EXPECT_EQ(connections[0].entryName, kBroadband);
    EXPECT_EQ(connections[0].handle, QStringLiteral("lan"));
    line.hangUp(connections[0].handle);
    EXPECT_EQ(line.activeConnections().size(), 1);

    connectivity(QStringLiteral("none"));
    EXPECT_TRUE(line.activeConnections().isEmpty());
    EXPECT_EQ(line.phonebookEntries(), QStringList{kBroadband}) << "offline, the entry stays";
}

TEST_F(RoomLine, DialFailsWhenOfflineUnknownOrAnotherEntry)
{
    connectivity(QStringLiteral("none"));
    const platform::DialResult offline = dial();
    EXPECT_EQ(offline.error, lineerror::kNoAnswer);
    EXPECT_EQ(offline.detail, QStringLiteral("本机没有连上网络：NetworkManager 报告网络连通性为 none"));

    nm.set(QStringLiteral("not-running"), QString());
    EXPECT_EQ(dial().detail, QStringLiteral("本机没有连上网络：没有默认路由"));

    QFile::remove(nm.path(QStringLiteral("not-running")));
    nm.set(QStringLiteral("hang"), QStringLiteral("networking*"));
    const platform::DialResult unknown = dial();
    EXPECT_EQ(unknown.error, lineerror::kServiceUnavailable);
    EXPECT_TRUE(unknown.detail.contains(QStringLiteral("没有回答"))) << unknown.detail.toStdString();

    QFile::remove(nm.path(QStringLiteral("hang")));
    connectivity(QStringLiteral("full"));
    EXPECT_EQ(dial(QStringLiteral("别的连接")).error, lineerror::kNoSuchEntry);
}

TEST(LineChoice, LanIsChosenAndNamedAmongTheChoices)
{
    FakeNetworkManager nm;
    nm.set(QStringLiteral("connectivity"), QStringLiteral("full\n"));
    const std::unique_ptr<platform::DialableLine> line = platform::makeLineService(QStringLiteral("lan"));
    ASSERT_NE(dynamic_cast<LanLine*>(line.get()), nullptr);
    EXPECT_EQ(line->activeConnections().size(), 1) << "on the nmcli found on PATH";
    try {
        platform::makeLineService(QStringLiteral("LAN"));
        ADD_FAILURE() << "the choice is written in lower case";
    } catch (const platform::LineChoiceError& error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("networkmanager、lan 或 sim:文件")))
            << error.message().toStdString();
    }
}

// ---- rasdial on the room's line ------------------------------------------------------------

struct RasdialRun {
    int exitCode = -1;
    QString output;
    QString errors;
};

// rasdial from the build's bin folder with TALLYON_LINE=lan, on the fake nmcli.
RasdialRun rasdial(const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TALLYON_LINE"), QStringLiteral("lan"));
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/rasdial"), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST_F(RoomLine, RasdialConnectsListsAndHangsUpNothingWhileOnline)
{
    connectivity(QStringLiteral("full"));
    const RasdialRun dialed =
        rasdial({QStringLiteral("--password-stdin"), QStringLiteral("--"), kBroadband, QStringLiteral("demo")}, "pw\n");
    EXPECT_EQ(dialed.exitCode, 0) << dialed.errors.toStdString();
    EXPECT_EQ(dialed.output, QStringLiteral("正在连接到 宽带连接...\n已连接 宽带连接。\n命令已完成。\n"));

    EXPECT_EQ(rasdial({}).output, QStringLiteral("已连接\n宽带连接\n命令已完成。\n"));
    const RasdialRun hungUp = rasdial({kBroadband, QStringLiteral("/DISCONNECT")});
    EXPECT_EQ(hungUp.exitCode, 0);
    EXPECT_EQ(hungUp.output, QStringLiteral("命令已完成。\n"));
    EXPECT_EQ(rasdial({}).output, QStringLiteral("已连接\n宽带连接\n命令已完成。\n")) << "still up";
    EXPECT_TRUE(onlyAskedForConnectivity()) << nm.calls().join(u'|').toStdString();
}

TEST_F(RoomLine, RasdialOfflineIs678)
{
    connectivity(QStringLiteral("none"));
    const RasdialRun offline = rasdial({kBroadband, QStringLiteral("demo"), QStringLiteral("pw")});
    EXPECT_EQ(offline.exitCode, 1);
    EXPECT_TRUE(offline.output.endsWith(QStringLiteral("远程访问错误 678 - 远程计算机没有响应。\n")))
        << offline.output.toStdString();
    EXPECT_TRUE(offline.errors.contains(QStringLiteral("本机没有连上网络"))) << offline.errors.toStdString();
    EXPECT_EQ(rasdial({}).output, QStringLiteral("没有连接\n命令已完成。\n"));
    EXPECT_TRUE(rasdial({QStringLiteral("--help")}).output.contains(QStringLiteral("lan (路由器拨号，本机只计时)")));
}

} // namespace
