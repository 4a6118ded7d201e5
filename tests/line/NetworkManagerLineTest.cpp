#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "platform/line/NetworkManagerLine.h"
#include "tests/doubles/EventProbe.h"
#include "tests/line/FakeNetworkManager.h"

namespace {

using platform::DialStage;
using platform::NetworkManagerLine;
namespace lineerror = platform::lineerror;

const QString kBroadband = QStringLiteral("宽带连接");
const QString kProfiles = QStringLiteral("Wired connection 1:802-3-ethernet\n宽带连接:pppoe\nDSL\\: home:pppoe\n");

class NetworkManagerTest : public ::testing::Test {
protected:
    NetworkManagerTest()
    {
        nm.set(QStringLiteral("profiles"), kProfiles);
        nm.set(QStringLiteral("parent"), QStringLiteral("eth9\n"));
        options.sysClassNet = sys.path();
        options.probeMilliseconds = 3000;
    }

    void setCarrier(const char* value)
    {
        QDir(sys.path()).mkpath(QStringLiteral("eth9"));
        QFile file(sys.path() + QStringLiteral("/eth9/carrier"));
        file.open(QIODevice::WriteOnly);
        file.write(value);
    }

    platform::DialResult dial(const QString& entry = kBroadband)
    {
        NetworkManagerLine line(options);
        return line.dial(entry, QStringLiteral("demo"), QStringLiteral("s3cret pw"),
                         [this](DialStage stage) { stages.push_back(stage); });
    }
    bool activated() const
    {
        return nm.get(QStringLiteral("calls")).contains(QStringLiteral("connection up"));
    }

    FakeNetworkManager nm;
    QTemporaryDir sys;
    platform::NetworkManagerOptions options;
    std::vector<DialStage> stages;
};

// ---- Listings and hang-up -----------------------------------------------------------------

TEST_F(NetworkManagerTest, EntriesAreThePppoeProfilesInListingOrder)
{
    NetworkManagerLine line(options);
    EXPECT_EQ(line.phonebookEntries(), (QStringList{kBroadband, QStringLiteral("DSL: home")}));
}

TEST_F(NetworkManagerTest, ActiveConnectionsAreThePppoeOnesWithTheirPaths)
{
    nm.set(QStringLiteral("active"),
           QStringLiteral("Wired connection 1:802-3-ethernet:/org/freedesktop/NetworkManager/ActiveConnection/1\n"
                          "宽带连接:pppoe:/org/freedesktop/NetworkManager/ActiveConnection/5\n"));
    NetworkManagerLine line(options);
    const QList<platform::ActiveConnection> active = line.activeConnections();
    ASSERT_EQ(active.size(), 1);
    EXPECT_EQ(active[0].entryName, kBroadband);
    EXPECT_EQ(active[0].handle, QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/5"));

    line.hangUp(active[0].handle);
    EXPECT_EQ(nm.get(QStringLiteral("downed")), QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/5\n"));
}

TEST_F(NetworkManagerTest, WithoutNetworkManagerNothingIsListedAndDialingFailsWith711)
{
    nm.set(QStringLiteral("not-running"), QString());
    NetworkManagerLine line(options);
    EXPECT_TRUE(line.phonebookEntries().isEmpty());
    EXPECT_THROW(line.activeConnections(), platform::LineUnknown);
    EXPECT_EQ(dial().error, lineerror::kServiceUnavailable);
    EXPECT_FALSE(activated());
}

TEST_F(NetworkManagerTest, WithoutNmcliNothingIsListedAndDialingFailsWith711)
{
    QFile::remove(nm.bin() + QStringLiteral("/nmcli"));
    qputenv("PATH", nm.bin().toUtf8());
    NetworkManagerLine line(options);
    EXPECT_TRUE(line.phonebookEntries().isEmpty());
    EXPECT_THROW(line.activeConnections(), platform::LineUnknown);
    EXPECT_EQ(dial().error, lineerror::kServiceUnavailable);
}

TEST_F(NetworkManagerTest, HungQueryIsUnknownWithinTheLimitWhileEventsRun)
{
    nm.set(QStringLiteral("hang"), QStringLiteral("*--active*"));
    options.queryMilliseconds = 300;
    NetworkManagerLine line(options);
    const doubles::EventProbe events;
    QElapsedTimer clock;
    clock.start();

    EXPECT_THROW(line.activeConnections(), platform::LineUnknown);

    EXPECT_LT(clock.elapsed(), 30000) << "the hung nmcli was not waited for";
    EXPECT_GE(events.ticks(), 1) << "timer events were delivered while the query waited";
}

TEST_F(NetworkManagerTest, FailedQueryIsUnknownNotAnEmptyLine)
{
    nm.set(QStringLiteral("not-running"), QString());
    NetworkManagerLine line(options);
    try {
        line.activeConnections();
        ADD_FAILURE() << "a failed query is no answer";
    } catch (const platform::LineUnknown& unknown) {
        EXPECT_TRUE(unknown.message().contains(QStringLiteral("NetworkManager is not running")))
            << unknown.message().toStdString();
    }
}

// ---- Dialing ---------------------------------------------------------------------------------

TEST_F(NetworkManagerTest, DialSetsTheAccountForThisActivationAndKeepsThePasswordPrivate)
{
    const platform::DialResult result = dial();

    EXPECT_TRUE(result.connected()) << result.detail.toStdString();
    EXPECT_FALSE(result.alreadyConnected);
    EXPECT_EQ(stages, (std::vector<DialStage>{DialStage::Connecting, DialStage::Authenticating,
                                              DialStage::Registering}));
    EXPECT_EQ(nm.get(QStringLiteral("modified")),
              QStringLiteral("uuid-2 pppoe.username demo pppoe.password-flags 2\n"));
    EXPECT_EQ(nm.get(QStringLiteral("secrets")), QStringLiteral("pppoe.password:s3cret pw\n"));
    EXPECT_EQ(nm.get(QStringLiteral("secrets-kind")), QStringLiteral("pipe\n")) << "never a file on the disk";
    EXPECT_FALSE(nm.get(QStringLiteral("calls")).contains(QStringLiteral("s3cret")))
        << "the password never appears on a command line";
    EXPECT_TRUE(nm.calls().contains(QStringLiteral("--wait 60 connection up uuid uuid-2 passwd-file /dev/stdin")));
}

TEST_F(NetworkManagerTest, UnknownOrNonPppoeEntryIs623)
{
    EXPECT_EQ(dial(QStringLiteral("拨号")).error, lineerror::kNoSuchEntry);
    EXPECT_EQ(dial(QStringLiteral("Wired connection 1")).error, lineerror::kNoSuchEntry);
    EXPECT_FALSE(activated());
}

TEST_F(NetworkManagerTest, ProfileVanishingDuringTheDialIs623)
{
    nm.set(QStringLiteral("up-exit"), QStringLiteral("10"));
    EXPECT_EQ(dial().error, lineerror::kNoSuchEntry);
}

TEST_F(NetworkManagerTest, ActiveEntryIsAlreadyConnected)
{
    nm.set(QStringLiteral("active"), QStringLiteral("宽带连接:pppoe:/org/freedesktop/NetworkManager/ActiveConnection/5\n"));
    const platform::DialResult result = dial();
    EXPECT_TRUE(result.connected());
    EXPECT_TRUE(result.alreadyConnected);
    EXPECT_FALSE(activated());
}

TEST_F(NetworkManagerTest, FailureWithAnAnsweringConcentratorIs691)
{
    nm.set(QStringLiteral("up-exit"), QStringLiteral("4"));
    setCarrier("1\n");
    nm.set(QStringLiteral("discovery"), QStringLiteral("Access-Concentrator: bras-7\nGot a cookie: 01 02\n"));
    EXPECT_EQ(dial().error, lineerror::kAuthenticationRefused);
    EXPECT_EQ(nm.get(QStringLiteral("discovery-calls")), QStringLiteral("-I eth9\n"));
    EXPECT_EQ(stages, (std::vector<DialStage>{DialStage::Connecting, DialStage::Authenticating}));
}

TEST_F(NetworkManagerTest, FailureWithNoConcentratorIs678)
{
    nm.set(QStringLiteral("up-exit"), QStringLiteral("3"));
    nm.set(QStringLiteral("discovery"), QStringLiteral("Timeout waiting for PADO packets\n"));
    nm.set(QStringLiteral("discovery-exit"), QStringLiteral("1"));
    EXPECT_EQ(dial().error, lineerror::kNoAnswer);
}

TEST_F(NetworkManagerTest, FailureWithTheCableOutIs678WithoutAProbe)
{
    nm.set(QStringLiteral("up-exit"), QStringLiteral("4"));
    setCarrier("0\n");
    nm.set(QStringLiteral("discovery"), QStringLiteral("Access-Concentrator: bras-7\n"));
    EXPECT_EQ(dial().error, lineerror::kNoAnswer);
    EXPECT_FALSE(nm.has(QStringLiteral("discovery-calls")));
}

// What NetworkManager 1.42 says when the cable is out before the dial (seen in
// tests/networkmanager): it finds no device, since the profile's has no carrier.
TEST_F(NetworkManagerTest, NoDeviceBecauseTheCableIsOutIs678)
{
    nm.set(QStringLiteral("up-exit"), QStringLiteral("4"));
    nm.set(QStringLiteral("up-error"),
           QStringLiteral("Error: Connection activation failed: No suitable device found for this connection "
                          "(device eth9 not available because device has no carrier).\n"));
    setCarrier("0\n");
    EXPECT_EQ(dial().error, lineerror::kNoAnswer);
    EXPECT_FALSE(nm.has(QStringLiteral("discovery-calls")));

    setCarrier("1\n");
    EXPECT_EQ(dial().error, lineerror::kNoSuitableDevice) << "with carrier, no device is a set-up failure";
}

TEST_F(NetworkManagerTest, FailureThatCannotBeProbedIs691WhileTheCableIsIn)
{
    nm.set(QStringLiteral("up-exit"), QStringLiteral("4"));
    setCarrier("1\n");
    options.discoveryProgram = QStringLiteral("horavo-no-such-discovery");
    EXPECT_EQ(dial().error, lineerror::kAuthenticationRefused);

    nm.set(QStringLiteral("discovery"), QStringLiteral("socket: Operation not permitted\n"));
    nm.set(QStringLiteral("discovery-exit"), QStringLiteral("1"));
    options.discoveryProgram = QStringLiteral("pppoe-discovery");
    EXPECT_EQ(dial().error, lineerror::kAuthenticationRefused);
}

// ---- Failures of the set-up, not of PPP ----------------------------------------------------

struct SetUpFailure {
    const char* name;
    const char* step;   // "up" or "modify"
    QString said;       // what nmcli says on standard error
    int expected;
};

class SetUpFailures : public NetworkManagerTest, public ::testing::WithParamInterface<SetUpFailure> {};

TEST_P(SetUpFailures, HaveTheirOwnNumbersAndAreNotProbed)
{
    const QString step = QString::fromLatin1(GetParam().step);
    nm.set(step + QStringLiteral("-exit"), step == QLatin1String("up") ? QStringLiteral("4") : QStringLiteral("1"));
    nm.set(step + QStringLiteral("-error"), GetParam().said);
    setCarrier("1\n");
    nm.set(QStringLiteral("discovery"), QStringLiteral("Access-Concentrator: bras-7\n"));
    EXPECT_EQ(dial().error, GetParam().expected);
    EXPECT_FALSE(nm.has(QStringLiteral("discovery-calls")));
}

INSTANTIATE_TEST_SUITE_P(
    NmcliMessages, SetUpFailures,
    ::testing::Values(
        SetUpFailure{"NoDevice", "up", QStringLiteral("Error: Connection activation failed: No suitable device found for this connection.\n"),
                     lineerror::kNoSuitableDevice},
        SetUpFailure{"ProfileDoesNotFit", "up",
                     QStringLiteral("Error: Connection activation failed: No suitable device found for this connection "
                                    "(device eth0 not available because profile is not compatible with device "
                                    "(mismatching interface name)).\n"),
                     lineerror::kProfileDoesNotFitDevice},
        SetUpFailure{"NotAuthorizedToActivate", "up",
                     QStringLiteral("Error: Connection activation failed: Not authorized to control networking.\n"),
                     lineerror::kNotAuthorized},
        SetUpFailure{"InsufficientPrivilegesToModify", "modify",
                     QStringLiteral("Error: Failed to modify connection '宽带连接': Insufficient privileges\n"),
                     lineerror::kNotAuthorized}),
    [](const ::testing::TestParamInfo<SetUpFailure>& info) { return std::string(info.param.name); });

// ---- Two profiles of one name --------------------------------------------------------------

class SameNameProfiles : public NetworkManagerTest {
protected:
    SameNameProfiles()
    {
        nm.set(QStringLiteral("profiles"), QStringLiteral("宽带连接:pppoe:uuid-a:eth7\n宽带连接:pppoe:uuid-b:eth9\n"));
    }
    void presentDevice(const QString& name) { QDir(sys.path()).mkpath(name); }
};

TEST_F(SameNameProfiles, TheOneThatFitsAPresentDeviceIsDialedByItsUuid)
{
    presentDevice(QStringLiteral("eth9"));
    NetworkManagerLine line(options);
    EXPECT_EQ(line.phonebookEntries(), QStringList{kBroadband}) << "one entry for one name";

    EXPECT_TRUE(dial().connected());
    EXPECT_TRUE(nm.get(QStringLiteral("modified")).startsWith(QStringLiteral("uuid-b ")));
    EXPECT_TRUE(nm.calls().contains(QStringLiteral("--wait 60 connection up uuid uuid-b passwd-file /dev/stdin")));
}

TEST_F(SameNameProfiles, OnlyTheChosenOneIsWatched)
{
    presentDevice(QStringLiteral("eth9"));
    nm.set(QStringLiteral("active"), QStringLiteral("宽带连接:pppoe:/org/freedesktop/NetworkManager/ActiveConnection/3:uuid-a\n"));
    NetworkManagerLine line(options);
    EXPECT_TRUE(line.activeConnections().isEmpty()) << "the other profile of that name is not our line";
    EXPECT_FALSE(dial().alreadyConnected);

    const QList<platform::ActiveConnection> active = line.activeConnections();
    ASSERT_EQ(active.size(), 1);
    EXPECT_EQ(active[0].handle, QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/7"));
}

TEST_F(SameNameProfiles, NoneOrSeveralFittingAreSetUpFailures)
{
    EXPECT_EQ(dial().error, lineerror::kNoSuitableDevice);
    presentDevice(QStringLiteral("eth7"));
    presentDevice(QStringLiteral("eth9"));
    EXPECT_EQ(dial().error, lineerror::kAmbiguousEntry);
    EXPECT_FALSE(activated());
}

} // namespace
