// The timer window's controls and what its load does in each case.

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <QTest>

#include "tests/timer/TimerFixture.h"

using platform::Buttons;
using tallyon::Form3;
namespace windows = tallyon::windows;

namespace timertest {
namespace {

TEST_F(TimerWindowTest, TabGoesThroughTheButtonsThenTheMinutes)
{
    Form3& form = load();
    EXPECT_FALSE(form.windowIcon().isNull());

    // The next control that the Tab key reaches.
    const auto nextTab = [](QWidget* w) {
        do
            w = w->nextInFocusChain();
        while ((w->focusPolicy() & Qt::TabFocus) == 0);
        return w;
    };
    EXPECT_EQ(nextTab(form.Command1), form.Command2);
    EXPECT_EQ(nextTab(form.Command2), form.Command3);
    EXPECT_EQ(nextTab(form.Command3), form.Text1);
    EXPECT_EQ(nextTab(form.Text1), form.Command1);

    // Title on top, then Label1 Text1 Label3 in one row, then the three buttons.
    form.showNormal();
    form.adjustSize();
    QCoreApplication::processEvents();
    const auto top = [&](QWidget* w) { return w->mapTo(&form, QPoint(0, 0)).y(); };
    const auto left = [&](QWidget* w) { return w->mapTo(&form, QPoint(0, 0)).x(); };
    EXPECT_LT(top(form.Label2) + form.Label2->height(), top(form.Text1) + 1);
    EXPECT_LT(top(form.Text1) + form.Text1->height(), top(form.Command1) + 1);
    EXPECT_LT(left(form.Label1), left(form.Text1));
    EXPECT_LT(left(form.Text1), left(form.Label3));
    EXPECT_LT(left(form.Command1), left(form.Command2));
    EXPECT_LT(left(form.Command2), left(form.Command3));
    for (QWidget* w : {static_cast<QWidget*>(form.Label1), static_cast<QWidget*>(form.Label2),
                       static_cast<QWidget*>(form.Label3), static_cast<QWidget*>(form.Command1),
                       static_cast<QWidget*>(form.Command2), static_cast<QWidget*>(form.Command3)})
        EXPECT_GE(w->width(), w->sizeHint().width()) << "clipped";
}

TEST_F(TimerWindowTest, LineUpAtLoadStartsARowWithoutDialing)
{
    line.connect();
    Form3& form = load();

    EXPECT_TRUE(runner.runs.empty());
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("1"));
    EXPECT_TRUE(form.started());
    EXPECT_EQ(forms.find(windows::login), nullptr) << "the load closes the login window";
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(timer->interval(), 60000);
    EXPECT_TRUE(timer->running());
    EXPECT_EQ(tray->adds, 1);
    EXPECT_TRUE(boxes.shown.empty());

    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("2"));
}

TEST_F(TimerWindowTest, DialAtLoadStartsARowAndHides)
{
    Form3& form = load();

    EXPECT_EQ(dialed(), QStringList{QStringLiteral("rasdial --password-stdin -- 宽带连接 acct")});
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("1"));
    EXPECT_TRUE(form.started());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(tray->adds, 1);
    EXPECT_FLOAT_EQ(session.gprice, 2.0f);
}

TEST_F(TimerWindowTest, DialRefusedAtLoadShowsOneAndWritesNoRow)
{
    refuseWith691();
    Form3& form = load();

    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("你的用户名和密码有问题，请你查证后再试！")});
    EXPECT_EQ(form.Text1->text(), QStringLiteral("1"));
    EXPECT_TRUE(usageRows().isEmpty());
    EXPECT_FALSE(form.started());
    EXPECT_EQ(tray->adds, 1);

    // The first tick finds the line down.
    const auto before = boxes.shown.size();
    tick();
    EXPECT_EQ(promptsSince(before), (QStringList{kDropped, kRedial}));
    EXPECT_EQ(program.endedAtOnce, 1) << "Cancel at the redial question ends the program";
}

TEST_F(TimerWindowTest, NobodyLoggedInSendsTheUserBackToTheLoginWindow)
{
    session.guser.clear();
    Form3& form = load();

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("你还没有登录"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(boxes.last().buttons, Buttons::Ok);
    EXPECT_NE(forms.find(windows::login), nullptr);
    EXPECT_EQ(windowLog.count(QStringLiteral("show Form1")), 2) << "a fresh login window is shown";
    EXPECT_TRUE(runner.runs.empty());
    EXPECT_EQ(form.Text1->text(), QStringLiteral("0"));
    EXPECT_FALSE(form.isVisible());
    EXPECT_NE(forms.find(windows::timer), nullptr);
    EXPECT_EQ(tray->adds, 1);
    EXPECT_TRUE(timer->running());
}

TEST_F(TimerWindowTest, AMissingDatabaseIsReportedAndTheWindowLetsItselfGo)
{
    QFile::remove(db.path());
    load();

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(forms.find(windows::timer), nullptr);
    EXPECT_NE(forms.find(windows::login), nullptr) << "the user goes on in the login window";
    EXPECT_TRUE(runner.runs.empty());
    EXPECT_EQ(tray->adds, 0);
}

} // namespace
} // namespace timertest

namespace timertest {
namespace {

// The user was sent back to a fresh login window; the next log-in (the login window
// loads the timer window again) dials and times as a first one does.
TEST_F(TimerWindowTest, ALogInFromTheFreshLoginWindowDialsAndTimesAsAFirstOne)
{
    db.exec(QStringLiteral("delete from knumber"));
    Form3& form = load();
    EXPECT_TRUE(runner.runs.empty());
    ASSERT_NE(forms.find(tallyon::windows::login), nullptr);

    // An administrator adds an account meanwhile; the user logs in again.
    db.exec(QStringLiteral("insert into knumber (kuser, kpassw, useyn, price) values ('acct', 'pw', 1, 2)"));
    EXPECT_EQ(&load(), &form);
    EXPECT_EQ(runner.runs.size(), 1u) << "the log-in dialed";
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|1|09:30:00|09:30:00")});
    EXPECT_EQ(forms.find(tallyon::windows::login), nullptr) << "the login window closed, as at a first load";
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:00")});

    // Logged in and timing: a further load changes nothing.
    load();
    EXPECT_EQ(runner.runs.size(), 1u);
}

TEST_F(TimerWindowTest, ALogInAfterNobodyWasLoggedInDials)
{
    session.guser.clear();
    load();
    EXPECT_TRUE(runner.runs.empty());
    session.guser = QStringLiteral("bob");
    load();
    EXPECT_EQ(runner.runs.size(), 1u);
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("bob|2026-12-07|1|09:30:00|09:30:00")});
}

} // namespace
} // namespace timertest

namespace timertest {
namespace {

TEST_F(TimerWindowTest, ASlowDialShowsItsProgressInAWindowOfItsOwn)
{
    QStringList shownLines;
    bool visibleAtOnce = true;
    bool visibleLater = false;
    QString elapsed;
    whileDialing = [&] {
        auto* window = form().dialWindow();
        ASSERT_NE(window, nullptr);
        visibleAtOnce = window->isVisible();
        QTest::qWait(1400);   // rasdial is still at work; the window's own timer runs
        visibleLater = window->isVisible();
        shownLines = window->lines();
        elapsed = window->elapsedText();
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Pomerix"));
    };
    load();
    EXPECT_FALSE(visibleAtOnce) << "a dial of under a second shows nothing";
    EXPECT_TRUE(visibleLater);
    EXPECT_EQ(shownLines, (QStringList{QStringLiteral("正在连接到 宽带连接..."), QStringLiteral("已连接 宽带连接。"),
                                       QStringLiteral("命令已完成。")}));
    EXPECT_EQ(elapsed, QStringLiteral("已用 1 秒"));
    EXPECT_EQ(form().dialWindow(), nullptr) << "gone once the dial ended";
}

QPushButton* cancelButton(const QWidget& dialWindow)
{
    for (QPushButton* button : dialWindow.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("取消"))
            return button;
    }
    return nullptr;
}

TEST_F(TimerWindowTest, CancelInTheDialWindowEndsAHangingDialAndHangsUp)
{
    whileDialing = [this] {
        tallyon::DialWindow* window = form().dialWindow();
        ASSERT_TRUE(QTest::qWaitFor([window] { return window->isVisible(); }, 3000));
        QTest::mouseClick(cancelButton(*window), Qt::LeftButton);
    };
    load(); // rasdial brings the line up, then hangs until it is cancelled
    EXPECT_EQ(promptsSince(0), QStringList{QStringLiteral("拨号已取消。")});
    EXPECT_FALSE(line.up());
    EXPECT_TRUE(usageRows().isEmpty());
    EXPECT_EQ(runner.runs.at(0).timeout, std::chrono::seconds(180)) << "and every dial has a time limit";
}

TEST(DialWindow, KeyboardReachesItsCancel)
{
    tallyon::DialWindow window(QStringLiteral("宽带连接")), escaped(QStringLiteral("宽带连接"));
    window.show();
    QPushButton* button = cancelButton(window);
    EXPECT_EQ(button->accessibleName(), QStringLiteral("取消拨号"));
    QTest::keyClick(button, Qt::Key_Tab);
    QTest::keyClick(window.focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(window.cancelled()) << "Enter in the progress lines cancels nothing";
    QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
    QTest::keyClick(window.focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(window.cancelled()) << "Tab reaches the button, Enter clicks it";
    escaped.show();
    QTest::keyClick(&escaped, Qt::Key_Escape);
    EXPECT_TRUE(escaped.cancelled());
}

TEST_F(TimerWindowTest, TheLogHasOneLinePerDialHangUpAndDropAndNoPassword)
{
    Form3& form = load();
    line.drop();
    refuseWith691();
    boxes.answerNext(platform::Answer::Ok);      // redial: refused
    boxes.answerNext(platform::Answer::Cancel);  // keep the timer
    tick();
    line.connect();
    boxes.answerNext(platform::Answer::Ok);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    EXPECT_EQ(events, (QStringList{QStringLiteral("拨号 宽带连接，帐号 acct：已连接"),
                                   QStringLiteral("线路断开：宽带连接"),
                                   QStringLiteral("拨号 宽带连接，帐号 acct：失败，错误 691"),
                                   QStringLiteral("挂断 宽带连接（连接 2）")}));
    for (const QString& event : events)
        EXPECT_FALSE(event.contains(QStringLiteral("pw"))) << event.toStdString();
}

} // namespace
} // namespace timertest
