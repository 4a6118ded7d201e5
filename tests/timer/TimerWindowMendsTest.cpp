// Where the timer window behaves more soundly than a literal reading would: disconnect
// without a row, ticks held out of other handlers, a row removed meanwhile, writes that
// fail, and a desktop without a notification area.

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "store/Connection.h"
#include "tests/doubles/FileWriteLock.h"
#include "tests/timer/TimerFixture.h"

using platform::Answer;
using tallyon::Form3;

using namespace std::chrono_literals;

namespace timertest {
namespace {

const QString kOtherRow = QStringLiteral("bob|2026-12-06|40|08:00:00|08:39:00");

TEST_F(TimerWindowTest, DisconnectWithoutARowOfThisRunWritesNothing)
{
    db.exec(QStringLiteral("insert into internet (iuser, idate, itime, stime, xtime) "
                           "values ('bob', '2026-12-06', 40, '08:00:00', '08:39:00')"));
    refuseWith691();
    Form3& form = load();
    line.connect(); // up by other means
    boxes.answerNext(Answer::Ok);
    QTest::mouseClick(form.Command1, Qt::LeftButton);

    EXPECT_EQ(line.hungUp.size(), 1);
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_EQ(usageRows(), QStringList{kOtherRow}) << "another run's row is not touched";
}

TEST_F(TimerWindowTest, ATickDueDuringATickRunsOnceRightAfterIt)
{
    Form3& form = load();
    line.drop();
    refuseWith691();
    int nestedFires = 0;
    boxes.onShow = [&](const doubles::ShownBox& box) {
        // Ticks fall due while the first box of the tick is open.
        if (box.prompt == kDropped && nestedFires == 0) {
            nestedFires = 3;
            timer->fire();
            timer->fire();
            timer->fire();
        }
    };
    boxes.answerNext(Answer::Ok);     // redial
    boxes.answerNext(Answer::Cancel);                                                // stay
    // The refused redial looks once for a connection to hang up.
    line.upAtNextTests = {false, false, false, true, true};
    tick();

    // One dialogue, no tick inside it; the ticks that fell due while the line was down
    // count nothing when they are released, though the line is found up again.
    EXPECT_EQ(boxes.prompts(), (QStringList{kDropped, kRedial, QStringLiteral("你的用户名和密码有问题，请你查证后再试！"),
                                            kCloseTimer}));
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("1"));
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:32:00")})
        << "the next tick with the line up counts its minute";
}

TEST_F(TimerWindowTest, ATickDueDuringTheDialAtLoadRunsAfterTheLoad)
{
    QStringList seenDuringDial;
    whileDialing = [&] {
        timer->fire();
        timer->fire();
        seenDuringDial = usageRows();
    };
    Form3& form = load();

    EXPECT_TRUE(seenDuringDial.isEmpty()) << "no tick inside the dial";
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")})
        << "what fell due before the line came up counts nothing; the dial restarts the minute";
    EXPECT_EQ(form.Text1->text(), QStringLiteral("1"));
    EXPECT_EQ(tray->adds, 1);
}

TEST_F(TimerWindowTest, ATickDueDuringARedialRunsAfterTheTick)
{
    load();
    line.drop();
    boxes.answerNext(Answer::Ok);
    int listingsDuringDial = -1;
    whileDialing = [&] {
        const int before = line.listings;
        timer->fire();
        listingsDuringDial = line.listings - before;
    };
    tick();
    whileDialing = nullptr;

    EXPECT_EQ(listingsDuringDial, 0) << "the tick did not test the line inside the dial";
    // The redial's row, advanced by its own tick; the tick held during the dial fell due
    // while the line was down, and the dial restarted the minute.
    EXPECT_EQ(usageRows().at(1), QStringLiteral("alice|2026-12-07|2|09:31:00|09:31:00"));
}

TEST_F(TimerWindowTest, AFailingWriteIsReportedOnceAndLosesNoMinute)
{
    Form3& form = load();
    db.exec(QStringLiteral("create trigger jam before update on internet "
                           "begin select raise(abort, 'disk I/O error'); end"));
    tick();
    tick();
    tick();
    ASSERT_EQ(boxes.shown.size(), 1u) << "one box for the whole failure";
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("disk I/O error")));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(form.Text1->text(), QStringLiteral("4"));
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});

    db.exec(QStringLiteral("drop trigger jam"));
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|5|09:30:00|09:34:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("5"));

    // A new failure after a good write is reported again.
    db.exec(QStringLiteral("create trigger jam before update on internet "
                           "begin select raise(abort, 'disk I/O error'); end"));
    tick();
    EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST_F(TimerWindowTest, AConnectionWhoseRowCannotBeStartedIsHungUp)
{
    const auto timeout = store::Connection::busyTimeout();
    const auto window = store::Connection::retryWindow();
    store::Connection::setBusyTimeout(1ms);
    store::Connection::setRetryWindow(1ms);
    doubles::FileWriteLock lock(db.path());   // another writer keeps the file
    line.connect();
    Form3& form = load();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.startsWith(QStringLiteral("无法开始记录本次上网时间，线路已经挂断。")))
        << boxes.last().prompt.toStdString();
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("database is locked")));
    EXPECT_FALSE(line.up()) << "no connection stays up without its row";
    EXPECT_FALSE(form.started());
    ASSERT_FALSE(events.isEmpty());
    EXPECT_TRUE(events.last().startsWith(QStringLiteral("无法开始记录"))) << events.last().toStdString();
    lock.release();
    EXPECT_TRUE(usageRows().isEmpty());
    store::Connection::setBusyTimeout(timeout);
    store::Connection::setRetryWindow(window);
}

TEST_F(TimerWindowTest, DisconnectThatCannotWriteEndsOnlyOnceItsMinutesAreWritten)
{
    Form3& form = load();
    tick();
    tick();   // 3
    db.exec(QStringLiteral("create trigger jam before update on internet "
                           "begin select raise(abort, 'disk I/O error'); end"));
    boxes.onShow = [&](const doubles::ShownBox& box) {
        if (box.prompt == kDisconnect)
            tick();   // the question stays open a minute: 4
    };
    boxes.answerNext(Answer::Ok);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    boxes.onShow = nullptr;
    EXPECT_FALSE(line.up());
    EXPECT_EQ(program.endedAtOnce, 0) << "minutes would be lost";
    EXPECT_TRUE(boxes.last().prompt.startsWith(QStringLiteral("还有 1 分钟的上网时间没有记入数据库")))
        << boxes.last().prompt.toStdString();
    const std::size_t shown = boxes.shown.size();
    tick();   // still failing: tried again, said once
    EXPECT_EQ(program.endedAtOnce, 0);
    EXPECT_EQ(boxes.shown.size(), shown);

    db.exec(QStringLiteral("drop trigger jam"));
    tick();
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|4|09:30:00|09:33:00")});
}

TEST_F(TimerWindowTest, ARowFoundUpAfterAFailedDialHoldsOnlyItsOwnMinutes)
{
    refuseWith691();
    boxes.onShow = [&](const doubles::ShownBox& box) {
        if (box.prompt != QStringLiteral("你的用户名和密码有问题，请你查证后再试！"))
            return;
        for (int i = 0; i < 30; ++i) // the dial's box stays open half an hour
            tick();
        line.connect();              // the router brings the line up meanwhile
    };
    load();
    boxes.onShow = nullptr;
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|10:00:00|10:00:00")})
        << "nothing before the row's start counts";
}

TEST_F(TimerWindowTest, ALogInAgainWritesTheOldRowByItsKeyNeverByItsPlace)
{
    db.exec(QStringLiteral("insert into internet (iuser, idate, stime, xtime, itime) "
                           "values ('bob', '2026-12-06', '08:00:00', '08:10:00', 10)"));
    line.connect();
    load();                          // alice's row, after bob's
    db.exec(QStringLiteral("create trigger jam before update on internet "
                           "begin select raise(abort, 'disk I/O error'); end"));
    tick();                          // her second minute cannot be written
    line.drop();
    db.exec(QStringLiteral("delete from knumber"));
    boxes.answerNext(Answer::Ok);    // redial: no account, so the login window again
    tick();
    db.exec(QStringLiteral("drop trigger jam"));
    db.exec(QStringLiteral("delete from internet where iuser = 'bob'"));   // records cleared
    db.exec(QStringLiteral("insert into knumber (kuser, kpassw, useyn, price) values ('acct', 'pw', 1, 2)"));
    session.guser = QStringLiteral("carol");
    load();                          // carol logs in; the dial brings the line up
    tick();
    EXPECT_EQ(usageRows(), (QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:00"),
                                        QStringLiteral("carol|2026-12-07|2|09:32:00|09:33:00")}));
}

TEST_F(TimerWindowTest, ASecondLookThatGetsNoAnswerIsNeitherBilledNorADrop)
{
    Form3& form = load();
    tick();                                       // 2
    line.unknownAt = {line.listings + 2};         // the next tick's second look
    tick();
    EXPECT_TRUE(boxes.shown.empty()) << "no question while the line may be up";
    EXPECT_EQ(form.Text1->text(), QStringLiteral("2"));
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|3|09:30:00|09:33:00")});
}

TEST_F(TimerWindowTest, WithoutANotificationAreaTheWindowWaitsMinimized)
{
    desktopHasNotificationArea = false;
    Form3& form = load();
    EXPECT_EQ(tray->adds, 1) << "added all the same: a notification area that appears later docks it";
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isMinimized());

    form.showNormal();
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    EXPECT_TRUE(form.isMinimized());
    EXPECT_TRUE(form.isVisible());

    form.showNormal();
    form.close();
    EXPECT_TRUE(form.isMinimized());
    EXPECT_TRUE(form.isVisible());
}

TEST_F(TimerWindowTest, WithoutANotificationAreaALineUpAtLoadStillShowsTheWindow)
{
    desktopHasNotificationArea = false;
    line.connect();
    Form3& form = load();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isMinimized());
}

} // namespace
} // namespace timertest
