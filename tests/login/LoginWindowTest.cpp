#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QFile>
#include <QTest>

#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "main_program/common/WindowNames.h"
#include "main_program/login/LoginWindow.h"
#include "rules/Minutes.h"
#include "store/DatabaseAddress.h"
#include "tests/doubles/EnvironmentVariable.h"
#include "tests/doubles/FakeClock.h"
#include "tests/doubles/FakeOtherCopy.h"
#include "tests/doubles/RecordingLauncher.h"
#include "tests/doubles/RecordingProgram.h"
#include "tests/doubles/ScriptedMessageBoxes.h"
#include "tests/doubles/StandInForm.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/doubles/WindowServices.h"

using platform::Buttons;

namespace {

class LoginWindow : public ::testing::Test, protected doubles::WithTempDatabase, protected doubles::WindowServices {
protected:
    QStringList opened;

    void SetUp() override
    {
        forms.define(tallyon::windows::login, [this] { return new tallyon::Form1(services); });
        doubles::defineStandIns(forms, boxes,
                                {tallyon::windows::administration, tallyon::windows::timer,
                                 tallyon::windows::history},
                                opened);
        db.exec(QStringLiteral(
            "insert into users values ('admin','root',1),('ann','Secret',2),('tom','t3',3),"
            "('barred','b4',4),('zero','z',0),('five','f',5),('O''Brien','irish',2)"));
    }

    tallyon::Form1* showLogin()
    {
        auto& form = forms.show(tallyon::windows::login);
        return static_cast<tallyon::Form1*>(&form);
    }

    void type(tallyon::Form1* form, const QString& name, const QString& password)
    {
        form->Text1->setText(name);
        form->Text2->setText(password);
    }
};

TEST_F(LoginWindow, StartsEmptyAndHidesThePassword)
{
    auto* form = showLogin();
    EXPECT_TRUE(form->Text1->text().isEmpty());
    EXPECT_EQ(form->Text2->echoMode(), QLineEdit::Password);
}

TEST_F(LoginWindow, BothBoxesEmptyWarnsWithoutTouchingTheDatabase)
{
    auto* form = showLogin();
    QFile::remove(db.path());
    form->Command1->click();
    form->Command3->click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    for (const auto& box : boxes.shown) {
        EXPECT_EQ(box.prompt, QStringLiteral("用户名和密码不能为空!"));
        EXPECT_EQ(box.title, QStringLiteral("警告"));
        EXPECT_EQ(box.buttons, Buttons::Ok);
    }
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(LoginWindow, AWrongPasswordIsRefusedAndTheFocusGoesBackToTheName)
{
    auto* form = showLogin();
    QApplication::setActiveWindow(form);
    for (const QString& password : {QStringLiteral("secret"), QStringLiteral(""), QStringLiteral("Secret ")}) {
        type(form, QStringLiteral("ann"), password);
        form->Text2->setFocus();
        form->Command1->click();
        EXPECT_EQ(boxes.last().prompt, QStringLiteral("登录失败,用户名和密码不正确！"));
        EXPECT_EQ(boxes.last().title, QStringLiteral("登录错误"));
        EXPECT_TRUE(form->Text1->hasFocus());
        EXPECT_EQ(form->Text2->text(), password) << "the boxes keep their text";
    }
    type(form, QStringLiteral("nobody"), QStringLiteral("x"));
    form->Command3->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("登录查询失败,用户名和密码不正确！"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("登录错误"));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(session.guser.isEmpty());
}

TEST_F(LoginWindow, EachPermissionCodeOpensItsWindow)
{
    struct Case {
        QString name, password;
        QStringList expected;
    };
    const QList<Case> cases = {
        {QStringLiteral("admin"), QStringLiteral("root"), {QStringLiteral("load Form4"), QStringLiteral("show Form4")}},
        {QStringLiteral("ann"), QStringLiteral("Secret"), {QStringLiteral("load Form3")}},
        {QStringLiteral("tom"), QStringLiteral("t3"), {QStringLiteral("load Form3")}},
        {QStringLiteral("zero"), QStringLiteral("z"), {}},
        {QStringLiteral("five"), QStringLiteral("f"), {}},
    };
    for (const auto& c : cases) {
        opened.clear();
        auto* form = showLogin();
        type(form, c.name, c.password);
        form->Command1->click();
        EXPECT_EQ(opened, c.expected) << c.name.toStdString();
        EXPECT_EQ(session.guser, c.name);
        EXPECT_TRUE(boxes.shown.empty()) << c.name.toStdString();
        for (const auto& name : {tallyon::windows::administration, tallyon::windows::timer})
            forms.unload(name);
    }
    EXPECT_FALSE(program.ended());
}

TEST_F(LoginWindow, CodeFourIsRefusedAndEndsTheProgramButMayStillQuery)
{
    auto* form = showLogin();
    type(form, QStringLiteral("barred"), QStringLiteral("b4"));
    form->Command1->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("对不起，你的权限不够，或者你的用户名没有通过管理员审核！"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(LoginWindow, CodeFourMayStillQueryItsHistory)
{
    auto* form = showLogin();
    type(form, QStringLiteral("barred"), QStringLiteral("b4"));
    form->Command3->click();
    EXPECT_EQ(opened, (QStringList{QStringLiteral("load form2"), QStringLiteral("show form2")}));
}

TEST_F(LoginWindow, AnUnknownCodeLeavesTheWindowAndALaterQueryStillWorks)
{
    // A fraction typed with sqlite3 is no code either: 1.4 is not the administrator's 1.
    db.exec(QStringLiteral("insert into users values ('nocode','n',NULL),('textcode','t','abc'),('huge','h',65537),"
                           "('frac','f',1.4),('half','h',0.5),('fractext','f','1.4')"));
    for (const QString& name : {QStringLiteral("nocode"), QStringLiteral("textcode"), QStringLiteral("huge"),
                                QStringLiteral("frac"), QStringLiteral("half"), QStringLiteral("fractext")}) {
        opened.clear();
        auto* form = showLogin();
        type(form, name, name.left(1));
        form->Command1->click();
        EXPECT_TRUE(opened.isEmpty()) << name.toStdString();
        EXPECT_TRUE(boxes.shown.empty()) << name.toStdString();
        EXPECT_TRUE(form->isVisible());
        form->Command3->click();
        EXPECT_TRUE(opened.contains(QStringLiteral("show form2")));
        forms.unload(tallyon::windows::history);
    }
}

TEST_F(LoginWindow, APasswordWithNoValueIsAnEmptyPassword)
{
    db.exec(QStringLiteral("insert into users values ('nopass',NULL,2)"));
    auto* form = showLogin();
    type(form, QStringLiteral("nopass"), QStringLiteral("anything"));
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("登录失败,用户名和密码不正确！"));
    type(form, QStringLiteral("nopass"), QString());
    form->Command1->click();
    EXPECT_EQ(opened, QStringList{QStringLiteral("load Form3")});
}

TEST_F(LoginWindow, OnlyTheFirstOfTwoRowsWithTheSameNameCounts)
{
    db.exec(QStringLiteral("insert into users values ('twin','one',2),('twin','two',1)"));
    auto* form = showLogin();
    type(form, QStringLiteral("twin"), QStringLiteral("two"));
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("登录失败,用户名和密码不正确！"));
    type(form, QStringLiteral("twin"), QStringLiteral("one"));
    form->Command1->click();
    EXPECT_EQ(opened, QStringList{QStringLiteral("load Form3")});
}

TEST_F(LoginWindow, QuotesInTypedTextAreJustText)
{
    auto* form = showLogin();
    type(form, QStringLiteral("O'Brien"), QStringLiteral("irish"));
    form->Command1->click();
    EXPECT_EQ(opened, QStringList{QStringLiteral("load Form3")});
    EXPECT_EQ(session.guser, QStringLiteral("O'Brien"));

    opened.clear();
    forms.unload(tallyon::windows::timer);
    form = showLogin();
    type(form, QStringLiteral("x' or '1'='1"), QStringLiteral("x' or '1'='1"));
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("登录失败,用户名和密码不正确！"));
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(LoginWindow, TheUsageReminderAppearsAbove500HoursOnlyForCodeThree)
{
    auto* form = showLogin();
    db.exec(QStringLiteral("insert into internet values ('tom','2026-12-01',30000,'08:00:00','08:00:00'),"
                           "('ann','2026-12-01',40000,'08:00:00','08:00:00')"));
    type(form, QStringLiteral("tom"), QStringLiteral("t3"));
    form->Command1->click();
    EXPECT_TRUE(boxes.shown.empty()) << "exactly 500 hours is no reminder";

    forms.unload(tallyon::windows::timer);
    db.exec(QStringLiteral("insert into internet values ('tom','2026-12-02',1,'09:00:00','09:00:00'),"
                           "('tom','2026-12-02',NULL,'09:00:00','09:00:00')"));
    opened.clear();
    form = showLogin();
    type(form, QStringLiteral("tom"), QStringLiteral("t3"));
    boxes.onShow = [&](const doubles::ShownBox&) { EXPECT_TRUE(opened.isEmpty()) << "reminder first"; };
    form->Command1->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("请注意，你现在已经使用500.016666666667小时！！"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(opened, QStringList{QStringLiteral("load Form3")});

    boxes.onShow = nullptr;
    forms.unload(tallyon::windows::timer);
    opened.clear();
    form = showLogin();
    type(form, QStringLiteral("ann"), QStringLiteral("Secret"));
    form->Command1->click();
    EXPECT_EQ(boxes.shown.size(), 1u) << "code 2 gets no reminder";
}

TEST_F(LoginWindow, AReminderTotalBeyondSixtyFourBitsSaysSoAndStillReminds)
{
    db.exec(QStringLiteral("insert into internet values ('tom','2026-12-01',9223372036854775807,'08:00:00','08:00:00'),"
                           "('tom','2026-12-01',1,'08:00:00','08:00:00')"));
    auto* form = showLogin();
    type(form, QStringLiteral("tom"), QStringLiteral("t3"));
    form->Command1->click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].prompt, horavo::totalTooLargeText());
    EXPECT_TRUE(boxes.shown[1].prompt.startsWith(QStringLiteral("请注意，你现在已经使用1.53722867280913E+17小时")))
        << boxes.shown[1].prompt.toStdString();
    EXPECT_EQ(opened, QStringList{QStringLiteral("load Form3")});
}

TEST_F(LoginWindow, ASecondCopyEndsAtOnceWithoutShowingTheWindow)
{
    otherCopy = doubles::FakeOtherCopy(true);
    auto& form = forms.show(tallyon::windows::login);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("程序已经运行！！！"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_EQ(otherCopy.asksToShow, 1) << "the running copy is asked to show its window";
    EXPECT_FALSE(form.isVisible()) << "the login window is never shown";
}

// The copy that runs, asked by another start, brings back its timer window when loaded
// (hidden behind its icon), else the window open.
TEST_F(LoginWindow, AnotherStartBringsTheTimerWindowOrElseTheOpenWindowForward)
{
    auto* form = showLogin();
    form->showMinimized();
    otherCopy.askedByAnotherStart();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());

    QWidget& timer = forms.load(tallyon::windows::timer);
    ASSERT_FALSE(timer.isVisible());
    otherCopy.askedByAnotherStart();
    EXPECT_TRUE(timer.isVisible());
    EXPECT_EQ(otherCopy.asksToShow, 0);
}

TEST_F(LoginWindow, ALockThatCannotBeMadeIsSaidAndTheWindowStillOpens)
{
    otherCopy.failure = QStringLiteral("无法在文件夹“/run/user/1000”中建立程序的锁文件（没有在那里写入的权限），无法确认程序是否已经在运行。");
    auto* form = showLogin();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, otherCopy.failure);
    EXPECT_EQ(program.endedAtOnce, 0);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(LoginWindow, CancelEndsAtOnceAndRegisterStartsSignovaEachTime)
{
    auto* form = showLogin();
    form->Command4->click();
    form->Command4->click();
    EXPECT_EQ(launcher.started, (QStringList{QStringLiteral("signova"), QStringLiteral("signova")}));
    QTest::mouseClick(form->Label4, Qt::LeftButton);
    ASSERT_EQ(launcher.started.size(), 3);
    EXPECT_EQ(launcher.started.last(), QStringLiteral("https://horavo.example.org/"));
    EXPECT_FALSE(program.ended());
    form->Command2->click();
    EXPECT_EQ(program.endedAtOnce, 1);
}

TEST_F(LoginWindow, AProgramThatCannotStartIsReported)
{
    launcher.failing.insert(QStringLiteral("signova"));
    auto* form = showLogin();
    form->Command4->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("signova")));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(LoginWindow, AMissingDatabaseIsReportedAndTheWindowStays)
{
    auto* form = showLogin();
    QFile::remove(db.path());
    type(form, QStringLiteral("ann"), QStringLiteral("Secret"));
    form->Command1->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("horavo.mdb")));
    EXPECT_TRUE(boxes.last().prompt.contains(db.folder()));
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(program.ended());
}

// The box says why the room's database cannot be reached, and never with its password,
// though libpq quotes back the whole address it cannot read.
TEST_F(LoginWindow, AnUnreachableServerIsReportedWithoutThePasswordOfItsAddress)
{
    const doubles::EnvironmentVariable room(store::kDatabaseVariable, "postgresql://seat:S3cr3t-PW@[::1/room");
    auto* form = showLogin();
    type(form, QStringLiteral("ann"), QStringLiteral("Secret"));
    form->Command1->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("postgresql://seat:***@[::1/room"))) << boxes.last().prompt.toStdString();
    EXPECT_FALSE(boxes.last().prompt.contains(QStringLiteral("S3cr3t"))) << boxes.last().prompt.toStdString();
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(LoginWindow, TypedAtTheKeyboard)
{
    auto* form = showLogin();
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    EXPECT_TRUE(form->Text1->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ann"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(form->Text2->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Secret"));
    EXPECT_EQ(form->Text2->displayText(), QStringLiteral("******"));

    const QList<QWidget*> order = {form->Command1, form->Command2, form->Command3, form->Command4};
    for (QWidget* expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected) << expected->objectName().toStdString();
    }
    form->Text2->setFocus();
    QTest::keyClick(form->Text2, Qt::Key_Return);
    EXPECT_EQ(opened, QStringList{QStringLiteral("load Form3")});
    form = showLogin();
    QTest::keyClick(form->Text1, Qt::Key_Escape);
    EXPECT_EQ(program.endedAtOnce, 1);
}

} // namespace

namespace {

// What a screen reader is told about each control of the login window.
TEST_F(LoginWindow, AScreenReaderNamesEveryControlAndSeesAWindow)
{
    auto* form = showLogin();
    const auto nameOf = [](QWidget* widget) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        return accessible ? accessible->text(QAccessible::Name) : QString();
    };
    const auto roleOf = [](QWidget* widget) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        return accessible ? accessible->role() : QAccessible::NoRole;
    };
    EXPECT_EQ(roleOf(form), QAccessible::Window);
    EXPECT_EQ(nameOf(form), QStringLiteral("登录界面 by Zendrik"));
    EXPECT_EQ(nameOf(form->Text1), QStringLiteral("用户名："));
    EXPECT_EQ(nameOf(form->Text2), QStringLiteral("密  码："));
    for (QPushButton* button : {form->Command1, form->Command2, form->Command3, form->Command4})
        EXPECT_EQ(nameOf(button), button->text());
    EXPECT_EQ(roleOf(form->Label4), QAccessible::Link);
    EXPECT_EQ(nameOf(form->Label4), QStringLiteral("Zendrik 出品"));

    // The link takes the focus with Tab, and Enter or Space opens it.
    QTest::keyClick(form->Label4, Qt::Key_Return);
    QTest::keyClick(form->Label4, Qt::Key_Space);
    EXPECT_EQ(launcher.started, (QStringList{QStringLiteral("https://horavo.example.org/"),
                                             QStringLiteral("https://horavo.example.org/")}));
    EXPECT_NE(form->Label4->focusPolicy() & Qt::TabFocus, 0);
    // And through the accessibility action, as a screen reader presses it.
    QAccessible::queryAccessibleInterface(form->Label4)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    EXPECT_EQ(launcher.started.size(), 3);
}

} // namespace
