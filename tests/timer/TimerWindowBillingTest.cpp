// Every minute the line was up is billed: ticks held behind a box, ticks whose timeouts
// never came while a write waited for a locked file, and the minutes of a row that could
// not be written before the line dropped and was dialed again.
#include <chrono>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>


#include "platform/MinuteTimer.h"
#include "store/Connection.h"
#include "tests/doubles/FileWriteLock.h"
#include "tests/timer/TimerFixture.h"

using namespace std::chrono_literals;
using platform::Answer;
using tallyon::Form3;

namespace timertest {
namespace {

using WriteLock = doubles::FileWriteLock;

class Billing : public TimerWindowTest {
protected:
    void SetUp() override
    {
        TimerWindowTest::SetUp();
        savedTimeout = store::Connection::busyTimeout();
        savedWindow = store::Connection::retryWindow();
    }
    void TearDown() override
    {
        store::Connection::setBusyTimeout(savedTimeout);
        store::Connection::setRetryWindow(savedWindow);
    }
    // The window gets a real Qt timer ticking every `ms` milliseconds.
    void useRealTimer(int ms)
    {
        services.makeTimer = [this, ms] {
            auto made = std::make_unique<platform::QtTimer>(ms);
            realTimer = made.get();
            return made;
        };
    }
    qlonglong itime() const { return db.scalar(QStringLiteral("select itime from internet")).toLongLong(); }

    platform::QtTimer* realTimer = nullptr;
    std::chrono::milliseconds savedTimeout{};
    std::chrono::milliseconds savedWindow{};
};

TEST_F(Billing, EveryTickHeldBehindAnOpenQuestionCountsWhenItCloses)
{
    Form3& form = load();
    boxes.onShow = [&](const doubles::ShownBox& box) {
        if (box.prompt != kDisconnect)
            return;
        for (int i = 0; i < 19; ++i) // the question stays open for 19 minutes
            tick();
    };
    boxes.answerNext(Answer::Cancel);
    form.Command1->click();

    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|20|09:30:00|09:49:00")})
        << "19 held minutes in one write, at the time of that write";
    EXPECT_EQ(form.Text1->text(), QStringLiteral("20"));
    EXPECT_EQ(boxes.prompts(), QStringList{kDisconnect}) << "no tick ran inside the question";
}

TEST_F(Billing, ARealTimerFiringWhileAQuestionStaysOpenLosesNoMinute)
{
    useRealTimer(40);
    Form3& form = load();
    qlonglong elapsedWhileOpen = 0;
    boxes.onShow = [&](const doubles::ShownBox& box) {
        if (box.prompt != kDisconnect)
            return;
        QTest::qWait(600); // the box's own event loop runs; the timer keeps firing
        elapsedWhileOpen = realTimer->intervalsElapsed();
    };
    boxes.answerNext(Answer::Cancel);
    form.Command1->click();

    ASSERT_NE(realTimer, nullptr);
    EXPECT_GE(elapsedWhileOpen, 10);
    // Every interval that fell due while the question was open, and none that had not
    // fallen due when the held tick ran.
    EXPECT_GE(itime(), 1 + elapsedWhileOpen);
    EXPECT_LE(itime(), 1 + realTimer->intervalsElapsed());
    EXPECT_EQ(boxes.prompts(), QStringList{kDisconnect});
}

TEST_F(Billing, TicksThatFellDueWhileAWriteWaitedForALockedFileAreCounted)
{
    useRealTimer(40);
    store::Connection::setBusyTimeout(3000ms);
    load();
    ASSERT_NE(realTimer, nullptr);
    {
        WriteLock lock(db.path());
        lock.releaseAfter(700ms);
        // The next tick's write waits on the window's thread; no timeout comes meanwhile.
        QTest::qWait(60);
    }
    // Let the timer deliver the tick it owes, then stop counting.
    QTest::qWait(100);
    realTimer->stop();
    const qlonglong elapsedBeforeStop = itime() - 1;
    EXPECT_GE(elapsedBeforeStop, 15) << "the 700 ms wait alone holds 17 intervals of 40 ms";
    EXPECT_EQ(form().Text1->text().toLongLong(), itime());
}

TEST_F(Billing, AFailedWriteIsReportedAndItsMinutesGoIntoTheNextGoodWrite)
{
    store::Connection::setBusyTimeout(20ms);
    store::Connection::setRetryWindow(60ms);
    Form3& form = load();
    WriteLock lock(db.path());
    boxes.onShow = [&](const doubles::ShownBox&) {
        tick(); // the report stays open for three minutes, and the file is free again
        tick();
        tick();
        lock.release();
    };
    tick();
    boxes.onShow = nullptr;
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("locked"))) << boxes.last().prompt.toStdString();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|5|09:30:00|09:34:00")})
        << "the three held minutes counted once the report closed, and written then";
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|6|09:30:00|09:35:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("6"));
}

} // namespace
} // namespace timertest

namespace timertest {
namespace {

TEST_F(Billing, ALineServiceThatDoesNotAnswerIsNeitherBilledNorADrop)
{
    Form3& form = load();
    tick();                          // 2
    line.unknown = true;
    tick();                          // not known: no minute, no question
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:00")});
    line.unknown = false;
    tick();                          // known again: this tick's minute
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|3|09:30:00|09:33:00")});

    line.unknown = true;
    tick();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(form.Text1->text(), QStringLiteral("3"));
    boxes.answerNext(Answer::Cancel);   // no redial: the program ends
    tick();                             // a second unknown in a row is a drop
    EXPECT_EQ(boxes.prompts(), (QStringList{kDropped, kRedial}));
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|3|09:30:00|09:33:00")});
}

} // namespace
} // namespace timertest
