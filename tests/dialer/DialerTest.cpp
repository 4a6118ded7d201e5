#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "main_program/common/Session.h"
#include "main_program/dialer/Dialer.h"
#include "store/StoreError.h"
#include "tests/doubles/FakeCommandRunner.h"
#include "tests/doubles/FakeLineService.h"
#include "tests/doubles/ScriptedMessageBoxes.h"
#include "tests/doubles/TempDatabase.h"

namespace {

const QString kBroadband = QStringLiteral("宽带连接");
const QString kNoAnswerMessage = QStringLiteral("远程主机没有反应，请你查看一下你的线路是否有问题！");
const QString kRefusedMessage = QStringLiteral("你的用户名和密码有问题，请你查证后再试！");
const QString kEmptyTableMessage = QStringLiteral("对不起，卡号记录为空，请你用管理员的身份登录添加！");

class RecordingHost final : public tallyon::DialerHost {
public:
    int addtimes = 0;
    bool started = false;
    int interval = -1;
    int loginWindowsShown = 0;
    int unloadRequests = 0;
    QStringList log;

    void addtime() override { ++addtimes; }
    void logEvent(const QString& line) override { log << line; }
    void setStarted(bool value) override { started = value; }
    void setTimerInterval(int milliseconds) override { interval = milliseconds; }
    void showLoginWindow() override { ++loginWindowsShown; }
    void requestUnload() override { ++unloadRequests; }
};

class DialerTest : public ::testing::Test {
protected:
    void addAccount(const QString& user, const QString& password, const QString& useyn,
                    const QString& price)
    {
        db.exec(QStringLiteral("insert into knumber(kuser, kpassw, useyn, price) values('%1', '%2', %3, %4)")
                    .arg(user, password, useyn, price));
    }

    bool connectedAsBefore() const
    {
        return host.addtimes == 1 && host.started && host.interval == 60000;
    }
    bool untouchedHost() const
    {
        return host.addtimes == 0 && !host.started && host.interval == -1
            && host.loginWindowsShown == 0 && host.unloadRequests == 0;
    }

    doubles::TempDatabase db;
    doubles::FakeLineService line;
    doubles::FakeCommandRunner runner;
    doubles::ScriptedMessageBoxes boxes;
    tallyon::Session session;
    RecordingHost host;
    tallyon::Dialer dialer{line, runner, boxes, session, host};
};

// ---- Classifying what rasdial wrote ------------------------------------------------

struct Outcome {
    const char* name;
    QString output;
    QString message; // empty: counts as connected
    int exitCode = 0;
    int signal = 0;  // not 0: rasdial was killed by this signal
};

class DialOutcome : public DialerTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(DialOutcome, ShowsTheMessageOrStartsRecording)
{
    addAccount(QStringLiteral("demo"), QStringLiteral("demo"), QStringLiteral("1"), QStringLiteral("1.5"));
    runner.output = GetParam().output;
    runner.exitCode = GetParam().exitCode;
    if (GetParam().signal != 0) {
        runner.end = tallyon::CommandResult::End::Signaled;
        runner.signal = GetParam().signal;
    }

    dialer.conutionadd();

    if (GetParam().message.isEmpty()) {
        EXPECT_TRUE(boxes.shown.empty()) << boxes.prompts().join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(connectedAsBefore());
    } else {
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.last().prompt, GetParam().message);
        EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
        EXPECT_EQ(boxes.last().buttons, platform::Buttons::Ok);
        EXPECT_TRUE(untouchedHost()) << "no usage row, recording flag and timer left alone";
    }
    EXPECT_FLOAT_EQ(session.gprice, 1.5f) << "the price is set whatever the outcome";
}

INSTANTIATE_TEST_SUITE_P(
    ClassificationTable, DialOutcome,
    ::testing::Values(
        Outcome{"NoAnswer", QStringLiteral("正在连接到 宽带连接...\n远程访问错误 678 - 远程计算机没有响应。\n"),
                kNoAnswerMessage},
        Outcome{"RefusedInsideALongerLine",
                QStringLiteral("正在验证用户名及密码...\n远程访问错误 691 - 因为用户名和/或密码在此域上无效，所以拒绝访问。"),
                kRefusedMessage},
        Outcome{"BothNumbersGive678", QStringLiteral("错误 691 然后 错误 678"), kNoAnswerMessage},
        Outcome{"Connected", QStringLiteral("已连接 宽带连接。\n命令已完成。"), QString()},
        Outcome{"EmptyOutput", QString(), QString()},
        Outcome{"NumberWithoutBlankIsNoError", QStringLiteral("远程访问错误691"), QString()},
        Outcome{"RunnerCouldNotStartTheProgram", QStringLiteral("File   or   command   not   found"),
                QStringLiteral("无法启动拨号程序 rasdial：File   or   command   not   found")},
        Outcome{"RunnerCouldNotMakeThePipe", QStringLiteral("CreatePipe   failed.   Error:   24."),
                QStringLiteral("无法启动拨号程序 rasdial：CreatePipe   failed.   Error:   24.")},
        Outcome{"NoSuchEntry", QStringLiteral("远程访问错误 623 - 系统无法找到此连接的电话簿项。"),
                QStringLiteral("拨号失败，错误 623。\n远程访问错误 623 - 系统无法找到此连接的电话簿项。"), 1},
        Outcome{"ServiceDown", QStringLiteral("正在连接到 宽带连接...\n远程访问错误 711 - x\n"),
                QStringLiteral("拨号失败，错误 711。\n远程访问错误 711 - x"), 1},
        Outcome{"NotAllowedToChangeConnections",
                QStringLiteral("正在验证用户名及密码...\n远程访问错误 1104 - 你没有更改网络连接的权限。\n"),
                QStringLiteral("拨号失败，错误 1104。\n远程访问错误 1104 - 你没有更改网络连接的权限。"), 1},
        Outcome{"NoAnswerWithItsExitStatus", QStringLiteral("远程访问错误 678 - 远程计算机没有响应。"),
                kNoAnswerMessage, 1},
        Outcome{"RefusedWithItsExitStatus", QStringLiteral("远程访问错误 691 - 拒绝访问。"), kRefusedMessage, 1},
        Outcome{"ConnectedTextButFailingExit", QStringLiteral("已连接 宽带连接。\n命令已完成。"),
                QStringLiteral("拨号失败：rasdial 的退出码为 1。\n命令已完成。"), 1},
        Outcome{"KilledBySignal", QStringLiteral("正在连接到 宽带连接..."),
                QStringLiteral("拨号失败：rasdial 被信号 9 (SIGKILL) 终止。\n正在连接到 宽带连接..."), 0, 9},
        Outcome{"KilledSilently", QString(), QStringLiteral("拨号失败：rasdial 被信号 15 (SIGTERM) 终止。"), 0, 15},
        Outcome{"LoaderError",
                QStringLiteral("rasdial: error while loading shared libraries: libQt6Core.so.6: cannot open shared "
                               "object file: No such file or directory"),
                QStringLiteral("拨号失败：rasdial 的退出码为 127。\nrasdial: error while loading shared libraries: "
                               "libQt6Core.so.6: cannot open shared object file: No such file or directory"),
                127}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

TEST_F(DialerTest, RunnerFailureTextInsideRealOutputIsNotAStartFailure)
{
    addAccount(QStringLiteral("demo"), QStringLiteral("demo"), QStringLiteral("1"), QStringLiteral("1"));
    runner.output = QStringLiteral("已连接。File   or   command   not   found");
    dialer.conutionadd();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(connectedAsBefore());
}

// ---- A failed dial leaves no line up ---------------------------------------------------

TEST_F(DialerTest, FailedDialHangsUpWhatItLeftUpOrSaysItCannot)
{
    line.entries = {kBroadband};
    dialer.discoverEntryName();
    addAccount(QStringLiteral("demo"), QStringLiteral("demo"), QStringLiteral("1"), QStringLiteral("1"));
    line.connect(QStringLiteral("VPN"), QStringLiteral("7"));
    runner.onRun = [this] { line.connect(kBroadband, QStringLiteral("8")); }; // up, then rasdial killed
    runner.end = tallyon::CommandResult::End::Signaled;
    runner.signal = 9;
    const QString killed = QStringLiteral("拨号失败：rasdial 被信号 9 (SIGKILL) 终止。");

    dialer.conutionadd();
    EXPECT_EQ(line.hungUp, QStringList{QStringLiteral("8")}) << "the dialed entry's only";
    EXPECT_EQ(boxes.prompts(), QStringList{killed});
    EXPECT_EQ(host.log.last(), QStringLiteral("挂断 宽带连接（连接 8）：拨号失败"));

    line.hangUpFails = true;
    dialer.conutionadd();
    EXPECT_EQ(boxes.last().prompt, killed + QStringLiteral("\n但宽带连接仍然连着，没能挂断：连着的时间照常计时。"));
    runner.onRun = [this] { line.unknown = true; };
    dialer.conutionadd();
    EXPECT_TRUE(boxes.last().prompt.startsWith(killed + QStringLiteral("\n无法得知宽带连接是否已经断开")));
    EXPECT_TRUE(untouchedHost());
}

// ---- Choosing the account and the price ----------------------------------------------

TEST_F(DialerTest, DialsTheFirstAccountInUseWithTheExactCommandLine)
{
    line.entries = {kBroadband};
    dialer.discoverEntryName();
    addAccount(QStringLiteral("off"), QStringLiteral("x"), QStringLiteral("0"), QStringLiteral("9"));
    addAccount(QStringLiteral("first"), QStringLiteral("p;w$(id)"), QStringLiteral("1"), QStringLiteral("2"));
    addAccount(QStringLiteral("second"), QStringLiteral("y"), QStringLiteral("1"), QStringLiteral("3"));

    dialer.conutionadd();

    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].program, QStringLiteral("rasdial"));
    EXPECT_EQ(runner.runs[0].arguments, (QStringList{QStringLiteral("--password-stdin"), QStringLiteral("--"),
                                                     kBroadband, QStringLiteral("first")}));
    EXPECT_EQ(runner.runs[0].input, QByteArray("p;w$(id)\n")) << "the password goes on standard input";
    EXPECT_EQ(runner.runs[0].command, QStringLiteral("rasdial --password-stdin -- 宽带连接 first"));
    EXPECT_EQ(runner.runs[0].readSize, 256);
    EXPECT_EQ(runner.runs[0].timeLimit, 2);
    EXPECT_FLOAT_EQ(session.gprice, 2.0f);
}

TEST_F(DialerTest, OnlyTheSecondRowInUseIsDialed)
{
    addAccount(QStringLiteral("a"), QStringLiteral("pa"), QStringLiteral("0"), QStringLiteral("2"));
    addAccount(QStringLiteral("b"), QStringLiteral("pb"), QStringLiteral("1"), QStringLiteral("1.5"));
    dialer.conutionadd();
    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].arguments.last(), QStringLiteral("b"));
    EXPECT_EQ(runner.runs[0].input, QByteArray("pb\n"));
    EXPECT_FLOAT_EQ(session.gprice, 1.5f);
}

TEST_F(DialerTest, NoAccountInUseDialsNothingAndKeepsThePrice)
{
    session.gprice = 4.25f;
    addAccount(QStringLiteral("a"), QStringLiteral("pa"), QStringLiteral("0"), QStringLiteral("2"));
    addAccount(QStringLiteral("b"), QStringLiteral("pb"), QStringLiteral("NULL"), QStringLiteral("2"));
    addAccount(QStringLiteral("c"), QStringLiteral("pc"), QStringLiteral("''"), QStringLiteral("2"));
    dialer.conutionadd();
    EXPECT_TRUE(runner.runs.empty());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_FLOAT_EQ(session.gprice, 4.25f);
    EXPECT_TRUE(untouchedHost());
}

TEST_F(DialerTest, EmptyAccountTableSendsTheUserBackToTheLoginWindow)
{
    session.gprice = 4.25f;
    dialer.conutionadd();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, kEmptyTableMessage);
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(boxes.last().buttons, platform::Buttons::Ok);
    EXPECT_EQ(host.loginWindowsShown, 1);
    EXPECT_EQ(host.unloadRequests, 1);
    EXPECT_EQ(host.addtimes, 0);
    EXPECT_TRUE(runner.runs.empty());
    EXPECT_FLOAT_EQ(session.gprice, 4.25f);
}

struct PriceCase {
    const char* name;
    QString price;
    float expected;
};

class DialPrice : public DialerTest, public ::testing::WithParamInterface<PriceCase> {};

TEST_P(DialPrice, BecomesTheSessionPrice)
{
    addAccount(QStringLiteral("a"), QStringLiteral("pa"), QStringLiteral("1"), GetParam().price);
    runner.output = QStringLiteral("远程访问错误 678");
    dialer.conutionadd();
    EXPECT_FLOAT_EQ(session.gprice, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Prices, DialPrice,
                         ::testing::Values(PriceCase{"Zero", QStringLiteral("0"), 0.3f},
                                           PriceCase{"Negative", QStringLiteral("-2"), 0.3f},
                                           PriceCase{"Null", QStringLiteral("NULL"), 0.3f},
                                           PriceCase{"OneAndAHalf", QStringLiteral("1.5"), 1.5f}),
                         [](const ::testing::TestParamInfo<PriceCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(DialerTest, DatabaseFailurePropagatesAndEndsTheDialingMark)
{
    QTemporaryDir empty;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(empty.path()));
    EXPECT_THROW(dialer.conutionadd(), store::StoreError);
    QDir::setCurrent(previous);
    EXPECT_FALSE(dialer.dialing());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DialerTest, DialingIsMarkedWhileTheCommandRuns)
{
    addAccount(QStringLiteral("a"), QStringLiteral("pa"), QStringLiteral("1"), QStringLiteral("1"));
    bool markedDuringRun = false;
    runner.onRun = [&] { markedDuringRun = dialer.dialing(); };
    EXPECT_FALSE(dialer.dialing());
    dialer.conutionadd();
    EXPECT_TRUE(markedDuringRun);
    EXPECT_FALSE(dialer.dialing());
}

// ---- Entry name, line test and hang-up -------------------------------------------------

TEST_F(DialerTest, EntryNameIsTheBroadbandEntryWhenListed)
{
    line.entries = {QStringLiteral("A"), kBroadband, QStringLiteral("C")};
    dialer.discoverEntryName();
    EXPECT_EQ(dialer.entryname(), kBroadband);
}

TEST_F(DialerTest, EntryNameIsTheLastEntryOtherwiseButTheBroadbandEntryIsDialed)
{
    line.entries = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    dialer.discoverEntryName();
    EXPECT_EQ(dialer.entryname(), QStringLiteral("C"));

    addAccount(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("1"), QStringLiteral("1"));
    dialer.conutionadd();
    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(runner.runs[0].command, QStringLiteral("rasdial --password-stdin -- 宽带连接 u"));
}

TEST_F(DialerTest, EmptyPhonebookWatchesTheDialedEntryAndKeepsAnEarlierName)
{
    dialer.discoverEntryName(); // as after a failed listing
    EXPECT_EQ(dialer.entryname(), kBroadband);
    line.connect(kBroadband, QStringLiteral("1"));
    EXPECT_TRUE(dialer.testc()) << "the line the dial brings up is found up, not dropped";

    line.entries = {QStringLiteral("C")};
    dialer.discoverEntryName();
    line.entries.clear();
    dialer.discoverEntryName();
    EXPECT_EQ(dialer.entryname(), QStringLiteral("C"));
}

TEST_F(DialerTest, TestcLooksForTheEntryNameExactly)
{
    line.entries = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    dialer.discoverEntryName();

    EXPECT_FALSE(dialer.testc());
    line.connect(QStringLiteral("A"), QStringLiteral("1"));
    line.connect(QStringLiteral("c"), QStringLiteral("2"));
    EXPECT_FALSE(dialer.testc()) << "names compare case-sensitively";
    line.connect(QStringLiteral("C"), QStringLiteral("3"));
    EXPECT_TRUE(dialer.testc());
}

TEST_F(DialerTest, LineStateTellsUpDownAndUnknownApart)
{
    line.entries = {kBroadband};
    dialer.discoverEntryName();
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Down);
    line.connect(kBroadband, QStringLiteral("1"));
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Up);
    EXPECT_TRUE(dialer.testc());

    line.unknown = true;
    EXPECT_EQ(dialer.lineState(), tallyon::LineState::Unknown) << "a failed query is no drop";
    EXPECT_FALSE(dialer.testc());
    EXPECT_THROW(dialer.hangUpAll(), platform::LineUnknown) << "reported like any failure";
    EXPECT_TRUE(line.hungUp.isEmpty());
}

TEST_F(DialerTest, HangUpEndsEveryActiveConnection)
{
    line.entries = {kBroadband};
    dialer.discoverEntryName();
    line.connect(QStringLiteral("VPN"), QStringLiteral("7"));
    line.connect(kBroadband, QStringLiteral("9"));
    dialer.hangUpAll();
    EXPECT_EQ(line.hungUp, (QStringList{QStringLiteral("7"), QStringLiteral("9")}));
    EXPECT_TRUE(line.active.isEmpty());
}

} // namespace
