#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTest>

#include <chrono>
#include <thread>

#include <sqlite3.h>

#include "platform/widgets/Forms.h"
#include "registration_program/RegistrationWindow.h"
#include "tests/doubles/RecordingProgram.h"
#include "tests/doubles/ScriptedMessageBoxes.h"
#include "tests/doubles/TempDatabase.h"

namespace {

class Registration : public ::testing::Test {
protected:
    doubles::TempDatabase db;
    doubles::RecordingProgram program;
    doubles::ScriptedMessageBoxes boxes{QStringLiteral("注册")};
    platform::Forms forms{program};
    signova::Form1* form = nullptr;

    void SetUp() override
    {
        db.exec(QStringLiteral("insert into users values ('ann','a',2)"));
        forms.define(QStringLiteral("Form1"), [this] { return new signova::Form1(forms, boxes, program); });
        form = static_cast<signova::Form1*>(&forms.show(QStringLiteral("Form1")));
    }

    void fill(const QString& name, const QString& password, const QString& again)
    {
        form->Text1->setText(name);
        form->Text3->setText(password);
        form->Text2->setText(again);
    }

    qlonglong userRows() const { return db.scalar(QStringLiteral("select count(*) from users")).toLongLong(); }
};

TEST_F(Registration, BothPasswordBoxesHideWhatIsTyped)
{
    EXPECT_EQ(form->Text3->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form->Text2->echoMode(), QLineEdit::Password);
}

TEST_F(Registration, AnyEmptyBoxIsRefusedWithoutTouchingTheDatabase)
{
    QFile::rename(db.path(), db.path() + QStringLiteral(".away"));
    const QList<QStringList> inputs = {{{}, {}, {}}, {{}, QStringLiteral("p"), QStringLiteral("p")},
                                       {QStringLiteral("n"), {}, QStringLiteral("p")},
                                       {QStringLiteral("n"), QStringLiteral("p"), {}}};
    for (const auto& input : inputs) {
        fill(input[0], input[1], input[2]);
        form->Command1->click();
        EXPECT_EQ(boxes.last().prompt, QStringLiteral("对不起用户名和密码都不能为空！"));
        EXPECT_EQ(boxes.last().title, QStringLiteral("提示"));
    }
    EXPECT_EQ(boxes.shown.size(), 4u) << "no database failure was met";
    QFile::rename(db.path() + QStringLiteral(".away"), db.path());
}

TEST_F(Registration, PasswordsThatDifferEvenInLetterCaseAreRefused)
{
    fill(QStringLiteral("bob"), QStringLiteral("Pass"), QStringLiteral("pass"));
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("你两次输入的密码不一样请重新输入！"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("注册"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("pass")) << "nothing is cleared";
    EXPECT_EQ(userRows(), 1);
}

TEST_F(Registration, AnExistingNameIsRefusedAndAFreeOneThenRegisters)
{
    QApplication::setActiveWindow(form);
    fill(QStringLiteral("ann"), QStringLiteral("x"), QStringLiteral("x"));
    form->Command2->setFocus();
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("该用户已经存在，请重新输入！"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("注册"));
    EXPECT_TRUE(form->Text1->hasFocus());
    EXPECT_EQ(userRows(), 1);
    EXPECT_FALSE(program.ended());

    form->Text1->setText(QStringLiteral("bob"));
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("注册成功！"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("注册成功"));
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_EQ(db.rows(QStringLiteral("select iuser, passw, quanxian from users where iuser='bob'")),
              QStringList{QStringLiteral("bob|x|3")});
}

TEST_F(Registration, NamesAreStoredExactlyAsTyped)
{
    fill(QStringLiteral(" O'Brien "), QStringLiteral("p w"), QStringLiteral("p w"));
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("注册成功！"));
    EXPECT_EQ(db.rows(QStringLiteral("select '['||iuser||']', passw, quanxian from users where quanxian=3")),
              QStringList{QStringLiteral("[ O'Brien ]|p w|3")});
}

TEST_F(Registration, ANameWithAnInvisibleCharacterIsRefusedInABox)
{
    fill(QStringLiteral("ann\u200b"), QStringLiteral("x"), QStringLiteral("x"));
    form->Command1->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("“ann\\u200b”：用户名不能含有控制字符或格式字符")))
        << boxes.last().prompt.toStdString();
    EXPECT_FALSE(program.ended());
    EXPECT_EQ(userRows(), 1);
}

TEST_F(Registration, AnExistingNameWithAQuoteIsFoundLikeAnyOther)
{
    db.exec(QStringLiteral("insert into users values ('O''Brien','a',3)"));
    fill(QStringLiteral("O'Brien"), QStringLiteral("x"), QStringLiteral("x"));
    form->Command1->click();
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("该用户已经存在，请重新输入！"));
}

TEST_F(Registration, CancelEndsWithoutWriting)
{
    fill(QStringLiteral("carl"), QStringLiteral("c"), QStringLiteral("c"));
    form->Command2->click();
    EXPECT_EQ(program.endedAtOnce, 1);
    EXPECT_EQ(userRows(), 1);
}

TEST_F(Registration, AMissingDatabaseIsReportedAndNothingIsWritten)
{
    QFile::remove(db.path());
    fill(QStringLiteral("dora"), QStringLiteral("d"), QStringLiteral("d"));
    form->Command1->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.last().prompt.contains(QStringLiteral("horavo.mdb")));
    EXPECT_FALSE(program.ended());
    EXPECT_FALSE(QFile::exists(db.path())) << "the program never creates the file";
}

TEST_F(Registration, TypedAtTheKeyboardWithEnterAsTheDefaultButton)
{
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    EXPECT_TRUE(form->Text1->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("eve"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(form->Text3->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("pw"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(form->Text2->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("pw"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->Command1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->Command2);
    form->Text2->setFocus();
    QTest::keyClick(form->Text2, Qt::Key_Return);
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("注册成功！"));
    EXPECT_EQ(db.scalar(QStringLiteral("select quanxian from users where iuser='eve'")).toInt(), 3);
}

TEST_F(Registration, ClosingTheWindowEndsTheProgram)
{
    form->close();
    EXPECT_EQ(program.endedNormally, 1);
    EXPECT_EQ(userRows(), 1);
}

} // namespace

namespace {

// Another program registering the same name at the same moment: it holds the file's
// write lock with its row not yet committed while signova tests the name.
TEST_F(Registration, ANameAnotherProgramIsRegisteringMeanwhileIsRefusedNotAddedTwice)
{
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(db.path()).constData(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; insert into users values ('carol','o',3)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::thread committer([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    fill(QStringLiteral("carol"), QStringLiteral("pw"), QStringLiteral("pw"));
    form->Command1->click();
    committer.join();
    sqlite3_close_v2(other);

    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("该用户已经存在，请重新输入！")});
    EXPECT_EQ(db.scalar(QStringLiteral("select count(*) from users where iuser='carol'")).toInt(), 1);
    EXPECT_FALSE(program.ended());
}

} // namespace
