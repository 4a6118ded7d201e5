// The minute tick: every transition of the timer window's states.

#include <QLineEdit>

#include "tests/timer/TimerFixture.h"

using platform::Answer;
using platform::Buttons;
using tallyon::Form3;

namespace timertest {
namespace {

// From Recording, line up at both tests: the row advances and the minutes show.
// From Waiting, line up at both tests: a new row is started and advanced to 2.
TEST_F(TimerWindowTest, WaitingAndUpStartsARowAtTwo)
{
    refuseWith691();
    Form3& form = load();
    ASSERT_FALSE(form.started());
    const auto before = boxes.shown.size();

    line.connect();
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:31:00|09:31:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("2"));
    EXPECT_TRUE(form.started());
    EXPECT_EQ(boxes.shown.size(), before);
}

// From No user, line up at both tests: a row is started too (with the empty user).
TEST_F(TimerWindowTest, NoUserAndUpStartsARowAtTwo)
{
    session.guser.clear();
    load();
    line.connect();
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("|2026-12-07|2|09:31:00|09:31:00")});
}

// From Dropped with a row started, line back up without a dial: the same row goes on,
// the minutes while it was down are not counted.
TEST_F(TimerWindowTest, DroppedWithARowAndBackUpAdvancesIt)
{
    load();
    line.upAtNextTests = {false, false}; // this tick: down, down
    boxes.answerNext(Answer::Ok);        // redial
    refuseWith691();
    boxes.answerNext(Answer::Cancel);    // stay
    tick();
    ASSERT_EQ(program.endedAtOnce, 0);
    ASSERT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});

    line.connect();
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:32:00")});
}

// Any state, line down, Cancel at "是否重新连接？": the program ends, no closing question.
TEST_F(TimerWindowTest, DownAndNoRedialEndsAtOnce)
{
    load();
    line.drop();
    tick();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].prompt, kDropped);
    EXPECT_EQ(boxes.shown[0].title, QStringLiteral("连接失败"));
    EXPECT_EQ(boxes.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(boxes.shown[1].prompt, kRedial);
    EXPECT_EQ(boxes.shown[1].title, QStringLiteral("询问"));
    EXPECT_EQ(boxes.shown[1].buttons, Buttons::OkCancel);
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});

    // Nothing of the window runs after the end.
    timer->fire();
    EXPECT_EQ(boxes.shown.size(), 2u);
}

// Line down, OK, the redial succeeds: a new row at 2; the old row stays as it was.
// Line down, OK, the redial fails: the closing question; OK ends the program.
TEST_F(TimerWindowTest, DownAndFailedRedialThenCloseEnds)
{
    load();
    line.drop();
    refuseWith691();
    boxes.answerNext(Answer::Ok); // redial
    boxes.answerNext(Answer::Ok); // close the timer
    tick();
    EXPECT_EQ(boxes.prompts(), (QStringList{kDropped, kRedial, QStringLiteral("你的用户名和密码有问题，请你查证后再试！"),
                                            kCloseTimer}));
    EXPECT_EQ(boxes.last().title, QStringLiteral("询问"));
    EXPECT_EQ(boxes.last().buttons, Buttons::OkCancel);
    EXPECT_EQ(program.endedAtOnce, 1);
}

// ... and Cancel stays Dropped; the next tick starts the same dialogue again.
TEST_F(TimerWindowTest, DownAndFailedRedialThenStayAsksAgainNextTick)
{
    load();
    line.drop();
    refuseWith691();
    boxes.answerNext(Answer::Ok);
    boxes.answerNext(Answer::Cancel);
    tick();
    EXPECT_EQ(program.endedAtOnce, 0);
    const auto before = boxes.shown.size();
    boxes.answerNext(Answer::Ok);
    boxes.answerNext(Answer::Cancel);
    tick();
    EXPECT_EQ(promptsSince(before), (QStringList{kDropped, kRedial, QStringLiteral("你的用户名和密码有问题，请你查证后再试！"),
                                                 kCloseTimer}));
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});
}

// A redial whose output names no error while the line stays down starts a row that
// keeps 1, and the closing question follows in the same tick.
TEST_F(TimerWindowTest, RedialWithoutErrorButLineDownKeepsOne)
{
    refuseWith691();
    load();
    dialConnects = false;
    runner.output = QStringLiteral("正在连接到 宽带连接...\n");
    boxes.answerNext(Answer::Ok);
    boxes.answerNext(Answer::Cancel);
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:31:00|09:31:00")});
    EXPECT_EQ(boxes.last().prompt, kCloseTimer);
}

// Recording, up at the first test and down at the second: the closing question.
TEST_F(TimerWindowTest, DropBetweenTheTwoTestsAsksToClose)
{
    Form3& form = load();
    line.upAtNextTests = {true, false};
    boxes.answerNext(Answer::Cancel);
    tick();
    EXPECT_EQ(boxes.prompts(), QStringList{kCloseTimer});
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("1"));
    EXPECT_EQ(program.endedAtOnce, 0);
}

TEST_F(TimerWindowTest, SuccessfulDialSetsTheMinuteInterval)
{
    load();
    const int setsAtLoad = timer->intervalSets;
    line.drop();
    boxes.answerNext(Answer::Ok);
    tick();
    EXPECT_GT(timer->intervalSets, setsAtLoad);
    EXPECT_EQ(timer->interval(), 60000);
}

} // namespace
} // namespace timertest
