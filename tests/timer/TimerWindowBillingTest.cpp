// Every minute the line was up is billed with the real timer: ticks held behind a box,
// and ticks whose timeouts never came while a write waited for a locked file. The rule
// itself is checked by the oracle (BillOracleTest.cpp).
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

} // namespace
} // namespace timertest
