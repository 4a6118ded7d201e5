// The dialer with its real parts: the pipe command runner starts the rasdial built
// beside the tests, which dials the simulated line that the dialer then watches.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "main_program/common/Session.h"
#include "main_program/dialer/Dialer.h"
#include "main_program/dialer/PipeCommandRunner.h"
#include "platform/line/SimLine.h"
#include "tests/doubles/ScriptedMessageBoxes.h"
#include "tests/doubles/TempDatabase.h"

namespace {

class CountingHost final : public tallyon::DialerHost {
public:
    int addtimes = 0;
    bool started = false;
    void addtime() override { ++addtimes; }
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
        db.exec(QStringLiteral("insert into knumber(kuser, kpassw, useyn, price) values('%1', '%2', 1, 1)")
                    .arg(user, password));
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
    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("拨号失败，错误 623。")});
    EXPECT_EQ(host.addtimes, 0);
}

} // namespace
