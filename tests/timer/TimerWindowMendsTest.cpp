// Where the timer window behaves more soundly than a literal reading would: disconnect
// without a row, ticks held out of other handlers, a row removed meanwhile, writes that
// fail, and a desktop without a notification area.

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/timer/TimerFixture.h"

using platform::Answer;
using tallyon::Form3;

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

TEST_F(TimerWindowTest, ARemovedRowGoesOnInANewRowFromThatMinute)
{
    Form3& form = load();
    tick(); // 2
    db.exec(QStringLiteral("delete from internet")); // an administrator clears the records
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:32:00|09:32:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("1"));
    EXPECT_TRUE(boxes.shown.empty());

    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:32:00|09:33:00")});
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

TEST_F(TimerWindowTest, AFailingStartIsWrittenByTheNextTick)
{
    db.exec(QStringLiteral("create trigger jam before insert on internet "
                           "begin select raise(abort, 'database is locked'); end"));
    Form3& form = load();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(usageRows().isEmpty());
    EXPECT_TRUE(form.started());

    db.exec(QStringLiteral("drop trigger jam"));
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:00")});
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(TimerWindowTest, DisconnectCarriesMinutesNotYetWritten)
{
    Form3& form = load();
    db.exec(QStringLiteral("create trigger jam before update on internet "
                           "begin select raise(abort, 'disk I/O error'); end"));
    tick();
    tick();
    db.exec(QStringLiteral("drop trigger jam"));
    boxes.answerNext(Answer::Ok);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|3|09:30:00|09:32:00")});
    EXPECT_EQ(program.endedAtOnce, 1);
}

TEST_F(TimerWindowTest, DisconnectThatCannotWriteStillEnds)
{
    Form3& form = load();
    db.exec(QStringLiteral("create trigger jam before update on internet "
                           "begin select raise(abort, 'disk I/O error'); end"));
    boxes.answerNext(Answer::Ok);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    EXPECT_EQ(boxes.shown.size(), 2u) << "the question, then the failure";
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_FALSE(line.up());
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
